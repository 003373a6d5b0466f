// When the monitor worker draws the whole display afresh: 5 s and 30 s after
// the start's set-up; after an idle span of ten seconds or more, or a sleep
// that the sleep clock saw, and 5 s and 30 s after that.
#include <gtest/gtest.h>

#include <cstdint>

#include "service/wake_redraw.h"

namespace {
// Sets the display up at `start`, then feeds the rule one cycle a second,
// with an idle span of `gap` ms and the sleep clock gaining `asleep` ms
// before cycle 31. Gives the cycles (from 0) it answered with a full redraw,
// as a bit mask.
uint64_t RedrawCycles(uint32_t start, uint32_t gap, uint64_t asleep) {
    WakeWatch watch{};
    ArmLateRedraws(watch, start, SleepClock{true, 1000});
    uint64_t redrawn = 0;
    for (int cycle = 0; cycle < 64; ++cycle) {
        const uint32_t idleFrom = start;
        start += cycle == 31 ? gap : 1000;
        if (FullRedrawDue(watch, idleFrom, start, SleepClock{true, 1000 + (cycle >= 31 ? asleep : 0)}))
            redrawn |= uint64_t{1} << cycle;
    }
    return redrawn;
}

constexpr uint64_t AfterStart = (1u << 4) | (1u << 29);
constexpr uint64_t AfterSleep = AfterStart | (uint64_t{1} << 31) | (uint64_t{1} << 36) | (uint64_t{1} << 61);
}   // namespace

TEST(WakeRedraw, LateBoxRedrawsAfterTheStartAndAfterEverySleep) {
    // A pause stretched by a busy machine is no sleep; a sleep clock that
    // gains less than a second, or steps back by a tick, none either.
    EXPECT_EQ(RedrawCycles(5000, 9999, 999), AfterStart);
    EXPECT_EQ(RedrawCycles(5000, 1000, uint64_t(0) - 16), AfterStart);
    // A sleep seen by the idle span, also across GetTickCount's wrap after
    // 49.7 days; one seen by the sleep clock alone (it began during a box
    // call, or lasted less than ten seconds).
    EXPECT_EQ(RedrawCycles(5000, 10000, 0), AfterSleep);
    EXPECT_EQ(RedrawCycles(0xFFFFFFFFu - 40000, 8 * 3600 * 1000u, 0), AfterSleep);
    EXPECT_EQ(RedrawCycles(5000, 1000, 1000), AfterSleep);
}

TEST(WakeRedraw, LateRedrawsThatAStallLetPassAreMadeUpByOne) {
    WakeWatch watch{};
    ArmLateRedraws(watch, 0, SleepClock{false, 0});
    EXPECT_TRUE(FullRedrawDue(watch, 32000, 33000, SleepClock{false, 0}));
    EXPECT_FALSE(FullRedrawDue(watch, 33000, 34000, SleepClock{false, 0}));
}

// GetTickCount64 counts milliseconds with the sleep, QueryUnbiasedInterruptTime
// 100-nanosecond units without it: after 10 h awake and 20 min asleep the
// sleep clock reads 20 min, whatever unit slip would read hours or nothing.
TEST(WakeRedraw, SleepClockInMillisecondsFromItsTwoCounters) {
    constexpr uint64_t awakeMs = 10ull * 3600 * 1000, asleepMs = 20ull * 60 * 1000;
    const SleepClock clock = SleepClockFrom(awakeMs + asleepMs, awakeMs * 10000 + 9999);
    EXPECT_TRUE(clock.known);
    EXPECT_EQ(clock.asleep, asleepMs);
}
