// When the monitor worker sets the display up and draws it whole afresh:
// whenever the machine slept, and some seconds and again half a minute after
// every set-up from scratch (the start, or the first redraw after a sleep),
// for a box that comes up late; and one second and five seconds after Windows
// announced a USB device's arrival or a resume.
//
// The USB box and the LCD behind it lose their supply while Windows sleeps,
// hibernates, or "shuts down" with Fast Startup (which hibernates the session
// the services run in), and an HD44780 without supply keeps nothing: it comes
// back blank, with its display off and its glyphs gone. The worker wakes up
// where it stopped and would write only what changed, so nothing would ever
// draw the screen again. Windows does not tell a service of this kind that the
// machine slept, but two clocks show it:
// - GetTickCount counts the time spent asleep: one idle span of the worker
//   that lasted far longer than its one-second pause means the machine slept
//   in it. This works on every Windows, but misses a sleep shorter than the
//   span's limit and one that began during a call into the box library (a
//   driver often holds the request until the device is back).
// - From Windows 7 on, GetTickCount64 minus QueryUnbiasedInterruptTime (the
//   time the machine was awake) grows only while the machine sleeps: it sees
//   every sleep, wherever the worker was.
//
// The same loss happens at boot: an auto-start service may start before
// Windows has brought the USB devices up, and what the set-up sent before the
// box was there reached nothing. After a wake, too, the box can take some
// seconds to come back. Hence the redraws that follow every set-up from
// scratch.
//
// A box unplugged and plugged in again while Windows runs (a bumped cable, a
// KVM switch or powered hub that resets, another port) comes back blank just
// the same, and no clock shows that. Windows announces it instead: the
// service asks for the arrival of any USB device, and hears of resumes. The
// control handler only notes such an announcement; the worker then arms a
// pair of redraws, one second and five seconds after it, as the box maker's
// driver opens the device some time after Windows announced it. An arrival of
// some other USB device costs one pair of redraws: the LCD blinks twice.
//
// Whatever arms redraws (the start, a sleep that a clock showed, an
// announcement), one pair is pending at a time: what arms while a pair is
// pending takes that pair's place, so the redraws follow the latest cause
// and never pile up. The clocks stay: Windows does not announce every resume
// (from Windows 10 on, a sleep that goes on into hibernation sends none).
//
// Before a sleep, a hibernation or Fast Startup's "Shut down", Windows
// announces the suspend, and the service leaves the stopped notice on the
// LCD: one that keeps its supply then says that the monitor is stopped
// instead of showing a frozen clock. The worker holds from then on and draws
// nothing over the notice until the machine woke (Windows announced a resume
// or a USB arrival, or a clock showed the sleep) and a full redraw is due:
// at once after a sleep that a clock saw, one second after an announcement.
#pragma once
#include <cstdint>

// An idle span this long (milliseconds) was a sleep. The worker is idle for
// one second and then reads its figures, which takes milliseconds; even a
// machine that is busy to the point of freezing its desktop delays such a
// wait by a second or two, and going to sleep and waking takes longer than
// ten seconds on every kind of machine.
constexpr uint32_t SleepGap = 10000;

// Time asleep (milliseconds) that the sleep clock must have gained since the
// last cycle. Its two counters move in clock ticks of up to 16 ms and are
// read a moment apart; no sleep and wake takes under a second.
constexpr uint64_t SleepClockGap = 1000;

// The redraws after a set-up from scratch, in milliseconds after it: one for
// a box that is some seconds late, one for a box that takes longer.
constexpr uint32_t LateBoxRedraws[] = {5000, 30000};
constexpr int LateBoxRedrawCount = sizeof LateBoxRedraws / sizeof LateBoxRedraws[0];

// The redraws after an announced arrival or resume, in milliseconds after the
// worker noted it: one for a driver that opens the device at once, one for a
// slower one.
constexpr uint32_t AnnouncedRedraws[] = {1000, 5000};
static_assert(sizeof AnnouncedRedraws / sizeof AnnouncedRedraws[0] == LateBoxRedrawCount,
              "every cause arms a pair of redraws");

// The controls that announce a box that may be back with its LCD blank, by
// their Windows numbers: SERVICE_CONTROL_DEVICEEVENT (0x0B) with
// DBT_DEVICEARRIVAL, and SERVICE_CONTROL_POWEREVENT (0x0D) with
// PBT_APMRESUMEAUTOMATIC (sent at every resume), PBT_APMRESUMESUSPEND (after
// it, when a user woke the machine) or PBT_APMRESUMECRITICAL (Windows XP's
// resume from a suspend that nobody was told of). Removals and the rest of
// the device and power events change nothing on the LCD.
constexpr unsigned long DeviceEventControl = 0x0B;
constexpr unsigned long PowerEventControl = 0x0D;
constexpr unsigned long DeviceArrivalEvent = 0x8000;
constexpr unsigned long ResumeEvents[] = {0x12, 0x07, 0x06};
// PBT_APMSUSPEND: the machine goes to sleep, hibernates or "shuts down" with
// Fast Startup. Windows gives each service about two seconds for it.
constexpr unsigned long SuspendEvent = 0x04;

