// When the monitor worker draws the whole display afresh: 5 s and 30 s after
// the start's set-up; after an idle span of ten seconds or more, or a sleep
// that the sleep clock saw, and 5 s and 30 s after that.
#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>

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

namespace {
// The cycles (one a second from 0, as a bit mask) that the rule answers with
// a full redraw when the start's set-up is at 0 and Windows announced an
// arrival or a resume before each cycle in `announcedAt`. Written afresh: an
// announcement noted at cycle n arms redraws at n + 1 and n + 5, and takes
// the place of whatever pair was still pending.
uint64_t AnnouncedRedrawCycles(uint64_t announcedAt) {
    WakeWatch watch{};
    ArmLateRedraws(watch, 0, SleepClock{false, 0});
    uint64_t redrawn = 0;
    for (int cycle = 1; cycle < 48; ++cycle) {
        const uint32_t now = 1000u * static_cast<uint32_t>(cycle);
        if (announcedAt >> cycle & 1) ArmAnnouncedRedraws(watch, now);
        if (FullRedrawDue(watch, now - 1000, now, SleepClock{false, 0})) redrawn |= uint64_t{1} << cycle;
    }
    return redrawn;
}

uint64_t Cycles(std::initializer_list<int> cycles) {
    uint64_t mask = 0;
    for (int cycle : cycles) mask |= uint64_t{1} << cycle;
    return mask;
}
}   // namespace

TEST(WakeRedraw, AnAnnouncementArmsOnePairInPlaceOfThePendingOne) {
    // None: the start's pair at 5 s and 30 s.
    EXPECT_EQ(AnnouncedRedrawCycles(0), Cycles({5, 30}));
    // An arrival at 10 s, after the start's first redraw, ends its 30 s one.
    EXPECT_EQ(AnnouncedRedrawCycles(Cycles({10})), Cycles({5, 11, 15}));
    // An arrival and a resume a second apart (a wake that also re-enumerates
    // USB) cost one pair, after the later; so does a burst of arrivals.
    EXPECT_EQ(AnnouncedRedrawCycles(Cycles({10, 11})), Cycles({5, 12, 16}));
    EXPECT_EQ(AnnouncedRedrawCycles(Cycles({10, 11, 12, 13})), Cycles({5, 14, 18}));
    // One after the first redraw of a pair replaces only what was pending.
    EXPECT_EQ(AnnouncedRedrawCycles(Cycles({10, 13})), Cycles({5, 11, 14, 18}));
}

TEST(WakeRedraw, ASleepTakesThePlaceOfAnAnnouncedPair) {
    WakeWatch watch{};
    ArmLateRedraws(watch, 0, SleepClock{true, 0});
    ArmAnnouncedRedraws(watch, 1000);
    EXPECT_TRUE(FullRedrawDue(watch, 1000, 2000, SleepClock{true, 0}));
    // The sleep clock shows a sleep at 3 s: a set-up at once, its own pair at
    // 8 s and 33 s, and the announced one due at 6 s is gone.
    EXPECT_TRUE(FullRedrawDue(watch, 2000, 3000, SleepClock{true, 1000}));
    uint64_t redrawn = 0;
    for (uint32_t second = 4; second < 40; ++second)
        if (FullRedrawDue(watch, (second - 1) * 1000, second * 1000, SleepClock{true, 1000}))
            redrawn |= uint64_t{1} << second;
    EXPECT_EQ(redrawn, Cycles({8, 33}));
}

TEST(WakeRedraw, OnlyArrivalsAndResumesAnnounceABoxThatMayBeBlank) {
    // Windows' numbers: SERVICE_CONTROL_DEVICEEVENT 0x0B, _POWEREVENT 0x0D;
    // DBT_DEVICEARRIVAL 0x8000, DBT_DEVICEQUERYREMOVE 0x8001,
    // DBT_DEVICEREMOVECOMPLETE 0x8004; PBT_APMRESUMEAUTOMATIC 0x12,
    // PBT_APMRESUMESUSPEND 7, PBT_APMRESUMECRITICAL 6, PBT_APMSUSPEND 4,
    // PBT_APMQUERYSUSPEND 0, PBT_APMPOWERSTATUSCHANGE 0x0A.
    EXPECT_TRUE(AnnouncesReplugOrResume(0x0B, 0x8000));
    EXPECT_TRUE(AnnouncesReplugOrResume(0x0D, 0x12));
    EXPECT_TRUE(AnnouncesReplugOrResume(0x0D, 7));
    EXPECT_TRUE(AnnouncesReplugOrResume(0x0D, 6));
    for (unsigned long removal : {0x8001ul, 0x8004ul}) EXPECT_FALSE(AnnouncesReplugOrResume(0x0B, removal));
    for (unsigned long power : {0ul, 4ul, 0x0Aul}) EXPECT_FALSE(AnnouncesReplugOrResume(0x0D, power));
    // A resume's number under another control is no resume.
    EXPECT_FALSE(AnnouncesReplugOrResume(0x0B, 0x12));
    EXPECT_FALSE(AnnouncesReplugOrResume(4, 0x8000));
}

// While the worker holds for a suspend's notice nothing is redrawn, not even
// a late redraw that falls due. The machine's waking ends the hold with a
// full redraw: one second after an announced resume, at once after a sleep
// that the sleep clock saw.
TEST(WakeRedraw, HoldDrawsNothingUntilTheMachineWoke) {
    WakeWatch watch{};
    ArmLateRedraws(watch, 0, SleepClock{true, 0});
    HoldForSuspend(watch);
    for (uint32_t now = 1000; now <= 8000; now += 1000)
        EXPECT_FALSE(FullRedrawDue(watch, now - 1000, now, SleepClock{true, 0})) << now;
    ArmAnnouncedRedraws(watch, 8500);
    EXPECT_FALSE(FullRedrawDue(watch, 8000, 9000, SleepClock{true, 0}));
    EXPECT_TRUE(FullRedrawDue(watch, 9000, 10000, SleepClock{true, 0}));
    EXPECT_FALSE(watch.held);

    HoldForSuspend(watch);
    EXPECT_FALSE(FullRedrawDue(watch, 10000, 11000, SleepClock{true, 0}));
    EXPECT_TRUE(FullRedrawDue(watch, 11000, 12000, SleepClock{true, 60000}));
    EXPECT_FALSE(watch.held);
}
