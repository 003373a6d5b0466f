// The monitor worker's pause between cycles: a full second whatever the wait
// on the quit event did, and no second at all once a stop was asked for.
#include <gtest/gtest.h>

#include "service/monitor_worker.h"

namespace {
constexpr unsigned long WaitFailed = 0xFFFFFFFF;   // WAIT_FAILED, as for a NULL handle
constexpr unsigned long WaitAbandoned = 0x80;      // WAIT_ABANDONED: never for an event
}   // namespace

TEST(CyclePause, QuitRequestEndsThePause) {
    EXPECT_EQ(RestOfPause(PauseWaitQuit, 0), 0ul);
    EXPECT_EQ(RestOfPause(PauseWaitQuit, 400), 0ul);
}

TEST(CyclePause, WaitThatRanItsTimeIsThePause) {
    EXPECT_EQ(RestOfPause(PauseWaitTimedOut, CyclePause), 0ul);
    // The tick count moves in steps of 10-16 ms: a wait can seem short.
    EXPECT_EQ(RestOfPause(PauseWaitTimedOut, CyclePause - 15), 0ul);
}

TEST(CyclePause, FailedWaitStillLastsItsSecond) {
    EXPECT_EQ(RestOfPause(WaitFailed, 0), CyclePause);
    EXPECT_EQ(RestOfPause(WaitFailed, 300), CyclePause - 300);
    EXPECT_EQ(RestOfPause(WaitAbandoned, 0), CyclePause);
    // A wait that failed late has nothing left to sleep, and never more than
    // nothing.
    EXPECT_EQ(RestOfPause(WaitFailed, CyclePause), 0ul);
    EXPECT_EQ(RestOfPause(WaitFailed, 5 * CyclePause), 0ul);
}

TEST(CyclePause, IsOneSecond) { EXPECT_EQ(CyclePause, 1000ul); }
