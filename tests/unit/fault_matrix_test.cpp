// Updates against a keypad that answers "Failed" at each kind of command or
// loses the answer to the probe, and a chosen file that is gone before it is
// read: every case must end idle, say why, leave the keypad's flash as far as
// it got, and send nothing once it has ended.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "support/update_bench.h"

using Bytes = std::vector<uint8_t>;

namespace {

// 300 bytes: data chunks of 124, 124 and 52.
const Bytes MATRIX_IMAGE = PatternImage(300);
const std::string FAILED_TEXT = "Got \"Failed\" back from keypad.";

Bytes Prefix(size_t count) { return Bytes(MATRIX_IMAGE.begin(), MATRIX_IMAGE.begin() + static_cast<std::ptrdiff_t>(count)); }

// Lets virtual time run well past the end and checks that the line stayed quiet.
void ExpectEndedQuietly(UpdateBench& bench, const std::string& status, LoaderOutcome outcome) {
    FakeHost& host = bench.host;
    host.RunUntilIdle();
    size_t sent = host.frames.size();
    host.Advance(20000);
    EXPECT_EQ(host.frames.size(), sent) << "a frame left after the end";
    EXPECT_EQ(bench.Engine().Mode(), MODE_IDLE);
    EXPECT_EQ(host.LastStatus(), status);
    EXPECT_EQ(bench.Engine().Outcome(), outcome);
    ASSERT_FALSE(host.busyStates.empty());
    EXPECT_FALSE(host.busyStates.back());
    for (int id : {TIMER_REPLY, TIMER_CONNECT, TIMER_ERASE, TIMER_COUNTDOWN}) EXPECT_FALSE(host.TimerArmed(id)) << id;
}

struct FailCase {
    const char* name;
    bool firmware;
    uint8_t command;  // the code the keypad answers with "Failed" ...
    int occurrence;   // ... on its n-th occurrence
    size_t flashed;   // image bytes in the keypad's flash afterwards
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << c.name; }

class FaultFailedAtEachCommand : public ::testing::TestWithParam<FailCase> {};

}  // namespace

TEST_P(FaultFailedAtEachCommand, EndsAtOnceWithTheFlashAsFarAsItGot) {
    const FailCase& c = GetParam();
    KeypadConfig config;
    config.failCommand = c.command;
    config.failOccurrence = c.occurrence;
    UpdateBench bench(config);
    if (c.firmware)
        bench.StartFirmware(MATRIX_IMAGE);
    else
        bench.StartScreens(MATRIX_IMAGE);

    ExpectEndedQuietly(bench, FAILED_TEXT, OUTCOME_FAILED);
    // Replies come at once, so everything up to the failure happens at 200 ms.
    EXPECT_EQ(bench.host.statuses.back().ms, 200);

    // The refused command is the last frame, and it went out once.
    std::vector<SentFrame> frames = SentFrames(bench.host);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().payload[0], c.command);
    EXPECT_EQ(bench.Model().CommandCount(c.command), c.occurrence);
    EXPECT_EQ(bench.Model().FramesReceived(), static_cast<int>(frames.size()));

    KeypadArea area = c.firmware ? KEYPAD_AREA_FIRMWARE : KEYPAD_AREA_SCREENS;
    KeypadArea other = c.firmware ? KEYPAD_AREA_SCREENS : KEYPAD_AREA_FIRMWARE;
    EXPECT_EQ(bench.Model().AreaContents(area), Prefix(c.flashed));
    EXPECT_TRUE(bench.Model().AreaContents(other).empty());
    // Only a failed execute leaves an accepted Valid data record behind.
    EXPECT_EQ(bench.Model().ValidRecord().size(), c.firmware && c.command == 0x77 ? 16u : 0u);
    EXPECT_FALSE(bench.Model().Executed());
}

// Firmware: sync, memory ID, erases 6..9, index, chunks 1..3, checksum query,
// index again, the Valid data record (the fourth 0x90), execute.
const FailCase FAIL_CASES[] = {
    FailCase{"FirmwareSync", true, 0x55, 1, 0},
    FailCase{"FirmwareMemoryId", true, 0x88, 1, 0},
    FailCase{"FirmwareFirstErase", true, 0x84, 1, 0},
    FailCase{"FirmwareLastErase", true, 0x84, 4, 0},
    FailCase{"FirmwareSetIndex", true, 0xA0, 1, 0},
    FailCase{"FirmwareFirstChunk", true, 0x90, 1, 0},
    FailCase{"FirmwareSecondChunk", true, 0x90, 2, 124},
    FailCase{"FirmwareChecksumQuery", true, 0x9C, 1, 300},
    FailCase{"FirmwareSecondSetIndex", true, 0xA0, 2, 300},
    FailCase{"FirmwareValidRecord", true, 0x90, 4, 300},
    FailCase{"FirmwareExecute", true, 0x77, 1, 300},
    FailCase{"ScreensSync", false, 0x55, 1, 0},
    FailCase{"ScreensMemoryId", false, 0x89, 1, 0},
    FailCase{"ScreensFirstErase", false, 0x84, 1, 0},
    FailCase{"ScreensSetIndex", false, 0xA0, 1, 0},
    FailCase{"ScreensSecondChunk", false, 0x91, 2, 124},
    FailCase{"ScreensLastChunk", false, 0x91, 3, 248},
};

INSTANTIATE_TEST_SUITE_P(Fault, FaultFailedAtEachCommand, ::testing::ValuesIn(FAIL_CASES),
                         [](const ::testing::TestParamInfo<FailCase>& info) { return std::string(info.param.name); });

