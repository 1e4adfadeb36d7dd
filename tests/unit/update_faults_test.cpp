// Updates that go wrong, against the simulated keypad in virtual time:
// silent steps and their time-outs, lost replies, "Failed" from the keypad,
// Abort, and the time estimate an aborted update leaves to the next one.
#include <gtest/gtest.h>

#include "support/update_bench.h"

using Bytes = std::vector<uint8_t>;

namespace {

// When each transmission of the frame with this payload left.
std::vector<int64_t> SendTimes(const FakeHost& host, const Bytes& payload) {
    std::vector<int64_t> times;
    for (const SentFrame& f : SentFrames(host))
        if (f.payload == payload) times.push_back(f.ms);
    return times;
}

}  // namespace

TEST(UpdateFaults, SilentGuardedStepsTimeOutWithTheirDescription) {
    struct Case {
        const char* name;
        bool firmware;
        int silentAfter;  // replies the keypad gives before it falls silent
        Bytes request;    // the frame left unanswered
        std::vector<int64_t> sends;
        const char* status;
    };
    // The probe is answered at 200 ms and every later reply at once, so the
    // unanswered frame first leaves at 200 ms. A resend always waits 500 ms;
    // only a firmware erase waits 6 s the first time.
    const Case cases[] = {
        {"firmware memory ID", true, 1, {0x88}, {200, 700, 1200, 1700}, "Timed out Getting firmware memory ID"},
        {"screens memory ID", false, 1, {0x89}, {200, 700, 1200, 1700}, "Timed out Getting screen memory ID"},
        {"first firmware erase",
         true,
         2,
         {0x84, 0x02, 0x06},
         {200, 6200, 6700, 7200},
         "Timed out Erasing firmware sector 6 (first sector)"},
        {"second firmware erase",
         true,
         3,
         {0x84, 0x02, 0x07},
         {200, 6200, 6700, 7200},
         "Timed out Erasing firmware sector: 7"},
        {"first screens erase",
         false,
         2,
         {0x84, 0x01, 0x01},
         {200, 700, 1200, 1700},
         "Timed out Erasing screens sector 1"},
        {"second screens erase",
         false,
         3,
         {0x84, 0x01, 0x02},
         {200, 700, 1200, 1700},
         "Timed out Erasing screens sector: 2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KeypadConfig config;
        config.silentAfter = c.silentAfter;
        UpdateBench bench(config);
        if (c.firmware)
            bench.StartFirmware(PatternImage(500));
        else
            bench.StartScreens(PatternImage(500));
        FakeHost& host = bench.host;
        host.Advance(20000);

        EXPECT_EQ(SendTimes(host, c.request), c.sends);
        // Resends repeat the frame byte for byte, sequence number included.
        ASSERT_GE(host.frames.size(), 4u);
        size_t first = host.frames.size() - 4;
        for (size_t i = first + 1; i < host.frames.size(); ++i)
            EXPECT_EQ(host.frames[i].bytes, host.frames[first].bytes);

        EXPECT_EQ(host.LastStatus(), c.status);
        EXPECT_EQ(host.statuses.back().ms, c.sends.back() + 500);
        EXPECT_FALSE(bench.Engine().IsBusy());
        EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_FAILED);
        EXPECT_EQ(host.busyStates.back(), false);
        // The bar shows percentages only once erasing has begun.
        EXPECT_EQ(host.showTexts.empty(), c.silentAfter == 1);
    }
}

TEST(UpdateFaults, OneLostReplyIsRecoveredByOneResend) {
    struct Case {
        const char* name;
        int dropFrom;  // the keypad's reply number that is lost
        Bytes request;
        std::vector<int64_t> sends;
    };
    const Case cases[] = {
        {"memory ID", 2, {0x88}, {200, 700}},
        {"first erase", 3, {0x84, 0x02, 0x06}, {200, 6200}},
        {"second erase", 4, {0x84, 0x02, 0x07}, {200, 6200}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        KeypadConfig config;
        config.dropFrom = c.dropFrom;
        UpdateBench bench(config);
        Bytes image = PatternImage(1000);
        bench.StartFirmware(image);
        bench.host.RunUntilIdle();
        EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
        EXPECT_EQ(bench.Model().AreaContents(KEYPAD_AREA_FIRMWARE), image);
        EXPECT_EQ(SendTimes(bench.host, c.request), c.sends);
        // Nothing else was sent twice.
        int repeats = 0;
        for (size_t i = 1; i < bench.host.frames.size(); ++i)
            repeats += bench.host.frames[i].bytes == bench.host.frames[i - 1].bytes;
        EXPECT_EQ(repeats, 1);
    }
}

TEST(UpdateFaults, ResendTimerDoesNotFireAgainstTheNextErase) {
    KeypadConfig config;
    config.dropFrom = 3;  // the answer to the first erase is lost
    config.eraseMsPerSector = 2000;
    UpdateBench bench(config);
    bench.StartFirmware(PatternImage(1000));
    FakeHost& host = bench.host;
    host.RunUntilIdle();
    EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);

    // The resend of sector 6 at 6.2 s is answered at once (the keypad has done
    // that work); sector 7 then takes its 2 s and must not be resent meanwhile.
    EXPECT_EQ(SendTimes(host, {0x84, 0x02, 0x06}), (std::vector<int64_t>{200, 6200}));
    EXPECT_EQ(SendTimes(host, {0x84, 0x02, 0x07}), (std::vector<int64_t>{6200}));
    EXPECT_EQ(SendTimes(host, {0x84, 0x02, 0x08}), (std::vector<int64_t>{8200}));
    EXPECT_EQ(SendTimes(host, {0x84, 0x02, 0x09}), (std::vector<int64_t>{10200}));
}

