// Whole firmware and screens updates against the simulated keypad, in virtual
// time: what reaches the keypad's flash, what the loader shows on the way, and
// the bytes of the closing messages.
#include <gtest/gtest.h>

#include "support/update_bench.h"

using Bytes = std::vector<uint8_t>;
using Texts = std::vector<std::string>;

namespace {

std::vector<Bytes> Payloads(const FakeHost& host, uint8_t code) {
    std::vector<Bytes> out;
    for (const SentFrame& f : SentFrames(host, code)) out.push_back(f.payload);
    return out;
}

std::vector<int> PayloadLengths(const FakeHost& host, uint8_t code) {
    std::vector<int> out;
    for (const SentFrame& f : SentFrames(host, code)) out.push_back(static_cast<int>(f.payload.size()));
    return out;
}

// Chunk frames carry their data code and 124 image bytes, the last one the rest.
std::vector<int> ChunkLengths(int full, int last) {
    std::vector<int> lengths(static_cast<size_t>(full), 125);
    if (last > 0) lengths.push_back(last + 1);
    return lengths;
}

int64_t FirstFrameMs(const FakeHost& host, uint8_t code) {
    std::vector<SentFrame> frames = SentFrames(host, code);
    return frames.empty() ? -1 : frames.front().ms;
}

}  // namespace

TEST(FirmwareUpdate, CompletesWithTheImageInFlashAndShowsEveryStep) {
    UpdateBench bench;  // last firmware sector 9
    Bytes image = PatternImage(1000);
    bench.StartFirmware(image);
    bench.host.RunUntilIdle();
    FakeHost& host = bench.host;

    EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
    EXPECT_EQ(bench.Model().AreaContents(KEYPAD_AREA_FIRMWARE), image);
    EXPECT_TRUE(bench.Model().Executed());
    EXPECT_EQ(bench.Model().ValidRecord().size(), 16u);
    EXPECT_EQ(bench.peer.lostReplies, 0);
    for (const SentFrame& f : SentFrames(host)) EXPECT_TRUE(f.sumGood);

    EXPECT_EQ(host.StatusTexts(),
              (Texts{"File: firmware.s Opened.", "Checking for device..",
                     "Got Mem ID. Starting firmware memory erase..", "Erasing firmware sector: 7",
                     "Erasing firmware sector: 8", "Erasing firmware sector: 9", "Setting Programming index",
                     "Sending firmware data", "Sending firmware checksum query", "Sending valid data firmware index",
                     "Sending VALID data", "Sending EXECUTE command", "Firmare update complete"}));
    EXPECT_EQ(host.questions, (Texts{"This will erase the current ORBIX firmware. Proceed?"}));
    EXPECT_EQ(host.busyStates, (std::vector<bool>{true, false}));

    EXPECT_EQ(Payloads(host, 0x84),
              (std::vector<Bytes>{{0x84, 0x02, 0x06}, {0x84, 0x02, 0x07}, {0x84, 0x02, 0x08}, {0x84, 0x02, 0x09}}));
    // Sectors against 0..9, then percentages against 0..100: 248 of 1000 bytes
    // after the first chunk of the loop shows 24, and the bar ends full.
    EXPECT_EQ(host.ranges, (std::vector<std::pair<int, int>>{{0, 9}, {0, 100}}));
    EXPECT_EQ(host.positions, (std::vector<int>{0, 6, 7, 8, 9, 0, 24, 37, 49, 62, 74, 86, 99, 100}));
    EXPECT_EQ(host.showTexts, (std::vector<bool>{true}));
    // The activity bar moves once per step and starts and ends at rest.
    ASSERT_FALSE(host.activity.empty());
    EXPECT_EQ(host.activity.front(), 0);
    EXPECT_EQ(host.activity.back(), 0);
    EXPECT_EQ(host.activity[1], 1);
}

