// The QTimer-backed ring timer keeps the rules the call session relies on. Durations are long
// and only compared against each other, so a busy machine cannot make these fail.

#include "call/RingTimer.h"
#include "support/EventLoop.h"

#include <gtest/gtest.h>

namespace talvora {
namespace {

constexpr int kLongMs = 100000;

TEST(QtRingTimer, FiresAfterItsIntervalAndRepeatsUntilDisabled) {
    QtRingTimer t;
    int ticks = 0;
    t.setTimeoutHandler([&] {
        if (++ticks == 2) {
            t.setEnabled(false);
        }
    });
    t.setInterval(20);
    EXPECT_EQ(t.remainingTimeMs(), -1); // not enabled yet
    t.setEnabled(true);
    EXPECT_TRUE(test::waitUntil([&] { return ticks == 2; }, 10000));
    test::pumpEvents(100);
    EXPECT_EQ(ticks, 2);
    EXPECT_FALSE(t.isEnabled());
}

TEST(QtRingTimer, IntervalZeroNeverFires) {
    QtRingTimer t;
    int ticks = 0;
    t.setTimeoutHandler([&] { ++ticks; });
    t.setInterval(0);
    t.setEnabled(true);
    EXPECT_TRUE(t.isEnabled());
    EXPECT_EQ(t.remainingTimeMs(), -1);
    test::pumpEvents(100);
    EXPECT_EQ(ticks, 0);
}

TEST(QtRingTimer, SameIntervalOrReEnablingDoesNotRestart) {
    QtRingTimer t;
    t.setInterval(kLongMs);
    t.setEnabled(true);
    test::pumpEvents(50);
    const int before = t.remainingTimeMs();
    ASSERT_GT(before, 0);
    ASSERT_LT(before, kLongMs);
    t.setInterval(kLongMs);
    t.setEnabled(true);
    EXPECT_LE(t.remainingTimeMs(), before);

    // A new value restarts the count-down.
    t.setInterval(2 * kLongMs);
    EXPECT_GT(t.remainingTimeMs(), kLongMs);
    t.setEnabled(false);
    EXPECT_EQ(t.remainingTimeMs(), -1);
}

} // namespace
} // namespace talvora