TEST(UpdateFaults, FailedMidEraseEndsAtOnce) {
    KeypadConfig config;
    config.failCommand = 0x84;
    config.failOccurrence = 2;  // the erase of sector 7
    UpdateBench bench(config);
    bench.StartFirmware(PatternImage(1000));
    FakeHost& host = bench.host;
    host.Advance(30000);

    EXPECT_EQ(host.LastStatus(), "Got \"Failed\" back from keypad.");
    EXPECT_EQ(host.statuses.back().ms, 200);
    EXPECT_EQ(bench.Engine().Mode(), MODE_IDLE);
    EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_FAILED);
    EXPECT_EQ(host.busyStates.back(), false);
    std::vector<SentFrame> frames = SentFrames(host);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().payload, (Bytes{0x84, 0x02, 0x07}));
    EXPECT_EQ(SendTimes(host, {0x84, 0x02, 0x07}).size(), 1u);
    for (int id : {TIMER_REPLY, TIMER_CONNECT, TIMER_ERASE}) EXPECT_FALSE(host.TimerArmed(id));
}

TEST(UpdateFaults, AbortInTheDataPhaseSendsNothingMore) {
    for (bool firmware : {true, false}) {
        SCOPED_TRACE(firmware ? "firmware" : "screens");
        KeypadConfig config;
        config.writeMsPerChunk = 10;
        UpdateBench bench(config);
        if (firmware)
            bench.StartFirmware(PatternImage(40961));
        else
            bench.StartScreens(PatternImage(40961));
        FakeHost& host = bench.host;
        host.Advance(1505);  // mid data, with a chunk's answer on its way
        ASSERT_TRUE(bench.Engine().IsBusy());
        ASSERT_GT(bench.Engine().DataPosition(), 0u);
        size_t sent = host.frames.size();
        size_t times = host.timeTexts.size();

        bench.Engine().Abort();
        int64_t aborted = host.Now();
        EXPECT_EQ(host.LastStatus(), "Operation aborted.");
        EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_ABORTED);
        EXPECT_EQ(host.busyStates.back(), false);
        host.Advance(20000);
        EXPECT_EQ(host.frames.size(), sent);
        EXPECT_EQ(host.LastStatus(), "Operation aborted.");
        // The countdown's next tick clears the field and is its last.
        ASSERT_EQ(host.timeTexts.size(), times + 1);
        EXPECT_EQ(host.timeTexts.back().text, "---");
        EXPECT_LE(host.timeTexts.back().ms - aborted, 1010);
        EXPECT_FALSE(host.TimerArmed(TIMER_COUNTDOWN));
    }
}

TEST(UpdateFaults, AbortWhileAGuardedStepWaitsStopsItsResends) {
    struct Case {
        const char* name;
        int silentAfter;
        int64_t abortAt;  // between the request at 200 ms and its first resend
    };
    for (const Case& c : {Case{"memory ID", 1, 600}, Case{"first erase", 2, 5000}}) {
        SCOPED_TRACE(c.name);
        KeypadConfig config;
        config.silentAfter = c.silentAfter;
        UpdateBench bench(config);
        bench.StartFirmware(PatternImage(500));
        FakeHost& host = bench.host;
        host.Advance(c.abortAt - host.Now());
        size_t sent = host.frames.size();
        bench.Engine().Abort();
        host.Advance(20000);
        EXPECT_EQ(host.frames.size(), sent);
        EXPECT_EQ(host.LastStatus(), "Operation aborted.");
        for (int id : {TIMER_REPLY, TIMER_CONNECT, TIMER_ERASE}) EXPECT_FALSE(host.TimerArmed(id));
    }
}

TEST(UpdateCountdown, AbortedUpdateLeavesTheNextAnEarlyEstimate) {
    KeypadConfig config;
    config.writeMsPerChunk = 50;
    UpdateBench bench(config);
    Bytes image = PatternImage(40961);  // 331 chunks
    FakeHost& host = bench.host;

    // First update: stopped after 300 chunks of the loop, 100 short of an estimate.
    bench.StartFirmware(image);
    host.Advance(10);
    std::vector<SentFrame> chunks = SentFrames(host, 0x90);
    ASSERT_EQ(chunks.size(), 1u);
    host.Advance(chunks[0].ms + 300 * 50 + 25 - host.Now());
    ASSERT_EQ(bench.Engine().DataPosition(), 301u * 124);
    EXPECT_EQ(bench.Engine().SecondsRemaining(), 20 - 14);  // counted down only
    bench.Engine().Abort();
    host.Advance(3000);
    size_t firstRun = SentFrames(host, 0x90).size();

    // Second update: its estimate comes with the 100th chunk of the loop, 5 s
    // in, from 101 chunks sent and 28437 bytes left: 28437 / 12524 * 5 = 11.
    bench.StartFirmware(image);
    host.Advance(10);
    chunks = SentFrames(host, 0x90);
    ASSERT_EQ(chunks.size(), firstRun + 1);
    int64_t start = chunks.back().ms;
    host.Advance(start + 4999 - host.Now());
    EXPECT_EQ(bench.Engine().SecondsRemaining(), 20 - 4);
    host.Advance(1);
    EXPECT_EQ(bench.Engine().DataPosition(), 101u * 124);
    EXPECT_EQ(bench.Engine().SecondsRemaining(), 11);
    host.Advance(1010);
    ASSERT_FALSE(host.timeTexts.empty());
    EXPECT_EQ(host.timeTexts.back().ms, start + 5050);
    EXPECT_EQ(host.timeTexts.back().text, "11 second(s) remaining");

    host.RunUntilIdle();
    EXPECT_EQ(bench.Engine().Outcome(), OUTCOME_SUCCESS);
    EXPECT_EQ(bench.Model().AreaContents(KEYPAD_AREA_FIRMWARE), image);
}
