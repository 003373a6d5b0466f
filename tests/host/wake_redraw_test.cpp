// When the monitor worker draws the whole display afresh: after an idle span
// of ten seconds or more (a sleep), and once more five seconds later.
#include <gtest/gtest.h>

#include <cstdint>

#include "service/wake_redraw.h"

namespace {
// Feeds the rule one cycle a second from `start`, with one idle span of
// `gap` ms after cycle `gapAfter`, and gives the cycles (counted from 0)
// that it answered with a full redraw, as a bit mask.
uint64_t RedrawCycles(uint32_t start, int gapAfter, uint32_t gap, int cycles) {
    WakeWatch watch{};
    uint64_t redrawn = 0;
    uint32_t now = start;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        const uint32_t idleFrom = now;
        now += cycle == gapAfter + 1 ? gap : 1000;
        if (FullRedrawDue(watch, idleFrom, now)) redrawn |= uint64_t{1} << cycle;
    }
    return redrawn;
}
}   // namespace

TEST(WakeRedraw, OrdinaryAndSlowCyclesNeverRedraw) {
    EXPECT_EQ(RedrawCycles(5000, 3, 1000, 60), 0u);
    // A pause stretched by a busy machine is still no sleep.
    EXPECT_EQ(RedrawCycles(5000, 3, 9999, 60), 0u);
}

TEST(WakeRedraw, SleepRedrawsAtOnceAndFiveSecondsLater) {
    // The span that ends in cycle 4 was 10 s: cycle 4 redraws, and cycle 9,
    // five one-second cycles later, again; then never.
    EXPECT_EQ(RedrawCycles(5000, 3, 10000, 60), (1u << 4) | (1u << 9));
    EXPECT_EQ(RedrawCycles(5000, 3, 8 * 3600 * 1000u, 60), (1u << 4) | (1u << 9));
}

TEST(WakeRedraw, SleepAcrossTheCounterWrap) {
    // GetTickCount wraps to 0 after 49.7 days; a sleep across the wrap is
    // still a sleep, and an ordinary second across it none.
    EXPECT_TRUE(SleptBetween(0xFFFFF000u, 0x00002000u));    // 12 s across the wrap
    EXPECT_FALSE(SleptBetween(0xFFFFFE00u, 0x00000200u));   // 1 s across it
    EXPECT_EQ(RedrawCycles(0xFFFFFFFFu - 2500, 3, 1000, 30), 0u);
    EXPECT_EQ(RedrawCycles(0xFFFFFFFFu - 4500, 3, 30000, 30), (1u << 4) | (1u << 9));
}

TEST(WakeRedraw, NewSleepBeforeTheSecondRedrawWaitsAgain) {
    WakeWatch watch{};
    EXPECT_TRUE(FullRedrawDue(watch, 0, 20000));   // woke at 20 s
    EXPECT_FALSE(FullRedrawDue(watch, 20000, 21000));
    EXPECT_TRUE(FullRedrawDue(watch, 21000, 40000));    // slept again, woke at 40 s
    EXPECT_FALSE(FullRedrawDue(watch, 40000, 44000));   // 4 s after the last wake
    EXPECT_TRUE(FullRedrawDue(watch, 44000, 45000));    // 5 s after it
    EXPECT_FALSE(FullRedrawDue(watch, 45000, 50000));
}
