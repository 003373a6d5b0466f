#include "service_host.h"

#include "../lcd/box_library.h"
#include "../lcd/lcd_driver.h"
#include "monitor_worker.h"
#include "screen.h"

HANDLE WorkerQuitEvent = nullptr;

namespace {
SERVICE_STATUS_HANDLE StatusHandle = nullptr;
HANDLE WorkerThread = nullptr;
HANDLE StopEvent = nullptr;
SERVICE_STATUS Status;
// A stop and a later shutdown request both come through the handler; the
// worker is ended once.
bool StopRequested = false;
bool WorkerEnded = false;

// The worker is told to quit and given this long to reach a point between
// two LCD operations; well inside the 3000 ms wait hint reported below.
constexpr DWORD WorkerEndTimeout = 2000;

void ReportState(DWORD state) {
    Status.dwCurrentState = state;
    SetServiceStatus(StatusHandle, &Status);
}

// A start that cannot go on ends as stopped with the reason as exit code, so
// that sc query and the System event log say the service failed instead of
// showing a clean stop. The display keeps what it showed.
void ReportStartFailure(DWORD error) {
    Status.dwWin32ExitCode = error != 0 ? error : ERROR_NOT_ENOUGH_MEMORY;
    ReportState(SERVICE_STOPPED);
}
}   // namespace

void WINAPI ServiceMain(DWORD, LPSTR*) {
    // Both events exist before the control handler is registered, so no
    // request can reach a handle that is not there yet.
    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WorkerQuitEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const DWORD eventError = StopEvent != nullptr && WorkerQuitEvent != nullptr ? 0 : GetLastError();

    ZeroMemory(&Status, sizeof Status);
    Status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    Status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    Status.dwCurrentState = SERVICE_START_PENDING;
    StatusHandle = RegisterServiceCtrlHandlerA("MIREVO", ControlHandler);
    SetServiceStatus(StatusHandle, &Status);

    // Without either event the worker could be neither told to quit nor
    // waited for, and the process would end it in the middle of an LCD
    // transfer: it is not started. An event that was made stays open for the
    // handler; the process ends next.
    if (StopEvent == nullptr || WorkerQuitEvent == nullptr) {
        ReportStartFailure(eventError);
        return;
    }
    // Without the box library the worker would draw nothing: the start fails
    // before anything reaches the box, naming the library's fault.
    const DWORD libraryError = BindBoxLibrary();
    if (libraryError != 0) {
        ReportStartFailure(libraryError);
        return;
    }

    WorkerThread = CreateThread(nullptr, 0, MonitorWorker, nullptr, 0, nullptr);
    // Without the worker nothing would draw the LCD while the service claimed
    // to be running.
    if (WorkerThread == nullptr) {
        ReportStartFailure(GetLastError());
        return;
    }
    ReportState(SERVICE_RUNNING);

    WaitForSingleObject(StopEvent, INFINITE);

    CloseHandle(StopEvent);
    CloseHandle(WorkerThread);
    ReportState(SERVICE_STOPPED);
}

void WINAPI ControlHandler(DWORD control) {
    switch (control) {
        case SERVICE_CONTROL_STOP: StopService(); break;
        case SERVICE_CONTROL_SHUTDOWN:
            StopService();
            ShowStoppedNotice();
            break;
        default: break;   // interrogate and the rest: nothing changes, nothing is reported
    }
}

void StopService() {
    if (StopRequested) return;
    StopRequested = true;

    SERVICE_STATUS stopping;
    ZeroMemory(&stopping, sizeof stopping);
    stopping.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    stopping.dwCurrentState = SERVICE_STOP_PENDING;
    stopping.dwCheckPoint = 1;
    stopping.dwWaitHint = 3000;
    SetServiceStatus(StatusHandle, &stopping);

    // The worker ends itself between LCD transfers; killing it could leave a
    // USB transfer half done or the heap lock held.
    SetEvent(WorkerQuitEvent);
    // A worker that was never made owns nothing: the LCD is free for the notice.
    WorkerEnded = WorkerThread == nullptr || WaitForSingleObject(WorkerThread, WorkerEndTimeout) == WAIT_OBJECT_0;

    SetEvent(StopEvent);
}

void ShowStoppedNotice() {
    // A worker stuck inside the box library still owns the LCD; writing over
    // it would interleave two transfers, so the notice is left out then.
    if (!WorkerEnded) return;
    LcdClear();
    LcdPutText(StoppedNotice);
}
