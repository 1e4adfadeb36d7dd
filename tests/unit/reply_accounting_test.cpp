// Replies carry no sequence number, so a late or repeated reply can put the
// loader a frame ahead of the keypad. These runs, in virtual time against the
// simulated keypad, check that it never calls an update complete while a
// reply is still owed, and that the stall guard ends only real stalls.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/messages.h"
#include "support/update_bench.h"

using Bytes = std::vector<uint8_t>;

namespace {

struct FaultyRun {
    const char* name;
    bool firmware;
    size_t imageLength;
    KeypadConfig config;
};

KeypadConfig Config(void (*set)(KeypadConfig&)) {
    KeypadConfig config;
    set(config);
    return config;
}

// Each fault makes the keypad answer one frame twice; the Failed comes after.
const FaultyRun RUNS[] = {
    {"reply later than its timer", true, 300, Config([](KeypadConfig& c) { c.replyDelayMs = 600; })},
    {"memory ID answered twice", true, 300, Config([](KeypadConfig& c) { c.duplicateReply = 2; })},
    {"screens erase slower than 500 ms", false, 40961, Config([](KeypadConfig& c) {
         c.eraseMsPerSector = 600;
         c.screensLastSector = 1;
         c.baud = 115200;  // the chunks take time, as on a real line
     })},
};

void Start(UpdateBench& bench, const FaultyRun& run, const Bytes& image) {
    if (run.firmware) bench.StartFirmware(image);
    else bench.StartScreens(image);
}

}  // namespace

TEST(ReplyAccounting, AFailedAfterARepeatedReplyIsNeverHiddenBehindAComplete) {
    for (const FaultyRun& run : RUNS) {
        SCOPED_TRACE(run.name);
        Bytes image = PatternImage(run.imageLength);
        // Without the Failed the run completes, with the whole image in flash.
        {
            UpdateBench bench(run.config);
            Start(bench, run, image);
            bench.host.RunUntilIdle();
            EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
            EXPECT_EQ(bench.Model().AreaContents(run.firmware ? KEYPAD_AREA_FIRMWARE : KEYPAD_AREA_SCREENS), image);
        }
        // The last command answered Failed: execute, or the 331st (last) chunk.
        KeypadConfig config = run.config;
        config.failCommand = run.firmware ? CMD_EXECUTE : CMD_SCR_DATA;
        config.failOccurrence = run.firmware ? 1 : 331;
        UpdateBench bench(config);
        Start(bench, run, image);
        bench.host.RunUntilIdle();
        EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_FAILED);
        EXPECT_EQ(bench.host.LastStatus(), "Got \"Failed\" back from keypad.");
        std::vector<std::string> texts = bench.host.StatusTexts();
        EXPECT_EQ(std::count(texts.begin(), texts.end(), run.firmware ? "Firmare update complete" : "Screens update complete"), 0);
        EXPECT_TRUE(bench.Engine().EraseSent());
    }
}

// A reply lost and recovered by a resend leaves one frame unanswered for good:
// the completion waits 6 s for it, sends nothing meanwhile, then stands.
TEST(ReplyAccounting, ALostReplyOwesNothingAfterSixSeconds) {
    KeypadConfig config;
    config.dropFrom = 2;  // the memory ID record
    UpdateBench bench(config);
    Bytes image = PatternImage(300);
    bench.StartFirmware(image);
    bench.host.RunUntilIdle();
    EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
    EXPECT_EQ(bench.host.LastStatus(), "Firmare update complete");
    EXPECT_EQ(bench.host.statuses.back().ms, bench.host.frames.back().ms + 6000);
    EXPECT_EQ(bench.Model().AreaContents(KEYPAD_AREA_FIRMWARE), image);
}

// A held completion leaves no timer behind: a leftover one would end the next
// update early, with an empty status.
TEST(ReplyAccounting, AHeldCompletionLeavesNoTimerForTheNextUpdate) {
    KeypadConfig config;
    config.dropFrom = 2;            // the first update's completion waits 6 s for it
    config.eraseMsPerSector = 2000;  // the second update outlasts a leftover timer
    UpdateBench bench(config);
    Bytes image = PatternImage(300);
    bench.StartFirmware(image);
    bench.host.RunUntilIdle();
    // The countdown alone runs on: its next tick shows "---".
    for (int id : {TIMER_REPLY, TIMER_CONNECT, TIMER_ERASE, TIMER_SETTLE, TIMER_STALL})
        EXPECT_FALSE(bench.host.TimerArmed(id)) << "timer " << id;
    bench.StartFirmware(image);
    bench.host.RunUntilIdle();
    EXPECT_EQ(bench.host.StatusTexts().back(), "Firmare update complete") << "the second update was cut short";
}