// A Memory ID that leaves no area to erase ends the update before anything
// is erased; the smallest real area (one sector) still updates.
TEST(UpdateMemoryId, AnAreaWithNoSectorEndsBeforeAnyErase) {
    struct Case {
        bool firmware;
        int last;
        bool valid;
    };
    for (const Case& c : {Case{true, 0, false}, Case{true, 5, false}, Case{true, 6, true}, Case{false, 0, false},
                          Case{false, 1, true}}) {
        SCOPED_TRACE(std::string(c.firmware ? "firmware " : "screens ") + std::to_string(c.last));
        KeypadConfig config;
        (c.firmware ? config.firmwareLastSector : config.screensLastSector) = c.last;
        UpdateBench bench(config);
        Bytes image = PatternImage(100);
        if (c.firmware) bench.StartFirmware(image);
        else bench.StartScreens(image);
        bench.host.RunUntilIdle();
        std::vector<Bytes> erases = Payloads(bench.host, 0x84);
        if (!c.valid) {
            EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_FAILED);
            EXPECT_EQ(bench.host.LastStatus(), "Got invalid memory ID from keypad");
            EXPECT_TRUE(erases.empty());
            EXPECT_FALSE(bench.Engine().EraseSent());
            EXPECT_FALSE(bench.host.TimerArmed(TIMER_REPLY));
            continue;
        }
        EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
        EXPECT_EQ(erases, (std::vector<Bytes>{c.firmware ? Bytes{0x84, 0x02, 0x06} : Bytes{0x84, 0x01, 0x01}}));
        EXPECT_EQ(bench.host.ranges.front(), std::make_pair(0, c.last));
        EXPECT_EQ(bench.Model().AreaContents(c.firmware ? KEYPAD_AREA_FIRMWARE : KEYPAD_AREA_SCREENS), image);
    }
}

