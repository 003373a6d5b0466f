// The service's side of the service control manager and its stop procedure.
#pragma once
#include <windows.h>

// Set by the stop procedure; the monitor worker ends at the next point
// between two LCD operations, or at once from its one-second wait.
extern HANDLE WorkerQuitEvent;

void WINAPI ServiceMain(DWORD argumentCount, LPSTR* arguments);
// The handler Windows calls with every control: stop and shutdown end the
// service, a USB arrival or a resume is noted for the worker; the answer is
// NO_ERROR for these and interrogate, ERROR_CALL_NOT_IMPLEMENTED otherwise.
DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, LPVOID eventData, LPVOID context);
// Reports the stop and ends the worker; false when a stop came before, and
// this request is to do nothing more.
bool StopService();
void ShowStoppedNotice();
// True after a stop that the worker did not end in time: it is stuck inside
// a call into the box library.
bool WorkerLeftRunning();
// True while the box library's load has not returned: its thread holds the
// loader's lock, for good when the load missed its deadline.
bool LoadLeftRunning();
