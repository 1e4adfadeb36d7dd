// The engine in virtual time: the connection test, the reply dispatch,
// time-outs, Abort and Close.
#include <gtest/gtest.h>

#include "support/fake_host.h"

using Bytes = std::vector<uint8_t>;

namespace {
const Bytes SYNC_SEQ0 = {0xF0, 0x00, 0x02, 0x55, 0xAA, 0xFF};
}

TEST(ConnectionTest, NoKeypadTimesOutAfterFourProbes) {
    FakeHost host;
    host.Engine().OnTestConnection();
    host.Advance(10000);

    ASSERT_EQ(host.frames.size(), 4u);
    const int64_t expected[] = {200, 1200, 2200, 3200};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(host.frames[i].ms, expected[i]);
        EXPECT_EQ(host.frames[i].bytes, SYNC_SEQ0);  // resends keep the sequence number
    }
    // One BREAK, before the first transmission, held 100 ms.
    ASSERT_EQ(host.breaks.size(), 2u);
    EXPECT_EQ(host.breaks[0], std::make_pair(int64_t{0}, true));
    EXPECT_EQ(host.breaks[1], std::make_pair(int64_t{100}, false));

    EXPECT_EQ(host.StatusTexts(), (std::vector<std::string>{"Checking for connected ORBIX", "Checking for device..",
                                                            "Connecting: No response from ORBIX"}));
    EXPECT_EQ(host.statuses.back().ms, 4200);
    EXPECT_EQ(host.busyStates, (std::vector<bool>{true, false}));
    EXPECT_EQ(host.Engine().Outcome(), OUTCOME_FAILED);
    EXPECT_TRUE(host.activity.empty());  // the test leaves the activity bar alone
}

TEST(ConnectionTest, AckAfterTheThirdTransmissionStillDetects) {
    FakeHost host;
    host.Engine().OnTestConnection();
    host.Advance(2300);
    ASSERT_EQ(host.frames.size(), 3u);
    host.Deliver(ACK_FRAME);
    host.Advance(5000);
    EXPECT_EQ(host.LastStatus(), "ORBIX detected!");
    EXPECT_EQ(host.frames.size(), 3u);
    EXPECT_FALSE(host.Engine().IsBusy());
    EXPECT_FALSE(host.TimerArmed(TIMER_CONNECT));
    EXPECT_EQ(host.Engine().Outcome(), OUTCOME_SUCCESS);
}

TEST(ConnectionTest, IgnoredRepliesLeaveTheTimerRunning) {
    FakeHost host;
    host.Engine().OnTestConnection();
    // OK, a memory ID and an unknown code during the test change nothing.
    host.Deliver(OK_FRAME, 300);
    host.Deliver({0xF0, 0x01, 0x82, 0x82}, 400);
    host.Deliver({0xF0, 0x01, 0x42, 0x42}, 500);
    host.Advance(600);
    EXPECT_TRUE(host.Engine().IsBusy());
    EXPECT_TRUE(host.TimerArmed(TIMER_CONNECT));
    host.Advance(5000);
    EXPECT_EQ(host.LastStatus(), "Connecting: No response from ORBIX");
}

TEST(ConnectionTest, FailedEndsTheTestAndIsShownWhileIdle) {
    FakeHost host;
    host.Deliver(FAILED_FRAME);
    host.Advance(1);
    EXPECT_EQ(host.LastStatus(), "Got \"Failed\" back from keypad.");
    EXPECT_EQ(host.Engine().Mode(), MODE_IDLE);
    EXPECT_EQ(host.Engine().Outcome(), OUTCOME_NONE);

    host.Engine().OnTestConnection();
    host.Deliver(FAILED_FRAME, 500);
    host.Advance(5000);
    EXPECT_EQ(host.LastStatus(), "Got \"Failed\" back from keypad.");
    EXPECT_EQ(host.frames.size(), 1u);
    EXPECT_EQ(host.Engine().Outcome(), OUTCOME_FAILED);
}

TEST(ConnectionTest, AbortStopsEverythingAndLateRepliesChangeNothing) {
    FakeHost host;
    host.Engine().OnTestConnection();
    host.Advance(700);
    host.Engine().Abort();
    EXPECT_EQ(host.LastStatus(), "Operation aborted.");
    EXPECT_EQ(host.busyStates.back(), false);
    EXPECT_EQ(host.Engine().Outcome(), OUTCOME_ABORTED);
    size_t sent = host.frames.size();
    size_t texts = host.statuses.size();
    for (auto& frame : {ACK_FRAME, OK_FRAME, Bytes{0xF0, 0x01, 0x82, 0x82}}) host.Deliver(frame, 100);
    host.Advance(10000);
    EXPECT_EQ(host.frames.size(), sent);
    EXPECT_EQ(host.statuses.size(), texts);
}

TEST(ConnectionTest, AbortWhileIdleDoesNothingAndSequenceRunsOn) {
    FakeHost host;
    host.Engine().Abort();
    EXPECT_TRUE(host.statuses.empty());
    EXPECT_TRUE(host.busyStates.empty());
    EXPECT_TRUE(host.outcomes.empty());

    host.Engine().OnTestConnection();
    host.Deliver(ACK_FRAME, 250);
    host.Advance(300);
    host.Engine().OnTestConnection();
    host.Advance(300);
    // The second probe carries the next sequence number.
    EXPECT_EQ(host.frames.back().bytes, (Bytes{0xF0, 0x01, 0x02, 0x55, 0xAA, 0xFF}));
}

TEST(ConnectionTest, PortLostInsideTheProbesOwnWriteSendsNothingMore) {
    FakeHost host;
    host.onWrite = [&](const Bytes&) {
        if (host.frames.size() == 1) host.Engine().EndOperation("COM Port: 3 not available", OUTCOME_PORT_LOST);
    };
    host.Engine().OnTestConnection();
    host.Advance(10000);
    EXPECT_EQ(host.frames.size(), 1u);
    EXPECT_EQ(host.LastStatus(), "COM Port: 3 not available");
    EXPECT_EQ(host.Engine().Outcome(), OUTCOME_PORT_LOST);
    EXPECT_FALSE(host.TimerArmed(TIMER_CONNECT));
}
