#include "service_host.h"

#include <dbt.h>

#include "../lcd/box_library.h"
#include "../lcd/lcd_driver.h"
#include "monitor_worker.h"
#include "screen.h"
#include "wake_redraw.h"

HANDLE WorkerQuitEvent = nullptr;
HANDLE WorkerHoldEvent = nullptr;
HANDLE WorkerHeldEvent = nullptr;

namespace {
DWORD LastErrorOr(DWORD fallback) {
    const DWORD error = GetLastError();
    return error != NO_ERROR ? error : fallback;
}

SERVICE_STATUS_HANDLE StatusHandle = nullptr;
HANDLE WorkerThread = nullptr;
HANDLE StopEvent = nullptr;
// The thread that loads the box library, made once, and what the load gave.
HANDLE LoaderThread = nullptr;
DWORD LoadResult = NO_ERROR;
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
// A box library loads in milliseconds, and in a few seconds from a disk busy
// with a boot; one whose start-up code opens the box and waits for it, or
// shows a message box on a desktop that nobody sees, may never return. Its
// load is given 10 s, while START_PENDING is reported again each second with
// the next checkpoint (well within the wait hint), and the start then ends as
// failed: far inside the 30 s that the manager gives a start, so that the
// manager, sc and DRELOM read a clear code and not a start that hangs.
constexpr DWORD LoadDeadline = 10000;
constexpr DWORD LoadReportPeriod = 1000;
// The stopped notice is about 14 transfers, milliseconds on any box. It gets
// this long from the moment it is asked for, a load of the library at a
// shutdown during the start included; a transfer that would begin later is
// left out, so that a box that stalls (one just unplugged, a driver holding
// the request) holds neither Windows' shutdown nor its suspend: the manager
// waits for the handler before it sends other services their controls, and
// services are told of a suspend one after the other.
constexpr DWORD NoticeDeadline = 1000;
// Set while a notice's thread runs, by the handler that makes it and cleared
// by the thread at its end.
LONG NoticeRunning = 0;

static_assert(DeviceEventControl == SERVICE_CONTROL_DEVICEEVENT && PowerEventControl == SERVICE_CONTROL_POWEREVENT &&
                  DeviceArrivalEvent == DBT_DEVICEARRIVAL && ResumeEvents[0] == PBT_APMRESUMEAUTOMATIC &&
                  ResumeEvents[1] == PBT_APMRESUMESUSPEND && ResumeEvents[2] == PBT_APMRESUMECRITICAL &&
                  SuspendEvent == PBT_APMSUSPEND,
              "the announcements are Windows' own numbers");

// The device interface class that every USB device has, whatever its maker's
// class (GUID_DEVINTERFACE_USB_DEVICE).
constexpr GUID UsbDeviceInterface = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};

// Every report is a fresh record made here, so that no state keeps a field
// of the one before: pending states carry a checkpoint and the wait hint,
// and only RUNNING takes controls.
void ReportState(DWORD state, DWORD exitCode = NO_ERROR, DWORD checkPoint = 1) {
    const bool pending = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    SERVICE_STATUS status;
    ZeroMemory(&status, sizeof status);
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING
                                    ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN | SERVICE_ACCEPT_POWEREVENT
                                    : 0;
    status.dwWin32ExitCode = exitCode;
    status.dwCheckPoint = pending ? checkPoint : 0;
    status.dwWaitHint = pending ? PendingWaitHint : 0;
    SetServiceStatus(StatusHandle, &status);
}

DWORD WINAPI LoadBoxLibrary(LPVOID) {
    LoadResult = BindBoxLibrary();
    return 0;
}

// Starts the load on a thread of its own, once, under the state lock: a
// library that never returns then holds only that thread (and the loader's
// lock inside Windows), never the thread that reports the start or the
// handler's. False when the thread cannot be made.
bool BeginLoad() {
    if (LoaderThread == nullptr) LoaderThread = CreateThread(nullptr, 0, LoadBoxLibrary, nullptr, 0, nullptr);
    return LoaderThread != nullptr;
}

