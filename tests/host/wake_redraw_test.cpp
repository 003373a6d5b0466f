// When the monitor worker draws the whole display afresh: 5 s and 30 s after
// the start's set-up; after an idle span of ten seconds or more (a sleep), or
// a sleep the sleep clock saw, and 5 s and 30 s after that.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

#include "service/wake_redraw.h"

namespace {
constexpr SleepClock Unknown{false, 0};

// Sets the display up at `start`, then feeds the rule one cycle a second,
// with one idle span of `gap` ms before cycle `gapAt` and the sleep clock
// (from 1000 ms asleep) gaining `asleep` ms before cycle `asleepAt`. Gives the
// cycles (counted from 0) that it answered with a full redraw, as a bit mask.
uint64_t RedrawCycles(uint32_t start, int gapAt, uint32_t gap, int asleepAt = -1, uint64_t asleep = 0) {
    WakeWatch watch{};
    ArmLateRedraws(watch, start, SleepClock{true, 1000});
    uint64_t redrawn = 0, clock = 1000;
    uint32_t now = start;
    for (int cycle = 0; cycle < 64; ++cycle) {
        const uint32_t idleFrom = now;
        now += cycle == gapAt ? gap : 1000;
        clock += cycle == asleepAt ? asleep : 0;
        if (FullRedrawDue(watch, idleFrom, now, SleepClock{true, clock})) redrawn |= uint64_t{1} << cycle;
    }
    return redrawn;
}

constexpr uint64_t Cycles(std::initializer_list<int> cycles) {
    uint64_t mask = 0;
    for (int cycle : cycles) mask |= uint64_t{1} << cycle;
    return mask;
}
}   // namespace

TEST(WakeRedraw, LateBoxRedrawsAfterTheStartOnly) {
    EXPECT_EQ(RedrawCycles(5000, 40, 1000), Cycles({4, 29}));
    // A pause stretched by a busy machine is no sleep; a clock that steps
    // back, or gains less than a second, none either.
    EXPECT_EQ(RedrawCycles(5000, 40, 9999), Cycles({4, 29}));
    EXPECT_EQ(RedrawCycles(5000, 40, 1000, 40, 999), Cycles({4, 29}));
    EXPECT_EQ(RedrawCycles(5000, 40, 1000, 40, uint64_t(0) - 16), Cycles({4, 29}));
}

TEST(WakeRedraw, SleepRedrawsAtOnceThenFiveAndThirtySecondsLater) {
    // Seen by the idle span, also across GetTickCount's wrap after 49.7 days.
    EXPECT_EQ(RedrawCycles(5000, 31, 10000), Cycles({4, 29, 31, 36, 61}));
    EXPECT_EQ(RedrawCycles(0xFFFFFFFFu - 40000, 31, 8 * 3600 * 1000u), Cycles({4, 29, 31, 36, 61}));
    // Seen by the sleep clock alone: a sleep that began during a box call,
    // or lasted less than ten seconds.
    EXPECT_EQ(RedrawCycles(5000, 40, 1000, 31, 1000), Cycles({4, 29, 31, 36, 61}));
}

TEST(WakeRedraw, WithoutTheSleepClockAndAfterAStall) {
    WakeWatch watch{};
    ArmLateRedraws(watch, 0, Unknown);
    EXPECT_FALSE(FullRedrawDue(watch, 3000, 4000, Unknown));
    // Both late redraws passed while a slow box held the worker: made up by one.
    EXPECT_TRUE(FullRedrawDue(watch, 32000, 33000, Unknown));
    EXPECT_FALSE(FullRedrawDue(watch, 33000, 34000, Unknown));
    // Without the sleep clock (Windows XP), the idle span still tells a sleep.
    EXPECT_TRUE(FullRedrawDue(watch, 34000, 44000, Unknown));
}