// While the memory ID is awaited an OK answers something else: no erase, and
// the request goes again on its timer.
TEST(ReplyAccounting, OkWhileTheMemoryIdIsAwaitedIsNotTakenForIt) {
    UpdateBench bench;
    bool first = true;
    bench.peer.pass = [&](const Bytes& frame, const KeypadReply&) {
        SentFrame f;
        if (!DecodeSentFrame(frame, f) || f.payload != Bytes{CMD_GET_FW_MEM_ID} || !first) return true;
        first = false;
        bench.host.Deliver(OK_FRAME, 10);  // a stray OK instead of the record
        return false;
    };
    Bytes image = PatternImage(300);
    bench.StartFirmware(image);
    bench.host.Advance(300);
    EXPECT_TRUE(SentFrames(bench.host, CMD_ERASE_SECTOR).empty());
    EXPECT_TRUE(bench.host.TimerArmed(TIMER_REPLY));
    bench.host.RunUntilIdle();
    std::vector<SentFrame> requests = SentFrames(bench.host, CMD_GET_FW_MEM_ID);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].ms, 700);
    EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
    EXPECT_EQ(bench.Model().AreaContents(KEYPAD_AREA_FIRMWARE), image);
}

// Replies of a clean 300-byte firmware update: 1 ACK, 2 memory ID, 3-6 the
// erases of sectors 6-9, 7 the index, 8-10 the chunks, then the closing four.
TEST(StallGuard, EndsASilentDataPhaseAndNamesWhereItStopped) {
    KeypadConfig config;
    config.silentAfter = 8;  // the second chunk is never answered
    UpdateBench bench(config);
    bench.Engine().SetStallGuard(3, true);
    bench.StartFirmware(PatternImage(300));
    bench.host.Advance(1000);
    int64_t lastWrite = bench.host.frames.back().ms;
    // Noise is not an answer: bytes that never make a frame hold nothing off.
    for (int i = 1; i <= 5; ++i) bench.host.Deliver({0x55}, i * 700);
    bench.host.RunUntilIdle();
    EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_FAILED);
    EXPECT_EQ(bench.host.LastStatus(), "No reply from ORBIX for 3 seconds (data chunk 2 of 3, image offset 0xF8)");
    EXPECT_EQ(bench.host.statuses.back().ms, lastWrite + 3000);
    EXPECT_TRUE(bench.Engine().EraseSent());
}

// Where a timer resends, the guard rests: a lost erase reply is resent after
// 6 s even with a 1-second guard. The window's form names no place.
TEST(StallGuard, RestsWhileAReplyTimerResendsAndSaysSecondsRight) {
    KeypadConfig config;
    config.dropFrom = 4;  // the erase of sector 7
    UpdateBench bench(config);
    bench.Engine().SetStallGuard(1, false);
    Bytes image = PatternImage(300);
    bench.StartFirmware(image);
    bench.host.RunUntilIdle();
    EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
    EXPECT_EQ(bench.Model().AreaContents(KEYPAD_AREA_FIRMWARE), image);

    KeypadConfig silent;
    silent.silentAfter = 14 - 1;  // execute unanswered
    UpdateBench quiet(silent);
    quiet.Engine().SetStallGuard(1, false);
    quiet.StartFirmware(image);
    quiet.host.RunUntilIdle();
    EXPECT_EQ(quiet.host.LastStatus(), "No reply from ORBIX for 1 second");
}

// A scan reads both records and writes nothing; a lost record is asked again.
TEST(Scan, ReadsBothMemoryIdsAndErasesNothing) {
    KeypadConfig config;
    config.firmwareLastSector = 12;
    config.screensLastSector = 5;
    config.programIndex = 0x20000;
    config.tagValue = 0x12345678;
    config.dropFrom = 3;  // the screens record, once
    UpdateBench bench(config);
    bench.Engine().OnScanKeypad();
    bench.host.RunUntilIdle();
    CLoaderEngine& engine = bench.Engine();
    EXPECT_EQ(engine.Outcome(), OUTCOME_SUCCESS);
    EXPECT_EQ(bench.host.LastStatus(), "ORBIX detected!");
    EXPECT_TRUE(engine.FirmwareIdRead() && engine.ScreensIdRead());
    EXPECT_EQ(engine.FirmwareLastSector(), 12);
    EXPECT_EQ(engine.ScreensLastSector(), 5);
    EXPECT_EQ(engine.ProgramIndex(), 0x20000u);
    EXPECT_EQ(engine.TagValue(), 0x12345678u);
    EXPECT_EQ(SentFrames(bench.host, CMD_GET_SCR_MEM_ID).size(), 2u);
    EXPECT_TRUE(SentFrames(bench.host, CMD_ERASE_SECTOR).empty());
    EXPECT_FALSE(engine.EraseSent());
}