constexpr bool AnnouncesSuspend(unsigned long control, unsigned long eventType) {
    return control == PowerEventControl && eventType == SuspendEvent;
}

constexpr bool AnnouncesReplugOrResume(unsigned long control, unsigned long eventType) {
    if (control == DeviceEventControl) return eventType == DeviceArrivalEvent;
    if (control != PowerEventControl) return false;
    for (unsigned long resume : ResumeEvents)
        if (eventType == resume) return true;
    return false;
}

// One reading of the sleep clock: the milliseconds the machine has spent
// asleep since it started, where Windows can tell (Windows 7 and later).
struct SleepClock {
    bool known;
    uint64_t asleep;
};

// The sleep clock from GetTickCount64 (milliseconds, sleep included) and
// QueryUnbiasedInterruptTime (100-nanosecond units, sleep left out).
constexpr SleepClock SleepClockFrom(uint64_t tickCount64, uint64_t unbiasedTime) {
    return {true, tickCount64 - unbiasedTime / 10000};
}

// What the worker remembers between cycles.
struct WakeWatch {
    uint32_t setUpAt;      // GetTickCount of what armed the pending pair
    int lateRedrawsDone;   // of that pair, since then
    SleepClock lastSleepClock;
    bool announced;   // the pair is AnnouncedRedraws, not LateBoxRedraws
    bool held;        // a suspend was announced: nothing is drawn
    bool woke;        // since the hold began, the machine woke
};

// Called once, with the start's set-up done at `now`.
constexpr void ArmLateRedraws(WakeWatch& watch, uint32_t now, SleepClock clock) {
    watch = {now, 0, clock, false, false, false};
}

// Called when the worker stopped drawing for the notice at a suspend.
constexpr void HoldForSuspend(WakeWatch& watch) {
    watch.held = true;
    watch.woke = false;
}

// Called when the worker notes, at `now`, that Windows announced a USB
// arrival or a resume: the pending pair, if any, gives way to this one.
// An announcement also tells a holding worker that the machine is awake.
constexpr void ArmAnnouncedRedraws(WakeWatch& watch, uint32_t now) {
    watch.setUpAt = now;
    watch.lateRedrawsDone = 0;
    watch.announced = true;
    watch.woke = true;
}

// True when the time from idleFrom to now (both GetTickCount readings) shows
// a sleep. The counter wraps to 0 after 49.7 days; the unsigned difference is
// the time passed across the wrap as well.
constexpr bool SleptBetween(uint32_t idleFrom, uint32_t now) {
    return static_cast<uint32_t>(now - idleFrom) >= SleepGap;
}

// True when the sleep clock gained a sleep between two readings. A reading
// that lies behind the one before (the two counters read a tick apart) is none.
constexpr bool SleptBySleepClock(SleepClock before, SleepClock now) {
    return before.known && now.known && now.asleep >= before.asleep + SleepClockGap;
}

// Called once a cycle with the idle span that ended now and the sleep clock
// read then: true when this cycle sets the display up and draws everything
// afresh, either because the machine slept since the last cycle (a set-up
// from scratch, which arms the late redraws again) or because a late redraw
// is due. Late redraws that a long stall let pass are made up by one. While
// the worker holds, a redraw is due only once the machine woke, and it ends
// the hold; the ones due before are left out.
constexpr bool FullRedrawDue(WakeWatch& watch, uint32_t idleFrom, uint32_t now, SleepClock clock) {
    const bool slept = SleptBetween(idleFrom, now) || SleptBySleepClock(watch.lastSleepClock, clock);
    watch.lastSleepClock = clock;
    bool due = slept;
    if (slept) {
        watch.setUpAt = now;
        watch.lateRedrawsDone = 0;
        watch.announced = false;
        watch.woke = true;
    }
    const uint32_t* pair = watch.announced ? AnnouncedRedraws : LateBoxRedraws;
    while (!slept && watch.lateRedrawsDone < LateBoxRedrawCount &&
           static_cast<uint32_t>(now - watch.setUpAt) >= pair[watch.lateRedrawsDone]) {
        ++watch.lateRedrawsDone;
        due = true;
    }
    if (!watch.held) return due;
    if (!due || !watch.woke) return false;
    watch.held = false;
    return true;
}
