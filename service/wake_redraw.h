// When the monitor worker draws the whole display afresh: after the machine
// slept.
//
// The USB box and the LCD behind it lose their supply while Windows sleeps,
// hibernates, or "shuts down" with Fast Startup (which hibernates the session
// the services run in), and an HD44780 without supply keeps nothing: it comes
// back blank, with its display off and its glyphs gone. The worker wakes up
// where it stopped and would write only what changed, so nothing would ever
// draw the screen again. Windows does not tell a service of this kind that the
// machine slept, but GetTickCount counts the time spent asleep: one idle span
// of the worker that lasted far longer than its one-second pause means the
// machine slept in it.
#pragma once
#include <cstdint>

// An idle span this long (milliseconds) was a sleep. The worker is idle for
// one second and then reads its figures, which takes milliseconds; even a
// machine that is busy to the point of freezing its desktop delays such a
// wait by a second or two, and going to sleep and waking takes longer than
// ten seconds on every kind of machine.
constexpr uint32_t SleepGap = 10000;

// After a wake the box can take some seconds to come back on the USB, and
// what was written before it did is lost: the whole screen is drawn once
// more this long after the first redraw.
constexpr uint32_t SecondRedrawDelay = 5000;

// What the worker remembers of the last wake.
struct WakeWatch {
    bool secondRedrawPending;
    uint32_t firstRedrawAt;   // GetTickCount of the first redraw after the wake
};

// True when the time from idleFrom to now (both GetTickCount readings) shows
// a sleep. The counter wraps to 0 after 49.7 days; the unsigned difference is
// the time passed across the wrap as well.
constexpr bool SleptBetween(uint32_t idleFrom, uint32_t now) {
    return static_cast<uint32_t>(now - idleFrom) >= SleepGap;
}

// Called once a cycle with the idle span that ended now: true when this
// cycle sets the display up and draws everything afresh, either because the
// machine slept in the span or because the second redraw after a wake is
// due. A new sleep before the second redraw starts the wait for it again.
constexpr bool FullRedrawDue(WakeWatch& watch, uint32_t idleFrom, uint32_t now) {
    if (SleptBetween(idleFrom, now)) {
        watch.secondRedrawPending = true;
        watch.firstRedrawAt = now;
        return true;
    }
    if (watch.secondRedrawPending && static_cast<uint32_t>(now - watch.firstRedrawAt) >= SecondRedrawDelay) {
        watch.secondRedrawPending = false;
        return true;
    }
    return false;
}
