// orbix-flash against orbix-keypad-sim over a pseudo-terminal: the real
// programs, the real port layer.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "program_test.h"

namespace {

class FlashE2E : public ProgramTest {};

}  // namespace

TEST_F(FlashE2E, FirmwareUpdateLeavesTheImageInTheKeypad) {
    std::string device = StartSim({});
    std::string file = EXAMPLES + "/demo-firmware.s";
    ProcessResult r = Flash({"--port", device, "--yes", "firmware", file});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Firmare update complete"), std::string::npos) << r.output;
    StopSim();
    // srec_cat, not our parser, says what the image is.
    std::string expected = (dir / "expected.bin").string();
    ASSERT_EQ(RunProgram({"/usr/bin/srec_cat", file, "-motorola", "-o", expected, "-binary"}).exitCode, 0);
    EXPECT_TRUE(ReadAll(dir / "firmware.bin") == ReadAll(expected));
    EXPECT_EQ(ReadAll(dir / "valid-record.bin").size(), 16u);
}

TEST_F(FlashE2E, ScreensUpdateLeavesTheFileInTheKeypad) {
    std::string device = StartSim({"--screens-last-sector", "2"});
    std::string file = EXAMPLES + "/demo-screens.bin";
    ProcessResult r = Flash({"--port", device, "--yes", "--quiet", "screens", file});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_EQ(r.output, "");  // --quiet: nothing but errors
    StopSim();
    EXPECT_TRUE(ReadAll(dir / "screens.bin") == ReadAll(file));
}

TEST_F(FlashE2E, ConnectionTestFoundAndNotFound) {
    std::string device = StartSim({});
    ProcessResult found = Flash({"--port", device, "test"});
    EXPECT_EQ(found.exitCode, 0);
    EXPECT_NE(found.output.find("ORBIX detected!"), std::string::npos) << found.output;
    sim.reset();

    device = StartSim({"--silent"});
    ProcessResult silent = Flash({"--port", device, "test"});
    EXPECT_EQ(silent.exitCode, 1);
    EXPECT_NE(silent.output.find("Connecting: No response from ORBIX"), std::string::npos) << silent.output;
    // Four probes a second apart after the BREAK: 4.2 s, within 10%.
    EXPECT_GT(silent.seconds, 4.2 * 0.9);
    EXPECT_LT(silent.seconds, 4.2 * 1.1);
}

TEST_F(FlashE2E, FailedDuringEraseAndABadSumRecoveredByAResend) {
    std::string device = StartSim({"--fail-command", "erase", "--fail-occurrence", "2"});
    ProcessResult failed = Flash({"--port", device, "--yes", "firmware", EXAMPLES + "/demo-firmware.s"});
    EXPECT_EQ(failed.exitCode, 3);
    EXPECT_NE(failed.output.find("Got \"Failed\" back from keypad."), std::string::npos) << failed.output;
    sim.reset();

    // Reply 2 is the memory identification: its bad sum costs one resend.
    device = StartSim({"--corrupt", "2"});
    std::string small = Write("small.s", "S0030000FC\nS1130000000102030405060708090A0B0C0D0E0F74\n");
    ProcessResult recovered = Flash({"--port", device, "--yes", "--trace", "firmware", small});
    EXPECT_EQ(recovered.exitCode, 0) << recovered.output;
    EXPECT_NE(recovered.output.find("-> F0 01 01 88 88\n"), recovered.output.rfind("-> F0 01 01 88 88\n"))
        << "the memory ID request is sent twice";
}

TEST_F(FlashE2E, SilentKeypadDuringDataStallsOut) {
    // Sync, memory ID, 4 erases, programming index, then a few chunks.
    std::string device = StartSim({"--silent-after", "10"});
    ProcessResult r =
        Flash({"--port", device, "--yes", "--stall-timeout", "1", "firmware", EXAMPLES + "/demo-firmware.s"}, 20);
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_FALSE(r.timedOut);
    EXPECT_NE(r.output.find("No reply from ORBIX for 1 second (data chunk"), std::string::npos) << r.output;
}

