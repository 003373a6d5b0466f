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
// Orders the start against a stop: whichever comes first decides, so the
// states reported never go back (no RUNNING after STOP_PENDING), and the
// worker is started only by a start that no stop came before.
CRITICAL_SECTION StateLock;
// A stop and a later shutdown request both come through the handler; the
// worker is ended once.
bool StopRequested = false;
bool WorkerEnded = false;

// The worker is told to quit and given this long to reach a point between
// two LCD operations; well inside the wait hint reported with STOP_PENDING.
constexpr DWORD WorkerEndTimeout = 2000;
constexpr DWORD PendingWaitHint = 3000;

// Every report is a fresh record made here, so that no state keeps a field
// of the one before: pending states carry a checkpoint and the wait hint,
// and only RUNNING takes controls.
void ReportState(DWORD state, DWORD exitCode = NO_ERROR) {
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    SERVICE_STATUS status;
    ZeroMemory(&status, sizeof status);
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwCheckPoint = pending ? 1 : 0;
    status.dwWaitHint = pending ? PendingWaitHint : 0;
    SetServiceStatus(StatusHandle, &status);
}

// Starts the service unless a stop came first: the box library, then the
// worker, then RUNNING. A start that cannot go on ends as stopped with the
// reason as exit code, so that sc query and the System event log say the
// service failed instead of showing a clean stop; nothing has reached the
// box then. Without either event the worker could be neither told to quit
// nor waited for, and the process would end it in the middle of an LCD
// transfer: it is not started. Gives false when ServiceMain is to return at
// once.
bool StartUnlessStopped(DWORD eventError) {
    EnterCriticalSection(&StateLock);
    DWORD error = eventError;
    if (!StopRequested && error == NO_ERROR) error = BindBoxLibrary();
    if (!StopRequested && error == NO_ERROR) {
        WorkerThread = CreateThread(nullptr, 0, MonitorWorker, nullptr, 0, nullptr);
        if (WorkerThread == nullptr) error = GetLastError() != NO_ERROR ? GetLastError() : ERROR_NOT_ENOUGH_MEMORY;
    }
    if (error != NO_ERROR) {
        StopRequested = true;
        ReportState(SERVICE_STOPPED, error);
    } else if (!StopRequested) {
        ReportState(SERVICE_RUNNING);
    }
    LeaveCriticalSection(&StateLock);
    return error == NO_ERROR;
}

void ReleaseServiceMain() { SetEvent(StopEvent); }
}   // namespace

void WINAPI ServiceMain(DWORD, LPSTR*) {
    // The lock and both events exist before the control handler is
    // registered, so no request can reach a handle that is not there yet.
    InitializeCriticalSection(&StateLock);
    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WorkerQuitEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const DWORD eventError = StopEvent != nullptr && WorkerQuitEvent != nullptr ? NO_ERROR : GetLastError();

    StatusHandle = RegisterServiceCtrlHandlerA("MIREVO", ControlHandler);
    // Without a status handle the service could report nothing, not even that
    // it stopped, and the manager could never stop it. The process ends
    // before anything reached the box; the manager records that the service
    // ended during its start.
    if (StatusHandle == nullptr) ExitProcess(GetLastError());
    // While the start is pending the service takes no control: a stop now
    // would meet a service half started.
    ReportState(SERVICE_START_PENDING);
    // After a failed start an event that was made stays open for the
    // handler; the process ends next.
    if (!StartUnlessStopped(eventError)) return;

    WaitForSingleObject(StopEvent, INFINITE);

    CloseHandle(StopEvent);
    if (WorkerThread != nullptr) CloseHandle(WorkerThread);
    ReportState(SERVICE_STOPPED);
}

void WINAPI ControlHandler(DWORD control) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
            if (StopService()) ReleaseServiceMain();
            break;
        case SERVICE_CONTROL_SHUTDOWN:
            // Once STOPPED is reported during a shutdown, Windows may end the
            // process at any moment: the notice is on the LCD before that.
            if (StopService()) {
                ShowStoppedNotice();
                ReleaseServiceMain();
            }
            break;
        default: break;   // interrogate and the rest: nothing changes, nothing is reported
    }
}

bool StopService() {
    EnterCriticalSection(&StateLock);
    const bool first = !StopRequested;
    StopRequested = true;
    if (first) ReportState(SERVICE_STOP_PENDING);
    LeaveCriticalSection(&StateLock);
    if (!first) return false;

    // The worker ends itself between LCD transfers; killing it could leave a
    // USB transfer half done or the heap lock held.
    SetEvent(WorkerQuitEvent);
    // A worker that was never made owns nothing: the LCD is free for the notice.
    WorkerEnded = WorkerThread == nullptr || WaitForSingleObject(WorkerThread, WorkerEndTimeout) == WAIT_OBJECT_0;
    return true;
}

void ShowStoppedNotice() {
    // A worker stuck inside the box library still owns the LCD; writing over
    // it would interleave two transfers, so the notice is left out then.
    if (!WorkerEnded) return;
    // A shutdown that came while the service was starting found the library
    // not yet bound, or the display not yet set up by this run.
    if (WorkerThread == nullptr) {
        if (BindBoxLibrary() != NO_ERROR) return;
        LcdInitialise();
    }
    LcdClear();
    LcdPutText(StoppedNotice);
}

bool WorkerLeftRunning() { return WorkerThread != nullptr && !WorkerEnded; }
