// Replies that arrive damaged, padded, twice or late, against the simulated
// keypad in virtual time: what the loader sends because of them, and what the
// keypad's flash holds in the end.
#include <gtest/gtest.h>

#include <algorithm>

#include "support/update_bench.h"

using Bytes = std::vector<uint8_t>;

namespace {

const Bytes IMAGE = PatternImage(300);  // chunks of 124, 124 and 52

std::vector<Bytes> Payloads(const FakeHost& host) {
    std::vector<Bytes> out;
    for (const SentFrame& f : SentFrames(host)) out.push_back(f.payload);
    return out;
}

std::vector<int64_t> SendTimes(const FakeHost& host, const Bytes& payload) {
    std::vector<int64_t> times;
    for (const SentFrame& f : SentFrames(host))
        if (f.payload == payload) times.push_back(f.ms);
    return times;
}

// What a clean update puts on the line, for comparison.
std::vector<Bytes> CleanRun(bool firmware, const KeypadConfig& config = KeypadConfig()) {
    UpdateBench bench(config);
    if (firmware)
        bench.StartFirmware(IMAGE);
    else
        bench.StartScreens(IMAGE);
    bench.host.RunUntilIdle();
    EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
    return Payloads(bench.host);
}

// Runs to the end, then well past it: nothing may leave after the end.
void ExpectCompletedQuietly(UpdateBench& bench, bool firmware) {
    FakeHost& host = bench.host;
    host.RunUntilIdle();
    size_t sent = host.frames.size();
    host.Advance(20000);
    EXPECT_EQ(host.frames.size(), sent) << "a frame left after the end";
    EXPECT_EQ(bench.Engine().Mode(), MODE_IDLE);
    EXPECT_EQ(host.LastStatus(), firmware ? "Firmare update complete" : "Screens update complete");
    EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
    EXPECT_EQ(bench.Model().AreaContents(firmware ? KEYPAD_AREA_FIRMWARE : KEYPAD_AREA_SCREENS), IMAGE);
    EXPECT_TRUE(bench.Model().AreaContents(firmware ? KEYPAD_AREA_SCREENS : KEYPAD_AREA_FIRMWARE).empty());
}

// The keypad's answer to the first frame with this payload is replaced by
// bytes written out by hand; every other answer goes through.
void ReplaceFirstAnswer(UpdateBench& bench, const Bytes& request, const Bytes& replacement) {
    auto done = std::make_shared<bool>(false);
    FakeHost* host = &bench.host;
    bench.peer.pass = [=](const Bytes& frame, const KeypadReply&) {
        SentFrame f;
        if (*done || !DecodeSentFrame(frame, f) || f.payload != request) return true;
        *done = true;
        host->Deliver(replacement);
        return false;
    };
}

// A reply of 256 bytes: length byte 0x00, RSP_OK and 255 bytes of 0x01; the
// sum is 0xE0 + 0xFF = 0x1DF, so 0xDF.
Bytes LongOk() {
    Bytes frame = {0xF0, 0x00, 0xE0};
    frame.insert(frame.end(), 255, 0x01);
    frame.push_back(0xDF);
    return frame;
}

struct ReplyCase {
    const char* name;
    Bytes reply;  // in place of the keypad's OK to the first screens erase
    bool resent;  // whether the erase had to go out again
};

void PrintTo(const ReplyCase& c, std::ostream* os) { *os << c.name; }

class FaultReplyToAGuardedStep : public ::testing::TestWithParam<ReplyCase> {};

}  // namespace

TEST_P(FaultReplyToAGuardedStep, EraseOfScreensSectorOne) {
    const ReplyCase& c = GetParam();
    const Bytes erase = {0x84, 0x01, 0x01};
    UpdateBench bench;
    ReplaceFirstAnswer(bench, erase, c.reply);
    bench.StartScreens(IMAGE);
    ExpectCompletedQuietly(bench, false);

    // A damaged answer costs one resend after 500 ms; anything else runs the
    // step once, exactly as a plain OK would.
    std::vector<Bytes> expected = CleanRun(false);
    if (c.resent) {
        auto at = std::find(expected.begin(), expected.end(), erase);
        expected.insert(at, erase);
    }
    EXPECT_EQ(Payloads(bench.host), expected);
    EXPECT_EQ(SendTimes(bench.host, erase), c.resent ? (std::vector<int64_t>{200, 700}) : std::vector<int64_t>{200});
}

