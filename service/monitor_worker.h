#pragma once
#include <windows.h>

// Thread procedure of the monitor worker: prepares the LCD, then once a
// second shows date, time, committed memory and the two bars, writing only
// what changed, until WorkerQuitEvent is set.
DWORD WINAPI MonitorWorker(LPVOID parameter);
