// orbix-flash against a keypad that goes away or falls silent part-way, and
// against files it must refuse before anything is sent.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>

#include "program_test.h"

namespace fs = std::filesystem;

namespace {

class FaultE2E : public ProgramTest {};

// A line that is exactly `text`, as a status line or as an error.
bool HasLine(const std::string& output, const std::string& text) {
    std::string lines = "\n" + output;
    return Has(lines, "\n" + text + "\n") || Has(lines, "\norbix-flash: " + text + "\n");
}

// The last frame the loader sent, as the trace prints it (" F0 ..."), or "".
std::string LastFrameSent(const std::string& output) {
    size_t at = output.rfind("] ->");
    if (at == std::string::npos) return "";
    size_t end = output.find('\n', at);
    return output.substr(at + 4, end == std::string::npos ? std::string::npos : end - at - 4);
}

}  // namespace

// --- The port goes away while an update waits for the keypad ---------------

struct VanishCase {
    const char* name;
    const char* command;
    std::vector<std::string> simOptions;
    const char* killAfter;  // status text on which the simulator is killed
};
void PrintTo(const VanishCase& c, std::ostream* os) { *os << c.name; }

class FaultPortVanishes : public FaultE2E, public ::testing::WithParamInterface<VanishCase> {};

TEST_P(FaultPortVanishes, EndsAtOnceWithPortNotAvailable) {
    const VanishCase& c = GetParam();
    std::string device = StartSim(c.simOptions);
    std::string file =
        std::string(c.command) == "firmware" ? EXAMPLES + "/demo-firmware.s" : EXAMPLES + "/demo-screens.bin";
    CProcess flash({FLASH, "--port", device, "--yes", c.command, file});
    ASSERT_TRUE(flash.WaitForOutput(c.killAfter, 10)) << flash.Output();
    double killed = MonotonicSeconds();
    sim->Signal(SIGKILL);
    ProcessResult r = flash.Wait(10);
    double after = MonotonicSeconds() - killed;
    std::printf("[ port lost ] %s: ended %.2f s after the kill\n", c.name, after);
    EXPECT_FALSE(r.timedOut);
    EXPECT_LT(after, 3.0);
    // Lost before the first erase: the keypad is as it was.
    bool erased = std::string(c.name) != "FirmwareProbe";
    EXPECT_EQ(r.exitCode, erased ? 3 : 1) << r.output;
    // Said once as a status and once on stderr, then only what the keypad is
    // left with: no late time-out text from a timer armed while the port went away.
    std::string lost = "COM Port: " + device + " not available\n";
    std::string ending = lost + "orbix-flash: " + lost;
    if (erased)
        ending += std::string("orbix-flash: The keypad holds no valid ") + c.command +
                  " and stays in its update mode: run the update again.\n";
    ASSERT_GE(r.output.size(), ending.size());
    EXPECT_EQ(r.output.substr(r.output.size() - ending.size()), ending) << r.output;
    EXPECT_EQ(r.output.find(lost), r.output.size() - ending.size()) << r.output;
}

const VanishCase VANISH_CASES[] = {
    VanishCase{"FirmwareProbe", "firmware", {"--silent"}, "Checking for device.."},
    VanishCase{"FirmwareErase", "firmware", {"--erase-ms", "3000"}, "Got Mem ID"},
    VanishCase{"ScreensErase", "screens", {"--erase-ms", "3000"}, "Got Mem ID"},
    VanishCase{"ScreensData", "screens", {"--baud", "115200"}, "Sending screens data"},
};

INSTANTIATE_TEST_SUITE_P(Fault, FaultPortVanishes, ::testing::ValuesIn(VANISH_CASES),
                         [](const ::testing::TestParamInfo<VanishCase>& info) { return std::string(info.param.name); });

// --- The keypad falls silent where no reply timer guards the wait -----------

struct StallCase {
    const char* name;
    const char* command;
    int silentAfter;        // replies the keypad gives before it falls silent
    const char* lastFrame;  // the unanswered frame, as traced
    const char* place;      // where the stall text says it stopped
};
void PrintTo(const StallCase& c, std::ostream* os) { *os << c.name; }

class FaultKeypadStalls : public FaultE2E, public ::testing::WithParamInterface<StallCase> {};