const ReplyCase REPLY_CASES[] = {
    ReplyCase{"BadSum", {0xF0, 0x01, 0xE0, 0xE1}, true},
    ReplyCase{"CutShortThenWhole", {0xF0, 0x01, 0xE0, 0xF0, 0x01, 0xE0, 0xE0}, false},
    ReplyCase{"CutAfterTheLengthThenWhole", {0xF0, 0x01, 0xF0, 0x01, 0xE0, 0xE0}, false},
    // The pending escape survives the new start byte and spoils its length.
    ReplyCase{"CutAfterAnEscapeSpoilsTheNextFrame", {0xF0, 0x02, 0xE0, 0xF1, 0xF0, 0x01, 0xE0, 0xE0}, true},
    ReplyCase{"NoiseBeforeIt", {0x00, 0x06, 0xE0, 0xE1, 0x82, 0x55, 0xFF, 0xF0, 0x01, 0xE0, 0xE0}, false},
    // After a whole frame only a raw start byte begins the next one.
    ReplyCase{"EscapedStartInNoiseIsNoFrame", {0xF1, 0x0F, 0x01, 0xE0, 0xE0, 0xF0, 0x01, 0xE0, 0xE0}, false},
    ReplyCase{"OkWith255MoreBytes", LongOk(), false},
};

INSTANTIATE_TEST_SUITE_P(Fault, FaultReplyToAGuardedStep, ::testing::ValuesIn(REPLY_CASES),
                         [](const ::testing::TestParamInfo<ReplyCase>& info) { return std::string(info.param.name); });

TEST(FaultReplies, NoiseBetweenEveryReplyChangesNothing) {
    for (bool firmware : {true, false}) {
        SCOPED_TRACE(firmware ? "firmware" : "screens");
        UpdateBench bench;
        FakeHost* host = &bench.host;
        // Bytes that look like reply codes, none of them a start or escape byte.
        bench.peer.pass = [=](const Bytes&, const KeypadReply& reply) {
            if (reply.bytes != Bytes{0xF0, 0x01, 0x06, 0x06})
                host->Deliver({0x00, 0x06, 0xE0, 0xE1, 0x82, 0x01, 0xE0, 0xE0, 0xFF}, reply.delayMs);
            return true;
        };
        if (firmware)
            bench.StartFirmware(IMAGE);
        else
            bench.StartScreens(IMAGE);
        ExpectCompletedQuietly(bench, firmware);
        EXPECT_EQ(Payloads(bench.host), CleanRun(firmware));
    }
}

// Replies are numbered over the keypad's life: firmware 1 ACK, 2 memory ID,
// 3..6 erases, 7 index, 8..10 chunks; screens 1 ACK, 2 memory ID, 3..5
// erases, 6 index, 7..9 chunks. Every reply takes 10 ms, so the order of
// events shows in their times. The duplicate is an OK like any other to the
// loader, which runs one more step on it and from then on sends each frame
// one answer early.
class FaultDuplicatedOk : public ::testing::Test {
protected:
    void Run(bool firmware, int duplicate) {
        KeypadConfig config;
        config.replyDelayMs = 10;
        std::vector<Bytes> clean = CleanRun(firmware, config);
        config.duplicateReply = duplicate;
        bench = std::make_unique<UpdateBench>(config);
        if (firmware)
            bench->StartFirmware(IMAGE);
        else
            bench->StartScreens(IMAGE);
        ExpectCompletedQuietly(*bench, firmware);
        // The same frames as a clean update, none resent, none missing.
        EXPECT_EQ(Payloads(bench->host), clean);
        frames = SentFrames(bench->host);
        done = bench->host.statuses.back().ms;
    }
    std::unique_ptr<UpdateBench> bench;
    std::vector<SentFrame> frames;
    int64_t done = 0;
};

TEST_F(FaultDuplicatedOk, DuringFirmwareDataSendsLastChunkAndChecksumQueryAtOnceAndCompletesBeforeExecuteIsAnswered) {
    Run(true, 9);  // the answer to chunk 2
    ASSERT_EQ(frames.size(), 14u);
    EXPECT_EQ(frames[9].payload.size(), 53u);
    EXPECT_EQ(frames[10].payload[0], 0x9C);
    EXPECT_EQ(frames[9].ms, 290);
    EXPECT_EQ(frames[10].ms, 290);  // before the last chunk is answered
    EXPECT_EQ(frames[13].payload, Bytes{0x77});
    // Completion comes with the Valid record's answer, as execute leaves.
    EXPECT_EQ(frames[13].ms, 310);
    EXPECT_EQ(done, 310);
    EXPECT_TRUE(bench->Model().Executed());
    EXPECT_EQ(bench->Model().ValidRecord().size(), 16u);
}

TEST_F(FaultDuplicatedOk, DuringFirmwareEraseSendsTwoErasesAtOnceAndCompletesBeforeExecuteIsAnswered) {
    Run(true, 3);  // the answer to the erase of sector 6
    ASSERT_EQ(frames.size(), 14u);
    EXPECT_EQ(frames[3].payload, (Bytes{0x84, 0x02, 0x07}));
    EXPECT_EQ(frames[4].payload, (Bytes{0x84, 0x02, 0x08}));
    EXPECT_EQ(frames[3].ms, 230);
    EXPECT_EQ(frames[4].ms, 230);
    // The index is set while the erase of sector 9 is still unanswered.
    EXPECT_EQ(frames[6].payload[0], 0xA0);
    EXPECT_EQ(frames[5].ms, frames[6].ms);
    EXPECT_EQ(frames[13].ms, 280);
    EXPECT_EQ(done, 280);
    EXPECT_TRUE(bench->Model().Executed());
}