TEST_F(FlashE2E, KilledSimulatorEndsTheTransfer) {
    std::string device = StartSim({"--baud", "115200"});
    CProcess flash({FLASH, "--port", device, "--yes", "firmware", EXAMPLES + "/demo-firmware.s"});
    ASSERT_TRUE(flash.WaitForOutput("Sending firmware data", 10)) << flash.Output();
    sim->Signal(SIGKILL);
    ProcessResult r = flash.Wait(15);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 3) << r.output;
    EXPECT_NE(r.output.find("not available"), std::string::npos) << r.output;
}

TEST_F(FlashE2E, CtrlCAbortsAndSendsNothingMore) {
    std::string device = StartSim({"--baud", "115200"});
    CProcess flash({FLASH, "--port", device, "--yes", "--trace", "firmware", EXAMPLES + "/demo-firmware.s"});
    ASSERT_TRUE(flash.WaitForOutput("Sending firmware data", 10)) << flash.Output();
    usleep(300000);
    flash.Signal(SIGINT);
    ProcessResult r = flash.Wait(10);
    EXPECT_EQ(r.exitCode, 130);
    EXPECT_TRUE(NoFrameAfter(r.output, "Operation aborted.")) << r.output.substr(r.output.size() - 400);
    EXPECT_FALSE(LockFileLeft(device));
}

TEST_F(FlashE2E, PortsThatCannotBeOpened) {
    ProcessResult missing = Flash({"--port", "/dev/ttyNOSUCH0", "test"});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.output.find("COM Port: /dev/ttyNOSUCH0 not available"), std::string::npos) << missing.output;
    EXPECT_NE(missing.output.find("no such device"), std::string::npos) << missing.output;
    // Once each on stderr: what failed, then why.
    ProcessResult errors = FlashStderr({"--port", "/dev/ttyNOSUCH0", "test"});
    EXPECT_EQ(errors.output,
              "orbix-flash: COM Port: /dev/ttyNOSUCH0 not available\norbix-flash: /dev/ttyNOSUCH0: no such device\n");

    // Another program holds the port: a second loader is refused.
    std::string device = StartSim({"--silent"});
    CProcess first({FLASH, "--port", device, "test"});
    ASSERT_TRUE(first.WaitForOutput("Checking for device..", 5));
    ProcessResult second = Flash({"--port", device, "test"});
    EXPECT_EQ(second.exitCode, 2);
    EXPECT_NE(second.output.find("in use by another program"), std::string::npos) << second.output;
    first.Wait(10);

    if (getuid() == 0) {
        // As a user outside the device's group.
        chmod(device.c_str(), 0600);
        ProcessResult denied = RunProgram({FLASH, "--port", device, "test"}, 10, "nobody");
        EXPECT_EQ(denied.exitCode, 2);
        EXPECT_NE(denied.output.find("permission denied"), std::string::npos) << denied.output;
        EXPECT_NE(denied.output.find("dialout"), std::string::npos) << denied.output;
    }
}

TEST_F(FlashE2E, SecondLoaderThroughASymlinkIsRefusedEvenForRoot) {
    if (getuid() != 0)
        GTEST_SKIP() << "runs as root only: for other users the device's exclusive mode already refuses a second open";
    std::string link = (dir / "keypad").string();
    std::string device = StartSim({"--silent", "--link", link});
    CProcess first({FLASH, "--port", device, "test"});
    ASSERT_TRUE(first.WaitForOutput("Checking for device..", 5));
    ProcessResult second = Flash({"--port", link, "--trace", "test"});
    EXPECT_EQ(second.exitCode, 2);
    EXPECT_NE(second.output.find(link + ": in use by another program"), std::string::npos) << second.output;
    EXPECT_EQ(second.output.find("] ->"), std::string::npos) << "the second loader sent a frame";
    ProcessResult r = first.Wait(10);
    EXPECT_EQ(r.exitCode, 1) << r.output;
    EXPECT_FALSE(LockFileLeft(device));
}