// Replies: 1 ACK, 2 memory ID, then the erases (firmware 6..9, screens 1..3),
// the index, the one data chunk, and for firmware the checksum query, the
// index again, the Valid data record and execute.
TEST_P(FaultKeypadStalls, GivesUpAfterTheStallTimeoutAndSendsNothingMore) {
    const StallCase& c = GetParam();
    bool firmware = std::string(c.command) == "firmware";
    std::string device = StartSim({"--silent-after", std::to_string(c.silentAfter)});
    std::string file = firmware ? Write("small.s", SMALL_FIRMWARE) : Write("small.bin", "ORBIX");
    ProcessResult r = Flash({"--port", device, "--yes", "--trace", "--stall-timeout", "1", c.command, file}, 20);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 3) << r.output;
    EXPECT_TRUE(HasLine(r.output, std::string("No reply from ORBIX for 1 second (") + c.place + ")")) << r.output;
    EXPECT_EQ(LastFrameSent(r.output), c.lastFrame) << r.output;
    EXPECT_TRUE(NoFrameAfter(r.output, "No reply from ORBIX for 1 second")) << r.output;
    // The probe at 0.2 s, then a second without a reply.
    EXPECT_LT(r.seconds, 5.0);
}

const StallCase STALL_CASES[] = {
    StallCase{"FirmwareSetIndex", "firmware", 6, " F0 06 05 A0 00 00 01 00 A1", "programming index"},
    StallCase{"FirmwareChecksumQuery", "firmware", 8, " F0 08 0B 9C 08 00 01 00 09 00 01 00 24 22 F5",
              "checksum query"},
    StallCase{"FirmwareSecondSetIndex", "firmware", 9, " F0 09 05 A0 00 00 01 00 A1", "valid data index"},
    StallCase{"FirmwareValidRecord", "firmware", 10,
              " F0 0A 11 90 22 24 DD DB 00 01 00 08 00 01 00 09 00 00 00 21 C2", "Valid data record"},
    StallCase{"FirmwareExecute", "firmware", 11, " F0 0B 01 77 77", "execute command"},
    StallCase{"ScreensSetIndex", "screens", 5, " F0 05 05 A0 00 00 00 00 A0", "programming index"},
    StallCase{"ScreensData", "screens", 6, " F0 06 06 91 4F 52 42 49 58 15", "data chunk 1 of 1, image offset 0x5"},
};

INSTANTIATE_TEST_SUITE_P(Fault, FaultKeypadStalls, ::testing::ValuesIn(STALL_CASES),
                         [](const ::testing::TestParamInfo<StallCase>& info) { return std::string(info.param.name); });

// --- Files refused before anything is sent ----------------------------------

namespace {

// An S2 record (24-bit address) with its sum.
std::string S2Record(uint32_t address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> body = {static_cast<uint8_t>(data.size() + 4), static_cast<uint8_t>(address >> 16),
                                 static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)};
    body.insert(body.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string line = "S2";
    char hex[3];
    for (uint8_t b : body) {
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
        sum += b;
    }
    std::snprintf(hex, sizeof hex, "%02X", ~sum & 0xFF);
    return line + hex + "\n";
}

uint8_t FullImageByte(uint32_t offset) { return static_cast<uint8_t>(offset * 13 + 7); }

// S-records whose data fill offsets 0 to length - 1, 200 bytes a record.
std::string FullImageRecords(uint32_t length) {
    std::string text = "S0030000FC\n";
    std::vector<uint8_t> data;
    for (uint32_t at = 0; at < length; at += 200) {
        data.clear();
        for (uint32_t i = at; i < at + 200 && i < length; ++i) data.push_back(FullImageByte(i));
        text += S2Record(at, data);
    }
    return text;
}

}  // namespace

