// What a production line relies on: a failure is never reported as success,
// every failure says why once on stderr with an exit code that tells whether
// the keypad was erased, and a damaged file is never installed unasked.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "program_test.h"

namespace {

class TrustE2E : public ProgramTest {
protected:
    // A one-chunk firmware file made by srec_cat; returns its path.
    std::string SmallFirmware() {
        std::string bin = Write("small.bin", "ORBIX keypad firmware, twenty-nine bytes");
        std::string s = (dir / "small.s").string();
        EXPECT_EQ(RunProgram({"/usr/bin/srec_cat", bin, "-binary", "-o", s, "-motorola", "-header", "",
                              "-disable=exec_start_address"})
                      .exitCode,
                  0);
        return s;
    }
};

const std::string LEFT_ERASED =
    "orbix-flash: The keypad holds no valid firmware and stays in its update mode: run the update again.\n";

}  // namespace

TEST_F(TrustE2E, EachFailureSaysWhyOnceOnStderrAndTheExitCodeTellsWhatWasLeft) {
    std::string file = SmallFirmware();
    // Nothing erased: the memory ID never came.
    std::string device = StartSim({"--silent-after", "1"});
    ProcessResult r = FlashStderr({"--port", device, "--yes", "firmware", file}, 20);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.output, "orbix-flash: Timed out Getting firmware memory ID\n");

    // Failed in the data phase: erased, and said so.
    device = StartSim({"--fail-command", "fw-data"});
    r = FlashStderr({"--port", device, "--yes", "firmware", file}, 20);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.output, "orbix-flash: Got \"Failed\" back from keypad.\n" + LEFT_ERASED);
    // --quiet prints that and nothing else.
    device = StartSim({"--fail-command", "fw-data"});
    r = Flash({"--port", device, "--yes", "--quiet", "firmware", file}, 20);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.output, "orbix-flash: Got \"Failed\" back from keypad.\n" + LEFT_ERASED);

    // The file is read before the port is opened: a missing file is the
    // reason even on a port that does not exist.
    std::string missing = (dir / "gone.s").string();
    r = FlashStderr({"--port", "/dev/ttyNOSUCH0", "--yes", "firmware", missing});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.output, "orbix-flash: File could not be opened.\norbix-flash: " + missing +
                            ": No such file or directory\n");
    r = FlashStderr({"--port", "/dev/ttyNOSUCH0", "--yes", "firmware", file});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.output,
              "orbix-flash: COM Port: /dev/ttyNOSUCH0 not available\norbix-flash: /dev/ttyNOSUCH0: no such device\n");
}

// Each of these makes the keypad answer some frame twice, so the loader runs
// a reply ahead; the Failed to the last command must still end it.
TEST_F(TrustE2E, AFailedAfterARepeatedReplyIsReportedNotHidden) {
    std::string firmware = SmallFirmware();
    std::string screens = Write("screens.bin", std::string(40961, '\x5A'));
    struct Case {
        std::vector<std::string> sim;
        const char* command;
        std::string file;
    };
    const Case cases[] = {
        {{"--reply-delay-ms", "600", "--firmware-last-sector", "6", "--fail-command", "execute"}, "firmware", firmware},
        {{"--duplicate", "2", "--fail-command", "execute"}, "firmware", firmware},
        {{"--erase-ms", "600", "--screens-last-sector", "1", "--fail-command", "scr-data", "--fail-occurrence", "331"},
         "screens",
         screens},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sim[0]);
        std::string device = StartSim(c.sim);
        ProcessResult r = Flash({"--port", device, "--yes", c.command, c.file}, 30);
        EXPECT_EQ(r.exitCode, 3) << r.output;
        EXPECT_NE(r.output.find("Got \"Failed\" back from keypad."), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("update complete"), std::string::npos) << r.output;
    }
}

TEST_F(TrustE2E, LineEndingsAndDamagedRecords) {
    // CR-only line ends: the whole srec_cat file goes in.
    std::string text = ReadAll(std::string(ORBIX_TEST_DATA_DIR) + "/s1_gaps.s");
    std::replace(text.begin(), text.end(), '\n', '\r');
    std::string device = StartSim({});
    ProcessResult r = Flash({"--port", device, "--yes", "firmware", Write("cr.s", text)}, 20);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    StopSim();
    EXPECT_TRUE(ReadAll(dir / "firmware.bin") == ReadAll(std::string(ORBIX_TEST_DATA_DIR) + "/s1_gaps.bin"));

    // One wrong sum: refused before anything is sent, then installed as read
    // with --force.
    std::string good = ReadAll(SmallFirmware());
    std::string damaged = good;
    size_t second = damaged.find("\nS1") + 1;
    size_t lineEnd = damaged.find('\n', second);
    damaged[lineEnd - 1] = damaged[lineEnd - 1] == '0' ? '1' : '0';
    std::string path = Write("damaged.s", damaged);
    device = StartSim({});
    r = Flash({"--port", device, "--yes", "--trace", "firmware", path});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("orbix-flash: Bad checksum in SRecord on line 2\n"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("] ->"), std::string::npos) << "a frame was sent";
    r = Flash({"--port", device, "--yes", "--force", "firmware", path});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    StopSim();
    EXPECT_EQ(ReadAll(dir / "firmware.bin"), "ORBIX keypad firmware, twenty-nine bytes");
}

// A lost erase reply is resent after 6 s: a shorter stall guard must not cut
// that wait short.
TEST_F(TrustE2E, AShortStallTimeoutSurvivesALostEraseReply) {
    std::string device = StartSim({"--drop", "4"});
    ProcessResult r = Flash({"--port", device, "--yes", "--stall-timeout", "3", "firmware", SmallFirmware()}, 30);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_GT(r.seconds, 6.0);
}
