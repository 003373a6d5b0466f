// Runs the service's own ServiceMain and ControlHandler in a plain process,
// so a test can hand it the controls that Wine's services.exe never sends:
// Wine ends services with the session instead of sending
// SERVICE_CONTROL_SHUTDOWN, and no manager sends a control while the start is
// pending. The driver answers the service's two calls to the manager itself
// (below), and records every status the service reports.
//
//   service_driver.exe shutdown|stop <milliseconds>|starting [xp]
// hands the control that long after the service reported START_PENDING, or
// ("starting") at once, with that report held until the handler returned. Prints "reports <state>/<accepted>/<exit
// code> ..." in order, "latency <ms>" (time inside the control handler) and "returned <0|1>" (whether ServiceMain
// returned within 5 s). At the STOPPED report it copies the stand-in library's lcd-state.txt to lcd-at-stopped.txt.
// With "xp" the box library is bound as on Windows XP, which has no SetDefaultDllDirectories.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "lcd/box_library.h"
#include "service/service_host.h"

namespace {
HANDLE StartReported = CreateEventA(nullptr, TRUE, FALSE, nullptr);
HANDLE Handled = CreateEventA(nullptr, TRUE, FALSE, nullptr);
// Set when ServiceMain returned: a thread's end waits for the loader's lock,
// which a box library whose load never returns holds.
HANDLE MainReturned = CreateEventA(nullptr, TRUE, FALSE, nullptr);
bool HoldStartPending = false;
SERVICE_STATUS Reports[16];
LONG ReportCount = 0;

SERVICE_STATUS_HANDLE WINAPI RegisterHandler(LPCSTR, LPHANDLER_FUNCTION) {
    return reinterpret_cast<SERVICE_STATUS_HANDLE>(1);
}

BOOL WINAPI RecordStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status) {
    const LONG at = InterlockedIncrement(&ReportCount) - 1;
    if (at < 16) Reports[at] = *status;
    if (status->dwCurrentState == SERVICE_STOPPED) CopyFileA("lcd-state.txt", "lcd-at-stopped.txt", FALSE);
    if (status->dwCurrentState != SERVICE_START_PENDING) return TRUE;
    SetEvent(StartReported);
    if (HoldStartPending) WaitForSingleObject(Handled, 2000);
    return TRUE;
}

DWORD WINAPI RunServiceMain(LPVOID) {
    ServiceMain(0, nullptr);
    SetEvent(MainReturned);
    return 0;
}
}   // namespace

// The service library calls both through their import slots: the driver
// fills those slots itself, so the linker takes no advapi32 import for them.
#ifdef _WIN64
#define IMPORT_SLOT(name, bytes) "__imp_" #name
#else
#define IMPORT_SLOT(name, bytes) "__imp__" #name "@" #bytes
#endif
extern "C" {
decltype(&RegisterServiceCtrlHandlerA) RegisterSlot asm(IMPORT_SLOT(RegisterServiceCtrlHandlerA, 8)) = RegisterHandler;
decltype(&SetServiceStatus) StatusSlot asm(IMPORT_SLOT(SetServiceStatus, 8)) = RecordStatus;
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const DWORD control = std::strcmp(argv[1], "shutdown") == 0 ? SERVICE_CONTROL_SHUTDOWN : SERVICE_CONTROL_STOP;
    HoldStartPending = std::strcmp(argv[2], "starting") == 0;
    UseDefaultDllDirectories = argc < 4 || std::strcmp(argv[3], "xp") != 0;
    CloseHandle(CreateThread(nullptr, 0, RunServiceMain, nullptr, 0, nullptr));
    if (WaitForSingleObject(StartReported, 5000) != WAIT_OBJECT_0) return 3;
    Sleep(static_cast<DWORD>(std::atoi(argv[2])));
    ControlHandler(SERVICE_CONTROL_INTERROGATE);   // must change nothing
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    ControlHandler(control);
    QueryPerformanceCounter(&after);
    SetEvent(Handled);
    const double milliseconds = 1000.0 * static_cast<double>(after.QuadPart - before.QuadPart) /
                                static_cast<double>(frequency.QuadPart);
    const bool returned = WaitForSingleObject(MainReturned, 5000) == WAIT_OBJECT_0;
    std::printf("reports");
    for (LONG i = 0; i < ReportCount && i < 16 && returned; ++i)
        std::printf(" %lu/%lu/%lu", Reports[i].dwCurrentState, Reports[i].dwControlsAccepted,
                    Reports[i].dwWin32ExitCode);
    // In whole tenths: the C runtime's formatting of a double looks a function
    // up, which waits for the loader's lock.
    const unsigned long tenths = static_cast<unsigned long>(milliseconds * 10.0 + 0.5);
    std::printf("\nlatency %lu.%lu\nreturned %d\n", tenths / 10, tenths % 10, returned ? 1 : 0);
    std::fflush(stdout);
    // A box library whose load never returned holds the loader's lock, which
    // the process's exit would wait for, as in the service.
    if (LoadLeftRunning()) TerminateProcess(GetCurrentProcess(), 0);
    return 0;
}
