// What a production line relies on: a failure is never reported as success,
// every failure says why once on stderr with an exit code that tells whether
// the keypad was erased, and a damaged file is never installed unasked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <regex>
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

    // Only the execute reply lost (reply 12): the firmware is in, and said so.
    device = StartSim({"--silent-after", "11"});
    r = FlashStderr({"--port", device, "--yes", "--stall-timeout", "1", "firmware", file}, 20);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.output,
              "orbix-flash: No reply from ORBIX for 1 second (execute command)\norbix-flash: The keypad "
              "accepted the firmware but did not confirm the restart: power it off and on, then test the "
              "connection.\n");

    // The file is read before the port is opened: a missing file is the
    // reason even on a port that does not exist.
    std::string missing = (dir / "gone.s").string();
    r = FlashStderr({"--port", "/dev/ttyNOSUCH0", "--yes", "firmware", missing});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.output,
              "orbix-flash: File could not be opened.\norbix-flash: " + missing + ": No such file or directory\n");
    r = FlashStderr({"--port", "/dev/ttyNOSUCH0", "--yes", "firmware", file});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_EQ(r.output,
              "orbix-flash: COM Port: /dev/ttyNOSUCH0 not available\norbix-flash: /dev/ttyNOSUCH0: no such device\n");

    // Not the image pinned: refused before the port is opened, the keypad's flash as it was.
    std::string found = RunProgram({"/usr/bin/sha256sum", file}).output.substr(0, 64), expected(64, '0');
    std::unique_ptr<CProcess> keypad = LaunchSim(dir / "pinned", {}, device);
    for (const std::vector<std::string>& ports : {std::vector<std::string>{"--port", device},
                                                  std::vector<std::string>{"--port", device, "--port", "/dev/null"}}) {
        std::vector<std::string> args = ports;
        args.insert(args.end(), {"--yes", "--expect-sha256", expected, "firmware", file});
        r = FlashStderr(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.output, "orbix-flash: " + file + " is not the image expected: its SHA-256 is " + found +
                                ", the one expected is " + expected + "; nothing was sent\n");
    }
    keypad->Signal(SIGTERM);
    EXPECT_EQ(keypad->Wait(5).exitCode, 0);
    ASSERT_TRUE(std::filesystem::exists(dir / "pinned" / "firmware.bin"));
    EXPECT_EQ(ReadAll(dir / "pinned" / "firmware.bin"), "") << "the keypad was written to";
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

// A new build copied over the file while two keypads are erased: the records
// name the bytes read at the start, which are what was sent.
TEST_F(TrustE2E, AFileReplacedMidRunChangesNeitherWhatIsSentNorTheRecord) {
    std::string file = SmallFirmware(), log = (dir / "units.jsonl").string();
    std::string readAtStart = RunProgram({"/usr/bin/sha256sum", file}).output.substr(0, 64);
    CProcess flash({FLASH, "--simulate=2", "--json", "--log", log, "-y", "firmware", file});
    ASSERT_TRUE(flash.WaitForOutput("Erasing firmware sector", 10, 2));
    std::filesystem::copy_file(Write("new.s", SMALL_FIRMWARE), file, std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(flash.Wait(30).exitCode, 0) << flash.Output();
    std::string records = ReadAll(log);  // both name the bytes read at the start
    EXPECT_NE(records.find(readAtStart, records.find(readAtStart) + 1), std::string::npos) << records;
}

// The port typed where the file goes, a pipe, /dev/zero, a 2 GiB file:
// each refused at once, unread.
TEST_F(TrustE2E, ADeviceAPipeOrAFileTooLargeIsRefusedAtOnce) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    std::string fifo = (dir / "fifo.bin").string(), huge = Write("huge.bin", "");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::filesystem::resize_file(huge, 2ull << 30);  // sparse: no disk taken
    std::string device = StartSim({});
    for (const std::string& file : {std::string("/dev/zero"), std::string(ptsname(master)), fifo, huge}) {
        ProcessResult r = Flash({"--port", device, "--yes", "screens", file}, 5);
        EXPECT_EQ(r.exitCode, 2) << r.output;
        EXPECT_LT(r.seconds, 1.0);
        EXPECT_TRUE(Has(r.output, file == huge ? "File is too large: 2147483648 bytes, more than the 66846720 the "
                                                 "screens area can hold.\n"
                                               : file + ": not a regular file\n"))
            << r.output;
    }
    close(master);
}

// Each record goes out in one write and is on the disk (fsync) before the
// next; on a disk that fills up each is whole or absent, each lost one is said
// with its reason, and the exit code says records were lost.
TEST_F(TrustE2E, ARecordIsWholeOrAbsentAndALostOneIsNeverSilent) {
    auto count = [](const std::string& text, const std::string& pattern) {
        std::regex re(pattern);
        return std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator());
    };
    std::string calls = (dir / "calls").string(), log = (dir / "disk/units.jsonl").string();
    ProcessResult r = RunProgram({"/usr/bin/strace", "-f", "-P", calls + ".jsonl", "-e", "trace=write,fsync", "-o",
                                  calls, FLASH, "--simulate=2", "-q", "--log", calls + ".jsonl", "test"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(count(ReadAll(calls), " write\\("), 2);
    EXPECT_EQ(count(ReadAll(calls), " fsync\\("), 2);

    std::filesystem::create_directories(dir / "disk");
    if (mount("tmpfs", (dir / "disk").c_str(), "tmpfs", 0, "size=12k") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
    std::ofstream(dir / "disk/filler") << std::string(8192, 'x');               // two of its three pages
    std::ofstream(log) << "{\"note\":\"" << std::string(3500, '.') << "\"}\n";  // most of the third
    r = Flash({"--simulate=3", "--yes", "--json", "--log", log, "firmware", SmallFirmware()}, 60);
    EXPECT_EQ(r.exitCode, 4) << r.output;
    std::string lines = ReadAll(log);
    EXPECT_EQ(lines.back(), '\n') << "a half line is left for the next record to join";
    // Each unit's end is on the disk or said lost (an update its begin record could not precede is not started).
    EXPECT_EQ(count(lines, "\"type\":\"result\"") +
                  count(r.output, "orbix-flash: " + log + ": the result could not be written: "),
              3)
        << r.output;
    umount((dir / "disk").c_str());
    r = Flash({"--simulate", "--quiet", "--log", "/dev/full", "test"}, 30);
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.output, "orbix-flash: /dev/full: the result could not be written: No space left on device\n");

    // A FIFO whose reader has stopped reading, its pipe full: the record waits a few seconds, not for good.
    const std::string fifo = (dir / "records.fifo").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK), writer = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const std::string block(4096, 'x');
    while (write(writer, block.data(), block.size()) > 0) {
    }
    r = Flash({"--simulate", "--quiet", "--log", fifo, "test"}, 30);
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_TRUE(Has(r.output, fifo + ": the result could not be written: nothing took it for 5 s")) << r.output;
    close(writer);
    close(reader);
}