TEST_F(FaultE2E, BadFilesAreRefusedWithTheirMessageAndSendNothing) {
    std::string device = StartSim({});
    std::string million = FullImageRecords(1000000);
    struct Case {
        std::string command, path, message;
    };
    std::vector<Case> cases = {
        {"firmware", Write("one.s", "S"), "Incorrect file type (should be .S)"},
        {"firmware", Write("two.s", "S0"), "Incorrect file type (should be .S)"},
        {"firmware", Write("three.s", "S00"), "Incorrect file type (should be .S)"},
        // The right first four bytes, then no line that is a data record.
        {"firmware", Write("junk.s", std::string("S003\0\xff\x13\x80\n\x01\x02\r\n\xfe", 14)),
         "File contains no data."},
        {"firmware", Write("past.s", million + S2Record(1000000, {0xAA})), "Out of range offset in SRecord: 1000000"},
        {"firmware", Write("far.s", "S0030000FC\nS3090010000001020304DC\n"), "Out of range offset in SRecord: 1048576"},
        {"firmware", Write("negative.s", "S0030000FC\nS30980000000010203046C\n"),
         "Out of range offset in SRecord: -2147483648"},
        // The last line ends inside its address field.
        {"firmware", Write("cut-address.s", "S0030000FC\nS1130000000102030405060708090A0B0C0D0E0F74\nS1130"),
         "Truncated SRecord on line 3"},
        {"screens", dir.string(), "File could not be opened."},
    };
    for (const Case& c : cases) {
        ProcessResult r = Flash({"--port", device, "--yes", "--trace", c.command, c.path});
        EXPECT_EQ(r.exitCode, 2) << c.path << "\n" << r.output;
        EXPECT_TRUE(HasLine(r.output, c.message)) << c.path << "\n" << r.output;
        EXPECT_FALSE(Has(r.output, "] ->")) << c.path << ": a frame was sent";
    }
}

TEST_F(FaultE2E, FirmwareOfExactlyTheImageSizeIsAcceptedAndFlashed) {
    std::string file = Write("million.s", FullImageRecords(1000000));
    ProcessResult r = Flash({"inspect", file});
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(Has(r.output, "Image length:       1000000 bytes")) << r.output;

    // Four sectors of 256 KiB hold it; with no line rate it takes a second or two.
    std::string device = StartSim({"--dump-dir", dir.string()});
    r = Flash({"--port", device, "--yes", "--quiet", "firmware", file});
    std::printf("[ 1000000 ] firmware update took %.2f s\n", r.seconds);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    sim->Signal(SIGTERM);
    EXPECT_EQ(sim->Wait(5).exitCode, 0);
    std::ifstream dump(dir / "firmware.bin", std::ios::binary);
    std::string flashed((std::istreambuf_iterator<char>(dump)), {});
    ASSERT_EQ(flashed.size(), 1000000u);
    for (uint32_t i = 0; i < 1000000; ++i)
        if (static_cast<uint8_t>(flashed[i]) != FullImageByte(i)) FAIL() << "differs at " << i;
}

TEST_F(FaultE2E, UnreadableFileIsRefusedAndSendsNothing) {
    std::string device = StartSim({});
    std::string user;
    if (getuid() == 0) {
        // Root reads anything: run as a user who may use the port but not the file.
        user = "nobody";
        chmod(device.c_str(), 0666);
    }
    for (const char* command : {"firmware", "screens"}) {
        std::string file =
            Write(std::string("locked-") + command, std::string(command) == "firmware" ? SMALL_FIRMWARE : "ORBIX");
        chmod(file.c_str(), 0600);
        if (user.empty()) chmod(file.c_str(), 0);
        ProcessResult r = Flash({"--port", device, "--yes", "--trace", command, file}, 30, user);
        EXPECT_EQ(r.exitCode, 2) << command << "\n" << r.output;
        EXPECT_TRUE(HasLine(r.output, "File could not be opened.")) << command << "\n" << r.output;
        EXPECT_FALSE(Has(r.output, "] ->")) << command << ": a frame was sent";
    }
}

// The most the screens area can hold (255 sectors of 256 KiB) loads.
TEST_F(FaultE2E, LargestScreensFileLoads) {
    std::string path = (dir / "huge.bin").string();
    { std::ofstream create(path, std::ios::binary); }
    // Sparse: the test should not need 64 MB of disk.
    ASSERT_EQ(truncate(path.c_str(), 66846720), 0);
    ProcessResult r = Flash({"inspect", path}, 100);
    std::printf("[ 64 MB ] inspect took %.2f s\n", r.seconds);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.output;
    EXPECT_TRUE(Has(r.output, "Image length:       66846720 bytes")) << r.output;
    EXPECT_TRUE(Has(r.output, "Kind:               screens (raw bytes)")) << r.output;
}
