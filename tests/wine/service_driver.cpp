// Runs the service's own ServiceMain and ControlHandler in a plain process,
// so a test can hand it the controls that Wine's services.exe never sends:
// Wine ends services with the session instead of sending
// SERVICE_CONTROL_SHUTDOWN. Outside the service control manager the status
// calls fail, and the service ignores their results as it does anyway.
//
//   service_driver.exe shutdown|stop <milliseconds before the control>
// prints "latency <ms>" (time inside the control handler) and
// "returned <0|1>" (whether ServiceMain returned within 5 s).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "service/service_host.h"

static DWORD WINAPI RunServiceMain(LPVOID) {
    ServiceMain(0, nullptr);
    return 0;
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const DWORD control = std::strcmp(argv[1], "shutdown") == 0 ? SERVICE_CONTROL_SHUTDOWN : SERVICE_CONTROL_STOP;
    HANDLE serviceThread = CreateThread(nullptr, 0, RunServiceMain, nullptr, 0, nullptr);
    Sleep(static_cast<DWORD>(std::atoi(argv[2])));
    ControlHandler(SERVICE_CONTROL_INTERROGATE);   // must change nothing
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    ControlHandler(control);
    QueryPerformanceCounter(&after);
    const double milliseconds = 1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) /
                                static_cast<double>(frequency.QuadPart);
    const bool returned = WaitForSingleObject(serviceThread, 5000) == WAIT_OBJECT_0;
    std::printf("latency %.1f\nreturned %d\n", milliseconds, returned ? 1 : 0);
    std::fflush(stdout);
    return 0;
}