// Waits for the load, reporting START_PENDING with the next checkpoint every
// period while no stop came: the load's result, or ERROR_TIMEOUT once the
// deadline passed.
DWORD AwaitLoad() {
    DWORD checkPoint = 1;
    for (DWORD waited = 0; WaitForSingleObject(LoaderThread, LoadReportPeriod) == WAIT_TIMEOUT;) {
        waited += LoadReportPeriod;
        if (waited >= LoadDeadline) return ERROR_TIMEOUT;
        EnterCriticalSection(&StateLock);
        if (!StopRequested) ReportState(SERVICE_START_PENDING, NO_ERROR, ++checkPoint);
        LeaveCriticalSection(&StateLock);
    }
    return LoadResult;
}

// Starts the service unless a stop came first: the box library, then the
// worker, then RUNNING. A start that cannot go on ends as stopped with the
// reason as exit code, so that sc query and the System event log say the
// service failed instead of showing a clean stop; nothing has reached the
// box then. Without either event the worker could be neither told to quit
// nor waited for, and the process would end it in the middle of an LCD
// transfer: it is not started. A library still loading at the deadline holds
// the loader's lock for good, so that ExitProcess, a new thread or
// GetProcAddress would wait for it too: the process ends at once instead.
// Gives false when ServiceMain is to return at once.
bool StartUnlessStopped(DWORD eventError) {
    EnterCriticalSection(&StateLock);
    DWORD error = eventError;
    const bool load = !StopRequested && error == NO_ERROR;
    if (load && !BeginLoad()) error = LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
    LeaveCriticalSection(&StateLock);
    if (load && error == NO_ERROR) error = AwaitLoad();
    if (error == ERROR_TIMEOUT && load && !LoadLeftRunning()) error = LoadResult;   // it returned just then

    EnterCriticalSection(&StateLock);
    if (error == ERROR_TIMEOUT && LoadLeftRunning()) {
        ReportState(SERVICE_STOPPED, ERROR_TIMEOUT);
        TerminateProcess(GetCurrentProcess(), ERROR_TIMEOUT);
    }
    if (!StopRequested && error == NO_ERROR) {
        WorkerThread = CreateThread(nullptr, 0, MonitorWorker, nullptr, 0, nullptr);
        if (WorkerThread == nullptr) error = LastErrorOr(ERROR_NOT_ENOUGH_MEMORY);
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

bool BeforeDeadline(DWORD start) { return GetTickCount() - start < NoticeDeadline; }

// The notice's thread: the LCD made free for it (the worker asked to hold at
// a suspend; at a shutdown during the start, the library bound and the LCD
// set up), then the notice, each transfer only while the deadline has not
// passed.
void WriteStoppedNotice(bool atSuspend) {
    const DWORD start = GetTickCount();
    bool free = true;
    if (atSuspend) {
        free = HoldWorkerForSuspend(NoticeDeadline);
    } else if (WorkerThread == nullptr) {
        // A shutdown that came while the service was starting found the
        // library not yet bound, or the display not yet set up by this run.
        // The library is bound on the loader's thread, never on this one.
        EnterCriticalSection(&StateLock);
        const bool loading = BeginLoad();
        LeaveCriticalSection(&StateLock);
        free = loading && WaitForSingleObject(LoaderThread, NoticeDeadline) == WAIT_OBJECT_0 &&
               LoadResult == NO_ERROR && BeforeDeadline(start);
        if (free) LcdInitialise();
    }
    if (free && BeforeDeadline(start)) {
        LcdClear();
        // Byte by byte, so that none begins after the deadline.
        for (const char* text = StoppedNotice; *text != '\0' && BeforeDeadline(start); ++text)
            LcdWriteData(static_cast<int16_t>(static_cast<unsigned char>(*text)));
    }
    InterlockedExchange(&NoticeRunning, 0);
}

DWORD WINAPI NoticeAtSuspend(LPVOID) {
    WriteStoppedNotice(true);
    return 0;
}

DWORD WINAPI NoticeAtShutdown(LPVOID) {
    WriteStoppedNotice(false);
    return 0;
}

// Asks Windows to tell the service of every USB device that arrives, the
// box among them when it is plugged in again. Null where Windows refuses:
// the service then runs without, as the clocks still see a sleep.
HDEVNOTIFY ListenForUsbArrivals() {
    DEV_BROADCAST_DEVICEINTERFACE_A filter;
    ZeroMemory(&filter, sizeof filter);
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_classguid = UsbDeviceInterface;
    return RegisterDeviceNotificationA(StatusHandle, &filter, DEVICE_NOTIFY_SERVICE_HANDLE);
}
}   // namespace

void WINAPI ServiceMain(DWORD, LPSTR*) {
    // The lock and both events exist before the control handler is
    // registered, so no request can reach a handle that is not there yet.
    InitializeCriticalSection(&StateLock);
    StopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WorkerQuitEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    WorkerHoldEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    WorkerHeldEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    const DWORD eventError = StopEvent != nullptr && WorkerQuitEvent != nullptr && WorkerHoldEvent != nullptr &&
                                     WorkerHeldEvent != nullptr
                                 ? NO_ERROR
                                 : GetLastError();

    StatusHandle = RegisterServiceCtrlHandlerExA("MIREVO", ControlHandler, nullptr);
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
    const HDEVNOTIFY usbArrivals = ListenForUsbArrivals();

    WaitForSingleObject(StopEvent, INFINITE);

    // No device event is to reach a service that reported it stopped.
    if (usbArrivals != nullptr) UnregisterDeviceNotification(usbArrivals);
    CloseHandle(StopEvent);
    if (WorkerThread != nullptr) CloseHandle(WorkerThread);
    ReportState(SERVICE_STOPPED);
}

DWORD WINAPI ControlHandler(DWORD control, DWORD eventType, LPVOID, LPVOID) {
    switch (control) {
        case SERVICE_CONTROL_STOP:
            if (StopService()) ReleaseServiceMain();
            return NO_ERROR;
        case SERVICE_CONTROL_SHUTDOWN:
            // Once STOPPED is reported during a shutdown, Windows may end the
            // process at any moment: the notice is on the LCD before that,
            // unless the box did not take it within its deadline.
            if (StopService()) {
                ShowStoppedNotice(false);
                ReleaseServiceMain();
            }
            return NO_ERROR;
        case SERVICE_CONTROL_INTERROGATE: return NO_ERROR;   // the manager knows the state; nothing is reported
        case SERVICE_CONTROL_DEVICEEVENT:
        case SERVICE_CONTROL_POWEREVENT:
            // A suspend leaves the notice; an arrival or a resume is noted
            // only, and the worker redraws. Every such request is granted (a
            // removal query, a suspend query alike).
            if (AnnouncesSuspend(control, eventType)) ShowStoppedNotice(true);
            if (AnnouncesReplugOrResume(control, eventType)) NoteReplugOrResume();
            return NO_ERROR;
        default: return ERROR_CALL_NOT_IMPLEMENTED;
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

void ShowStoppedNotice(bool atSuspend) {
    // A worker stuck inside the box library still owns the LCD; writing over
    // it would interleave two transfers, so the notice is left out then. So
    // it is while an earlier notice is still inside the box. A suspend finds
    // the worker running, and only then.
    EnterCriticalSection(&StateLock);
    const bool free = atSuspend ? !StopRequested && WorkerThread != nullptr : WorkerEnded;
    LeaveCriticalSection(&StateLock);
    if (!free || InterlockedCompareExchange(&NoticeRunning, 1, 0) != 0) return;
    HANDLE notice = CreateThread(nullptr, 0, atSuspend ? NoticeAtSuspend : NoticeAtShutdown, nullptr, 0, nullptr);
    if (notice == nullptr) {
        InterlockedExchange(&NoticeRunning, 0);
        return;
    }
    WaitForSingleObject(notice, NoticeDeadline);
    CloseHandle(notice);
}

bool NoticeLeftRunning() { return InterlockedCompareExchange(&NoticeRunning, 0, 0) != 0; }

bool WorkerLeftRunning() { return WorkerThread != nullptr && !WorkerEnded; }

bool LoadLeftRunning() { return LoaderThread != nullptr && WaitForSingleObject(LoaderThread, 0) == WAIT_TIMEOUT; }