TEST_F(FaultDuplicatedOk, DuringScreensDataCompletesAsTheLastChunkLeavesBeforeItIsAnswered) {
    Run(false, 8);  // the answer to chunk 2
    ASSERT_EQ(frames.size(), 9u);
    EXPECT_EQ(frames[8].payload.size(), 53u);
    EXPECT_EQ(frames[8].ms, 280);
    EXPECT_EQ(done, 280);  // its answer is due at 290
}

TEST_F(FaultDuplicatedOk, DuringScreensEraseSendsFramesInPairsAndCompletesOnTheAnswerToTheChunkBeforeLast) {
    Run(false, 3);  // the answer to the erase of sector 1
    ASSERT_EQ(frames.size(), 9u);
    EXPECT_EQ(frames[3].payload, (Bytes{0x84, 0x01, 0x02}));
    EXPECT_EQ(frames[4].payload, (Bytes{0x84, 0x01, 0x03}));
    // Erases 2 and 3, then the index and the first chunk, then the last two chunks.
    const int64_t pairs[] = {230, 240, 250};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(frames[3 + 2 * i].ms, pairs[i]);
        EXPECT_EQ(frames[4 + 2 * i].ms, pairs[i]);
    }
    // Chunk 2 and chunk 3 are answered at 260; the first of the two completes.
    EXPECT_EQ(done, 260);
}

// A firmware erase has 6000 ms to be answered before it is sent again.
TEST(FaultSlowErase, JustUnderSixSecondsIsNeverResent) {
    KeypadConfig config;
    config.eraseMsPerSector = 5990;
    UpdateBench bench(config);
    bench.StartFirmware(IMAGE);
    ExpectCompletedQuietly(bench, true);
    EXPECT_EQ(Payloads(bench.host), CleanRun(true));
    EXPECT_EQ(SendTimes(bench.host, {0x84, 0x02, 0x06}), std::vector<int64_t>{200});
    EXPECT_EQ(SendTimes(bench.host, {0x84, 0x02, 0x07}), std::vector<int64_t>{6190});
    EXPECT_EQ(SendTimes(bench.host, {0x84, 0x02, 0x08}), std::vector<int64_t>{12180});
    EXPECT_EQ(SendTimes(bench.host, {0x84, 0x02, 0x09}), std::vector<int64_t>{18170});
    EXPECT_EQ(SendTimes(bench.host, {0xA0, 0x00, 0x00, 0x01, 0x00}), (std::vector<int64_t>{24160, 24160}));
}

// The keypad answers the resend at once and the first erase when it is done:
// the second answer sends the erase of sector 8 10 ms after that of sector 7.
// The loader stays one frame ahead; its last step is answered at 12.22 s with
// one reply still owed, so it completes only when the erase of sector 9 is
// answered at 18.22 s.
TEST(FaultSlowErase, JustOverSixSecondsIsResentOnceAndCompletesWhenEveryReplyIsIn) {
    KeypadConfig config;
    config.eraseMsPerSector = 6010;
    UpdateBench bench(config);
    bench.StartFirmware(IMAGE);
    ExpectCompletedQuietly(bench, true);

    std::vector<Bytes> expected = CleanRun(true);
    expected.insert(expected.begin() + 3, Bytes{0x84, 0x02, 0x06});
    EXPECT_EQ(Payloads(bench.host), expected);
    EXPECT_EQ(SendTimes(bench.host, {0x84, 0x02, 0x06}), (std::vector<int64_t>{200, 6200}));
    EXPECT_EQ(SendTimes(bench.host, {0x84, 0x02, 0x07}), std::vector<int64_t>{6200});
    EXPECT_EQ(SendTimes(bench.host, {0x84, 0x02, 0x08}), std::vector<int64_t>{6210});
    EXPECT_EQ(SendTimes(bench.host, {0x84, 0x02, 0x09}), std::vector<int64_t>{12210});
    EXPECT_EQ(SendTimes(bench.host, {0xA0, 0x00, 0x00, 0x01, 0x00}), (std::vector<int64_t>{12220, 12220}));
    EXPECT_EQ(bench.host.statuses.back().ms, 18220);
    EXPECT_EQ(bench.host.LastStatus(), "Firmare update complete");
    // Both copies of the resent frame are byte for byte the first.
    std::vector<TimedFrame>& raw = bench.host.frames;
    EXPECT_EQ(raw[2].bytes, (Bytes{0xF0, 0x02, 0x03, 0x84, 0x02, 0x06, 0x8C}));
    EXPECT_EQ(raw[3].bytes, raw[2].bytes);
}
