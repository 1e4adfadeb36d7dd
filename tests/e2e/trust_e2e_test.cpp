// What a production line relies on: a failure is never reported as success,
// every failure says why once on stderr with an exit code that tells whether
// the keypad was erased, and a damaged file is never installed unasked.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <sstream>
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

std::string Sha256Of(const std::string& path) { return RunProgram({"/usr/bin/sha256sum", path}).output.substr(0, 64); }

// The log's lines: each a whole object, and the file ends with its line's end.
std::vector<std::string> LogLines(const std::string& path) {
    std::string text = ReadAll(path);
    EXPECT_TRUE(text.empty() || text.back() == '\n') << "a half line is left at the end";
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        EXPECT_TRUE(line.front() == '{' && line.back() == '}') << line;
        lines.push_back(line);
    }
    return lines;
}

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
    EXPECT_TRUE(Has(r.output, "orbix-flash: The keypad accepted the firmware but did not confirm the restart: power it "
                              "off and on, then test the connection.\n"))
        << r.output;
    EXPECT_FALSE(Has(r.output, "holds no valid")) << r.output;

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

// A new build copied over the file while two keypads are erased: both get the
// bytes read at the start, and the records name those bytes, not the new ones.
TEST_F(TrustE2E, AFileReplacedMidRunChangesNeitherWhatIsSentNorTheRecord) {
    std::string file = SmallFirmware();
    std::string readAtStart = Sha256Of(file);
    std::string otherDevice;
    std::filesystem::create_directories(dir / "second");
    auto second = LaunchSim(dir / "second", {"--erase-ms", "300"}, otherDevice);
    std::string device = StartSim({"--erase-ms", "300"});
    std::string log = (dir / "units.jsonl").string();
    CProcess flash({FLASH, "--json", "--log", log, "-y", "-p", device, "-p", otherDevice, "firmware", file});
    ASSERT_TRUE(flash.WaitForOutput("Erasing firmware sector", 10, 2));
    std::filesystem::copy_file(Write("new.s", SMALL_FIRMWARE), file, std::filesystem::copy_options::overwrite_existing);
    ProcessResult r = flash.Wait(30);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    StopSim();
    second->Signal(SIGTERM);
    second->Wait(5);
    for (const std::filesystem::path& folder : {dir, dir / "second"})
        EXPECT_EQ(ReadAll(folder / "firmware.bin"), "ORBIX keypad firmware, twenty-nine bytes");
    std::vector<std::string> lines = LogLines(log);
    ASSERT_EQ(lines.size(), 2u);
    for (const std::string& line : lines) EXPECT_TRUE(Has(line, "\"sha256\":\"" + readAtStart + "\"")) << line;
}

// The port typed where the file goes, a pipe, /dev/zero, a file too large:
// each refused at once, unread, and nothing sent.
TEST_F(TrustE2E, ADeviceAPipeOrAFileTooLargeIsRefusedAtOnce) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master) | unlockpt(master), 0);
    std::string terminal = ptsname(master);
    std::string fifo = (dir / "fifo.s").string();
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::string hugeScreens = Write("huge.bin", "");
    std::filesystem::resize_file(hugeScreens, 2ull << 30);  // sparse: no disk taken
    std::string hugeFirmware = Write("huge.s", "S003");
    std::filesystem::resize_file(hugeFirmware, (64ull << 20) + 1);
    struct Case {
        const char* command;
        std::string file;
        std::string reason;
    };
    const Case cases[] = {
        {"firmware", "/dev/zero", "orbix-flash: /dev/zero: not a regular file\n"},
        {"firmware", terminal, "orbix-flash: " + terminal + ": not a regular file\n"},
        {"screens", fifo, "orbix-flash: " + fifo + ": not a regular file\n"},
        {"screens", hugeScreens,
         "orbix-flash: File is too large: 2147483648 bytes, more than the 66846720 the screens area can hold.\n"},
        {"firmware", hugeFirmware,
         "orbix-flash: File is too large: 67108865 bytes, more than the 67108864 a firmware file may have.\n"},
    };
    std::string device = StartSim({});
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        ProcessResult r = Flash({"--port", device, "--yes", "--trace", c.command, c.file}, 5);
        EXPECT_EQ(r.exitCode, 2) << r.output;
        EXPECT_LT(r.seconds, 1.0);
        EXPECT_TRUE(Has(r.output, c.reason)) << r.output;
        EXPECT_FALSE(Has(r.output, "] ->")) << "a frame was sent";
    }
    close(master);
}