TEST(FaultProbe, OneLostAckIsRecoveredByTheSecondProbe) {
    for (bool firmware : {true, false}) {
        SCOPED_TRACE(firmware ? "firmware" : "screens");
        KeypadConfig config;
        config.dropFrom = 1;  // the answer to the first sync
        UpdateBench bench(config);
        if (firmware)
            bench.StartFirmware(MATRIX_IMAGE);
        else
            bench.StartScreens(MATRIX_IMAGE);
        ExpectEndedQuietly(bench, firmware ? "Firmare update complete" : "Screens update complete", OUTCOME_SUCCESS);

        // The resend, a second later and without a BREAK, is the same frame.
        std::vector<SentFrame> syncs = SentFrames(bench.host, 0x55);
        ASSERT_EQ(syncs.size(), 2u);
        EXPECT_EQ(syncs[0].ms, 200);
        EXPECT_EQ(syncs[1].ms, 1200);
        EXPECT_EQ(bench.host.frames[0].bytes, (Bytes{0xF0, 0x00, 0x02, 0x55, 0xAA, 0xFF}));
        EXPECT_EQ(bench.host.frames[1].bytes, bench.host.frames[0].bytes);
        EXPECT_EQ(bench.host.breaks.size(), 2u);
        EXPECT_EQ(bench.Model().AreaContents(firmware ? KEYPAD_AREA_FIRMWARE : KEYPAD_AREA_SCREENS), MATRIX_IMAGE);
    }
}

TEST(FaultProbe, FourLostAcksEndWithNoResponse) {
    for (bool firmware : {true, false}) {
        SCOPED_TRACE(firmware ? "firmware" : "screens");
        KeypadConfig config;
        config.dropFrom = 1;
        config.dropCount = 4;
        UpdateBench bench(config);
        if (firmware)
            bench.StartFirmware(MATRIX_IMAGE);
        else
            bench.StartScreens(MATRIX_IMAGE);
        ExpectEndedQuietly(bench, "Connecting: No response from ORBIX", OUTCOME_FAILED);
        EXPECT_EQ(bench.host.statuses.back().ms, 4200);

        std::vector<int64_t> times;
        for (const SentFrame& f : SentFrames(bench.host)) {
            EXPECT_EQ(f.payload, (Bytes{0x55, 0xAA}));
            times.push_back(f.ms);
        }
        EXPECT_EQ(times, (std::vector<int64_t>{200, 1200, 2200, 3200}));
        EXPECT_EQ(bench.Model().RepliesNumbered(), 4);
        EXPECT_TRUE(bench.Model().AreaContents(KEYPAD_AREA_FIRMWARE).empty());
        EXPECT_TRUE(bench.Model().AreaContents(KEYPAD_AREA_SCREENS).empty());
    }
}

namespace {

// A dialog that returns a file which is gone by the time the step reads it.
class VanishingFileHost : public FakeHost {
public:
    bool removeChosen = false;
    int ChooseFile(const FileDialogSpec& request, std::string& chosenPath) override {
        int chosen = FakeHost::ChooseFile(request, chosenPath);
        if (chosen && removeChosen) std::filesystem::remove(chosenPath);
        return chosen;
    }
};

void Start(FakeHost& host, bool firmware) {
    if (firmware)
        host.UpdateFirmware();
    else
        host.UpdateScreens();
}

}  // namespace

TEST(FaultFiles, FileRemovedAfterTheChoiceLeavesTheImageAlone) {
    UpdateBench files;  // only for its folder
    Bytes screens = PatternImage(700);
    struct Case {
        const char* name;
        bool firmware;
    };
    for (const Case& c : {Case{"firmware", true}, Case{"screens", false}}) {
        SCOPED_TRACE(c.name);
        VanishingFileHost host;
        CLoaderEngine& engine = host.Engine();
        // A first image, kept in memory after the erase question is declined.
        host.answerYes = 0;
        host.chooseFile = c.firmware ? files.WriteFile("first.s", SRecordText(MATRIX_IMAGE))
                                     : files.WriteFile("first.bin", std::string(screens.begin(), screens.end()));
        Start(host, c.firmware);
        ASSERT_EQ(host.questions.size(), 1u);
        Bytes before(engine.Image().Data(), engine.Image().Data() + engine.Image().Length());
        ASSERT_EQ(before, c.firmware ? MATRIX_IMAGE : screens);
        std::map<std::string, std::string> settings = host.settings;

        host.answerYes = 1;
        host.removeChosen = true;
        host.chooseFile = files.WriteFile(c.firmware ? "second.s" : "second.bin", c.firmware ? "S003\n" : "xyz");
        Start(host, c.firmware);
        ASSERT_FALSE(std::filesystem::exists(host.chooseFile));

        EXPECT_EQ(host.LastStatus(), "File could not be opened.");
        EXPECT_TRUE(host.messageBoxes.empty());
        EXPECT_EQ(host.questions.size(), 1u);  // not asked again
        EXPECT_EQ(Bytes(engine.Image().Data(), engine.Image().Data() + engine.Image().Length()), before);
        EXPECT_EQ(host.settings, settings);
        host.Advance(20000);
        EXPECT_TRUE(host.frames.empty());
        EXPECT_TRUE(host.breaks.empty());
        EXPECT_TRUE(host.busyStates.empty());
        EXPECT_EQ(engine.Mode(), MODE_IDLE);
        EXPECT_EQ(engine.Outcome(), OUTCOME_NONE);
    }
}
