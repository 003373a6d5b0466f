// The service's side of the service control manager and its stop procedure.
#pragma once
#include <windows.h>

// Set by the stop procedure; the monitor worker ends at the next point
// between two LCD operations, or at once from its one-second wait.
extern HANDLE WorkerQuitEvent;
// At a suspend the notice's thread sets WorkerHoldEvent (auto-reset), and the
// worker, at its next point between two LCD operations, stops drawing and
// sets WorkerHeldEvent (manual-reset).
extern HANDLE WorkerHoldEvent;
extern HANDLE WorkerHeldEvent;

void WINAPI ServiceMain(DWORD argumentCount, LPSTR* arguments);
// The handler Windows calls with every control: stop and shutdown end the
// service, a USB arrival or a resume is noted for the worker; the answer is
// NO_ERROR for these and interrogate, ERROR_CALL_NOT_IMPLEMENTED otherwise.
DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
// Reports the stop and ends the worker; false when a stop came before, and
// this request is to do nothing more.
bool StopService();
// Leaves the stopped notice on the LCD from a thread of its own, for the
// shutdown (the worker ended) or a suspend (the worker is asked to hold), and
// waits for that thread up to its deadline of about a second: a box that
// stalls then holds only that thread, never the handler.
void ShowStoppedNotice(bool atSuspend);
// True while a notice's thread is still inside its work: it owns the LCD.
bool NoticeLeftRunning();
// True after a stop that the worker did not end in time: it is stuck inside
// a call into the box library.
bool WorkerLeftRunning();
// True while the box library's load has not returned: its thread holds the
// loader's lock, for good when the load missed its deadline.
bool LoadLeftRunning();