// Each record goes out in one write and is on the disk (fsync) before the
// next; on a disk that fills up each is whole or absent, each lost one is said
// with its reason, and the exit code says records were lost.
TEST_F(TrustE2E, ARecordIsWholeOrAbsentAndALostOneIsNeverSilent) {
    std::string trace = (dir / "calls").string(), traced = (dir / "traced.jsonl").string();
    ProcessResult r = RunProgram({"/usr/bin/strace", "-f", "-e", "trace=openat,write,fsync", "-o", trace, FLASH,
                                  "--simulate=2", "--yes", "--quiet", "--log", traced, "firmware", SmallFirmware()});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    std::string calls = ReadAll(trace);
    size_t open = calls.find("\"" + traced + "\"");
    ASSERT_NE(open, std::string::npos);
    std::string fd = calls.substr(calls.find("= ", open) + 2, calls.find('\n', open) - calls.find("= ", open) - 2);
    for (const char* name : {" write(", " fsync("}) {
        std::string call = name + fd;  // then ", " or ")", or " <unfinished ...>" on a busy thread
        size_t count = 0;
        for (size_t at = 0; (at = calls.find(call, at)) != std::string::npos; ++at)
            count += !std::isdigit(static_cast<unsigned char>(calls[at + call.size()]));
        EXPECT_EQ(count, 2u) << call;
    }
    EXPECT_EQ(LogLines(traced).size(), 2u);

    std::filesystem::path disk = dir / "disk";
    std::filesystem::create_directories(disk);
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=12k") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
    struct Unmount {
        std::string path;
        ~Unmount() { umount(path.c_str()); }
    } unmount{disk.string()};
    // Two of its three pages taken, and most of the third by a line already logged.
    std::string filler = (disk / "filler").string();
    std::ofstream(filler) << std::string(8192, 'x');
    std::string log = (disk / "units.jsonl").string();
    std::ofstream(log) << "{\"note\":\"" << std::string(3500, '.') << "\"}\n";

    r = Flash({"--simulate=3", "--yes", "--json", "--log", log, "firmware", SmallFirmware()}, 60);
    EXPECT_EQ(r.exitCode, 4) << r.output;
    std::string lostLine = "\norbix-flash: " + log + ": the result could not be written: ";
    size_t lost = 0;
    for (size_t at = 0; (at = ("\n" + r.output).find(lostLine, at)) != std::string::npos; ++at) ++lost;
    size_t logged = LogLines(log).size() - 1;
    EXPECT_GE(lost, 1u);
    EXPECT_EQ(logged + lost, 3u) << r.output;
    // Every update's own outcome is still there.
    size_t ok = 0;
    for (size_t at = 0; (at = r.output.find("\"outcome\":\"ok\"", at)) != std::string::npos; ++at) ++ok;
    EXPECT_EQ(ok, 3u);

    // Room again: the next record is a line of its own.
    std::filesystem::remove(filler);
    r = Flash({"--simulate", "--yes", "--log", log, "firmware", SmallFirmware()}, 30);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(LogLines(log).size(), logged + 2);

    r = Flash({"--simulate", "--quiet", "--log", "/dev/full", "test"}, 30);
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.output, "orbix-flash: /dev/full: the result could not be written: No space left on device\n");
}