TEST(FirmwareUpdate, ImageGoesOutIn124ByteChunksThenTheRecord) {
    struct Case {
        size_t length;
        std::vector<int> chunks;
    };
    const Case cases[] = {
        {1, ChunkLengths(0, 1)},    {124, ChunkLengths(0, 124)},    {125, ChunkLengths(1, 1)},
        {1000, ChunkLengths(8, 8)}, {40961, ChunkLengths(330, 41)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        UpdateBench bench;
        Bytes image = PatternImage(c.length);
        bench.StartFirmware(image);
        bench.host.RunUntilIdle();
        EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
        EXPECT_EQ(bench.Model().AreaContents(KEYPAD_AREA_FIRMWARE), image);
        // The Valid data record shares the data code and closes the list.
        std::vector<int> expected = c.chunks;
        expected.push_back(17);
        EXPECT_EQ(PayloadLengths(bench.host, 0x90), expected);
        // One chunk goes out in the step that sets the bar to 0, and no later
        // step moves it: such an image ends with the bar at 0.
        EXPECT_EQ(bench.host.positions.back(), c.length > 124 ? 100 : 0);
    }
}

TEST(FirmwareUpdate, ChecksumQueryAndValidRecordCarryTheKnownFigures) {
    // 40961 bytes, all zero but offsets 16 and 17 (the first word the checksum
    // counts): checksum 0x1234, end index 0x10000 + 0x5000.
    const std::string file =
        "S0030000FC\n"
        "S10500101234A4\n"
        "S104A000005B\n"
        "S9030000FC\n";
    struct Case {
        uint32_t tag;
        Bytes tagBytes;
    };
    for (const Case& c : {Case{0xFFFFFFFF, {0x00, 0x00, 0x00, 0x21}}, Case{0xFFFFFFFE, {0xFF, 0xFF, 0xFF, 0xFE}}}) {
        SCOPED_TRACE(c.tag);
        KeypadConfig config;
        config.firmwareLastSector = 6;
        config.programIndex = 0x10000;
        config.tagValue = c.tag;
        UpdateBench bench(config);
        bench.StartFirmwareFile(file);
        bench.host.RunUntilIdle();
        ASSERT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
        FakeHost& host = bench.host;

        EXPECT_EQ(Payloads(host, 0x9C),
                  (std::vector<Bytes>{{0x9C, 0x08, 0x00, 0x01, 0x00, 0x00, 0x50, 0x01, 0x00, 0x34, 0x12}}));
        // The index is set before the data and again before the record.
        EXPECT_EQ(Payloads(host, 0xA0),
                  (std::vector<Bytes>{{0xA0, 0x00, 0x00, 0x01, 0x00}, {0xA0, 0x00, 0x00, 0x01, 0x00}}));
        Bytes record = {0x90, 0x12, 0x34, 0xED, 0xCB, 0x00, 0x01, 0x00, 0x08, 0x00, 0x01, 0x50, 0x00};
        record.insert(record.end(), c.tagBytes.begin(), c.tagBytes.end());
        EXPECT_EQ(Payloads(host, 0x90).back(), record);
        EXPECT_EQ(bench.Model().ValidRecord(), Bytes(record.begin() + 1, record.end()));

        // The closing messages, in order, after the last chunk.
        std::vector<SentFrame> frames = SentFrames(host);
        ASSERT_GE(frames.size(), 4u);
        std::vector<uint8_t> codes;
        for (size_t i = frames.size() - 4; i < frames.size(); ++i) codes.push_back(frames[i].payload[0]);
        EXPECT_EQ(codes, (Bytes{0x9C, 0xA0, 0x90, 0x77}));
        EXPECT_EQ(frames.back().payload, Bytes{0x77});
    }
}

TEST(FirmwareUpdate, ExecuteAnsweredWithAckCompletes) {
    KeypadConfig config;
    config.ackExecute = true;
    UpdateBench bench(config);
    bench.StartFirmware(PatternImage(500));
    bench.host.RunUntilIdle();
    EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
    EXPECT_EQ(bench.host.LastStatus(), "Firmare update complete");
    EXPECT_TRUE(bench.Model().Executed());
    EXPECT_FALSE(bench.Engine().IsBusy());
}

TEST(FirmwareUpdate, DeclinedOrCancelledSendsNothing) {
    UpdateBench bench;
    bench.host.answerYes = 0;
    bench.StartFirmware(PatternImage(200));
    EXPECT_EQ(bench.host.questions.size(), 1u);
    bench.host.Advance(5000);
    EXPECT_TRUE(bench.host.frames.empty());
    EXPECT_TRUE(bench.host.busyStates.empty());
    EXPECT_EQ(bench.Engine().Mode(), MODE_IDLE);
    EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_NONE);

    // Declined screens, then both dialogs cancelled: no question, no frame.
    bench.StartScreens(PatternImage(200));
    EXPECT_EQ(bench.host.questions.size(), 2u);
    bench.host.answerYes = 1;
    bench.host.chooseFile.clear();
    bench.host.UpdateFirmware();
    bench.host.UpdateScreens();
    bench.host.Advance(5000);
    EXPECT_EQ(bench.host.dialogs.size(), 4u);
    EXPECT_EQ(bench.host.questions.size(), 2u);
    EXPECT_TRUE(bench.host.frames.empty());
    EXPECT_TRUE(bench.host.breaks.empty());
    EXPECT_EQ(bench.Engine().Mode(), MODE_IDLE);
}

TEST(ScreensUpdate, CompletesWithIndexZeroWhateverTheKeypadReported) {
    UpdateBench bench;  // programming index 0x10000, last screens sector 3
    // A firmware update first, so the loader holds the reported index.
    bench.StartFirmware(PatternImage(200));
    bench.host.RunUntilIdle();
    ASSERT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
    ASSERT_EQ(Payloads(bench.host, 0xA0).front(), (Bytes{0xA0, 0x00, 0x00, 0x01, 0x00}));

    FakeHost& host = bench.host;
    host.frames.clear();
    host.statuses.clear();
    host.ranges.clear();
    host.positions.clear();
    host.showTexts.clear();
    Bytes image = PatternImage(1000);
    bench.StartScreens(image);
    host.RunUntilIdle();

    EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
    EXPECT_EQ(bench.Model().AreaContents(KEYPAD_AREA_SCREENS), image);
    EXPECT_EQ(host.StatusTexts(),
              (Texts{"File: screens.bin Opened.", "Checking for device..", "Got Mem ID. Starting screen memory erase..",
                     "Erasing screens sector: 2", "Erasing screens sector: 3", "Setting Programming index",
                     "Sending screens data", "Screens update complete"}));
    EXPECT_EQ(host.questions.back(), "This will erase the current ORBIX screens. Proceed?");
    EXPECT_EQ(Payloads(host, 0x84), (std::vector<Bytes>{{0x84, 0x01, 0x01}, {0x84, 0x01, 0x02}, {0x84, 0x01, 0x03}}));
    EXPECT_EQ(Payloads(host, 0xA0), (std::vector<Bytes>{{0xA0, 0x00, 0x00, 0x00, 0x00}}));
    EXPECT_EQ(PayloadLengths(host, 0x91), ChunkLengths(8, 8));
    EXPECT_EQ(host.ranges, (std::vector<std::pair<int, int>>{{0, 3}, {0, 100}}));
    EXPECT_EQ(host.positions, (std::vector<int>{0, 1, 2, 3, 0, 24, 37, 49, 62, 74, 86, 99, 100}));
    EXPECT_EQ(host.showTexts, (std::vector<bool>{true}));
    // No closing messages: the answer to the last chunk ends it.
    EXPECT_TRUE(SentFrames(host, 0x9C).empty());
    EXPECT_TRUE(SentFrames(host, 0x77).empty());
    EXPECT_EQ(SentFrames(host).back().payload[0], 0x91);
}


