// Reads what a running service tells the service control manager, then stops
// it and follows it to the end, timing the stop from inside the prefix:
//
//   service_contract.exe <service name> [transfer log]
// With the stand-in box library's transfer log, the stop is asked in the
// middle of the service's pause between two cycles: 300 to 600 ms after the
// last call the log shows. It prints
//   "running type <hex> state <n> accepts <hex>"     QueryServiceStatus before
//   "stop <0|1> error <n> at <ms> state <n> checkpoint <n> hint <ms> accepts <hex>"
//        ControlService's result and error, when it was asked (GetTickCount64, the clock
//        of the stand-in box library's transfer log) and the status it returned
//   "pending <n> highest checkpoint <n>"  STOP_PENDING readings seen while polling
//   "stopped <ms> exit <win32 code> <service code>"   or "not stopped <ms>"
// and exits 1 when the service cannot be opened.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "last_transfer.h"

namespace {
// Waits up to 10 s for the middle of a pause.
void WaitForPause(const char* log) {
    for (int i = 0; i < 2000; ++i, Sleep(5)) {
        LoggedCall last;
        const ULONGLONG now = GetTickCount64();
        if (LastLoggedCall(log, last) && now - last.ms >= 300 && now - last.ms < 600) return;
    }
}
}   // namespace

int main(int argc, char** argv) {
    if (argc != 2 && argc != 3) return 2;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, argv[1], SERVICE_QUERY_STATUS | SERVICE_STOP) : nullptr;
    if (service == nullptr) {
        std::printf("cannot open %s: error %lu\n", argv[1], GetLastError());
        return 1;
    }
    SERVICE_STATUS status = {};
    QueryServiceStatus(service, &status);
    std::printf("running type %#lx state %lu accepts %#lx\n", status.dwServiceType, status.dwCurrentState,
                status.dwControlsAccepted);

    if (argc == 3) WaitForPause(argv[2]);
    LARGE_INTEGER frequency, began, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&began);
    SERVICE_STATUS stopping = {};
    const ULONGLONG askedAt = GetTickCount64();
    const BOOL accepted = ControlService(service, SERVICE_CONTROL_STOP, &stopping);
    std::printf("stop %d error %lu at %llu state %lu checkpoint %lu hint %lu accepts %#lx\n", accepted ? 1 : 0,
                accepted ? 0 : GetLastError(), askedAt, stopping.dwCurrentState, stopping.dwCheckPoint,
                stopping.dwWaitHint, stopping.dwControlsAccepted);

    // Polled every 5 ms for up to 10 s: the wait hint is a promise about the
    // time between checkpoints, and the whole stop must stay inside it.
    unsigned pending = 0, highestCheckpoint = stopping.dwCheckPoint;
    double elapsed = 0;
    for (;;) {
        SERVICE_STATUS seen = {};
        const BOOL read = QueryServiceStatus(service, &seen);
        QueryPerformanceCounter(&now);
        elapsed = 1000.0 * static_cast<double>(now.QuadPart - began.QuadPart) / static_cast<double>(frequency.QuadPart);
        if (read && seen.dwCurrentState == SERVICE_STOPPED) {
            std::printf("pending %u highest checkpoint %u\n", pending, highestCheckpoint);
            std::printf("stopped %.0f exit %lu %lu\n", elapsed, seen.dwWin32ExitCode, seen.dwServiceSpecificExitCode);
            break;
        }
        if (read && seen.dwCurrentState == SERVICE_STOP_PENDING) {
            ++pending;
            if (seen.dwCheckPoint > highestCheckpoint) highestCheckpoint = seen.dwCheckPoint;
        }
        if (elapsed > 10000) {
            std::printf("pending %u highest checkpoint %u\nnot stopped %.0f\n", pending, highestCheckpoint, elapsed);
            break;
        }
        Sleep(5);
    }
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return 0;
}
