// The service's side of the service control manager and its stop procedure.
#pragma once
#include <windows.h>

// Set by the stop procedure; the monitor worker ends at the next point
// between two LCD operations, or at once from its one-second wait.
extern HANDLE WorkerQuitEvent;

void WINAPI ServiceMain(DWORD argumentCount, LPSTR* arguments);
void WINAPI ControlHandler(DWORD control);
void StopService();
void ShowStoppedNotice();