TEST_F(FlashE2E, BadFilesSendNothing) {
    std::string device = StartSim({});
    struct Case {
        std::string command, path, message;
    };
    std::vector<Case> cases = {
        {"firmware", Write("empty.s", ""), "Incorrect file type (should be .S)"},
        {"firmware", Write("garbage.s", std::string("\x7f\x45\x4c\x46\x02\x01", 6)), "Incorrect file type (should be .S)"},
        {"firmware", Write("header.s", "S00600004844521B\nS1130000000102030405060708090A0B0C0D0E0F74\n"),
         "Incorrect file type (should be .S)"},
        {"firmware", Write("far.s", "S0030000FC\nS308000F423F11223300\n"), "Out of range offset in SRecord: 1000000"},
        {"firmware", Write("cut.s", "S0030000FC\nS1130000000102030405"), "Truncated SRecord on line 2"},
        {"firmware", (dir / "missing.s").string(), "File could not be opened."},
        {"firmware", dir.string(), "File could not be opened."},
        {"screens", Write("fw.bin", "S0030000FC\n"), "Incorrect file type (should be .bin)"},
        {"screens", Write("empty.bin", ""), "File contains no data."},
    };
    for (const Case& c : cases) {
        ProcessResult r = Flash({"--port", device, "--yes", "--trace", c.command, c.path});
        EXPECT_EQ(r.exitCode, 2) << c.path;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.path << "\n" << r.output;
        EXPECT_EQ(r.output.find("] ->"), std::string::npos) << c.path << ": a frame was sent";
    }
}

TEST_F(FlashE2E, UsageAndConfirmation) {
    EXPECT_EQ(Flash({"--version"}).output, "orbix-flash 1.0.2\n");
    EXPECT_EQ(Flash({"frobnicate"}).exitCode, 2);
    EXPECT_EQ(Flash({"firmware"}).exitCode, 2);
    EXPECT_EQ(Flash({"--stall-timeout", "0", "test"}).exitCode, 2);
    // No terminal and no --yes: the erase is refused, and says how to confirm it.
    std::string device = StartSim({});
    ProcessResult r = Flash({"--port", device, "firmware", EXAMPLES + "/demo-firmware.s"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("--yes"), std::string::npos) << r.output;
}

TEST_F(FlashE2E, InspectReportsWhatTheFileGives) {
    ProcessResult r = Flash({"inspect", EXAMPLES + "/demo-firmware.s"});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("Image length:       88000 bytes"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("S0 1  S3 2750  S7 1"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("Data chunks:        710 (124 bytes each, the last 84)"), std::string::npos) << r.output;

    std::string bad = Write("badsum.s", "S0030000FC\nS1130000000102030405060708090A0B0C0D0E0F00\n");
    r = Flash({"inspect", bad});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.output.find("Damaged records:    1, the first: Bad checksum in SRecord on line 2"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("orbix-flash: Bad checksum in SRecord on line 2\n"), std::string::npos) << r.output;
    EXPECT_EQ(Flash({"inspect", Write("x.bin", "")}).exitCode, 2);

    // Files the firmware command refuses, named for what they are.
    struct Case {
        std::string path, kind;
    };
    const Case refused[] = {
        {Write("app.hex", ":100000000102030405060708090A0B0C0D0E0F1068\n:00000001FF\n"), "Intel HEX"},
        {Write("header.s", "S00600004844521B\nS1130000000102030405060708090A0B0C0D0E0F74\n"),
         "S-records that do not begin with \"S003\""},
    };
    for (const Case& c : refused) {
        r = Flash({"inspect", c.path});
        EXPECT_EQ(r.exitCode, 2) << c.path;
        EXPECT_NE(r.output.find("Kind:               " + c.kind), std::string::npos) << r.output;
        EXPECT_NE(r.output.find("orbix-flash: Incorrect file type (should be .S)"), std::string::npos) << r.output;
    }
}
