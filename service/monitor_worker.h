#pragma once

// The pause between two cycles, in milliseconds. The worker spends it waiting
// on the quit event, so a stop request ends the pause at once.
constexpr unsigned long CyclePause = 1000;

// What WaitForSingleObject returns when the event was set, and when the time
// ran out (WAIT_OBJECT_0, WAIT_TIMEOUT).
constexpr unsigned long PauseWaitQuit = 0x000;
constexpr unsigned long PauseWaitTimedOut = 0x102;

// How much of the pause is still to be slept after the wait on the quit event
// returned waitResult, waited milliseconds after it began. Nothing when the
// event was set or the pause ran out in the wait; otherwise the wait failed
// (a quit event Windows could not make is no handle to wait on, and the call
// then returns at once) and the rest of the pause is slept, so that the cycle
// still comes once a second instead of spinning on a processor.
constexpr unsigned long RestOfPause(unsigned long waitResult, unsigned long waited) {
    return waitResult == PauseWaitQuit || waitResult == PauseWaitTimedOut || waited >= CyclePause ? 0
                                                                                                  : CyclePause - waited;
}

#ifdef _WIN32
#include <windows.h>

// Thread procedure of the monitor worker: prepares the LCD, then once a
// second shows date, time, committed memory and the two bars, writing only
// what changed (and all of it again after the machine slept, and some seconds
// and half a minute after each set-up for a box that is late), until
// WorkerQuitEvent is set.
DWORD WINAPI MonitorWorker(LPVOID parameter);

// Called by the control handler when Windows announced a USB device's arrival
// or a resume: the worker arms its redraws at its next cycle. It only notes
// the announcement, so the handler, which also answers stops, returns at once.
void NoteReplugOrResume();

// Called at a suspend by the thread that writes the notice: asks the worker
// to stop drawing at its next point between two LCD transfers (at once from
// its pause) and waits up to `timeout` ms for it to say so. True when the
// LCD is free for the notice. Given up, the request is withdrawn. The worker
// then holds, drawing nothing, until the machine woke and a full redraw is
// due.
bool HoldWorkerForSuspend(unsigned long timeout);
#endif
