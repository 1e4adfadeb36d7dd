// The command line's time remaining from the keypad's acknowledged bytes.
#include <gtest/gtest.h>

#include "session/send_rate.h"

TEST(SendRate, FigureFollowsTheAcknowledgedBytesPerSecond) {
    const int chunk = 124;
    const int total = 331 * chunk;
    CSendRate rate;
    rate.Begin(1000, chunk);
    // The first reply at once: no time has passed, no rate yet.
    EXPECT_EQ(rate.Update(1000, 2 * chunk, total), -1);
    // Then a reply every 10 ms: 12,400 bytes a second. The chunk just sent
    // is not acknowledged yet and counts as still to go.
    rate.Begin(1000, chunk);
    int sent = chunk;
    int half = -1;
    for (int k = 1; sent < total; ++k) {
        const int acknowledged = sent;
        sent += chunk;
        const int seconds = rate.Update(1000 + 10 * k, sent, total);
        const int expected = (total - acknowledged + 12399) / 12400;
        ASSERT_EQ(seconds, expected) << "chunk " << k;
        if (k == 165) half = seconds;
    }
    EXPECT_EQ(half, 2);  // 166 chunks left at 100 a second

    // Half the rate from the start: twice the time.
    rate.Begin(0, chunk);
    EXPECT_EQ(rate.Update(20, 2 * chunk, total), (total - chunk + 6199) / 6200);

    EXPECT_EQ(RemainingText(-1), "---");
    EXPECT_EQ(RemainingText(1), "1 second remaining");
    EXPECT_EQ(RemainingText(89), "89 seconds remaining");
    EXPECT_EQ(RemainingText(90), "2 minutes remaining");
    EXPECT_EQ(RemainingText(1000), "17 minutes remaining");
}