TEST(ScreensUpdate, AckToTheLastChunkDoesNotCompleteOnlyOkDoes) {
    UpdateBench bench;
    // 300 bytes: 124, 124 and a last chunk of 52 (payload length 53).
    bench.peer.pass = [](const Bytes& frame, const KeypadReply&) {
        SentFrame f;
        return !(DecodeSentFrame(frame, f) && f.payload.size() == 53 && f.payload[0] == 0x91);
    };
    Bytes image = PatternImage(300);
    bench.StartScreens(image);
    FakeHost& host = bench.host;
    host.Advance(5000);
    ASSERT_EQ(bench.peer.lostReplies, 1);
    EXPECT_TRUE(bench.Engine().IsBusy());
    EXPECT_EQ(host.LastStatus(), "Sending screens data");
    EXPECT_EQ(bench.Model().AreaContents(KEYPAD_AREA_SCREENS), image);
    size_t sent = host.frames.size();

    host.Deliver(ACK_FRAME);
    host.Advance(5000);
    EXPECT_TRUE(bench.Engine().IsBusy());
    EXPECT_EQ(host.LastStatus(), "Sending screens data");
    EXPECT_EQ(host.frames.size(), sent);

    host.Deliver(OK_FRAME);
    host.Advance(10);
    EXPECT_FALSE(bench.Engine().IsBusy());
    EXPECT_EQ(host.LastStatus(), "Screens update complete");
    EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
    EXPECT_EQ(host.frames.size(), sent);
}

// The time-remaining field during a data phase and just after it.
TEST(UpdateCountdown, FirstTicksShowTheInitialFigureAndTheEndShowsDashesOnce) {
    struct Case {
        bool firmware;
        Texts ticks;
    };
    const Case cases[] = {
        {true, {"20 second(s) remaining", "19 second(s) remaining", "18 second(s) remaining", "---"}},
        {false, {"18 minutes remaining", "18 minutes remaining", "18 minutes remaining", "---"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firmware ? "firmware" : "screens");
        KeypadConfig config;
        config.writeMsPerChunk = 10;  // 331 chunks: 3.31 s of data
        UpdateBench bench(config);
        Bytes image = PatternImage(40961);
        if (c.firmware)
            bench.StartFirmware(image);
        else
            bench.StartScreens(image);
        FakeHost& host = bench.host;
        host.RunUntilIdle();
        ASSERT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
        int64_t end = host.statuses.back().ms;
        host.Advance(10000);

        int64_t start = FirstFrameMs(host, c.firmware ? 0x90 : 0x91);
        EXPECT_EQ(end - start, 3310);
        Texts texts;
        std::vector<int64_t> times;
        for (const TimedText& t : host.timeTexts) {
            texts.push_back(t.text);
            times.push_back(t.ms - start);
        }
        EXPECT_EQ(texts, c.ticks);
        EXPECT_EQ(times, (std::vector<int64_t>{1010, 2020, 3030, 4040}));
        EXPECT_FALSE(host.TimerArmed(TIMER_COUNTDOWN));
    }
}
