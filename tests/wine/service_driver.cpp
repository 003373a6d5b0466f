// Runs the service's own ServiceMain and ControlHandler in a plain process,
// so a test can hand it the controls that Wine's services.exe never sends:
// Wine ends services with the session instead of sending
// SERVICE_CONTROL_SHUTDOWN, and no manager sends a control while the start is
// pending; nor does it deliver a USB arrival or a resume. The driver answers
// the service's calls to the manager and to the device notification itself
// (below), and records every status the service reports.
//
//   service_driver.exe shutdown|stop <milliseconds>|starting [xp]
// hands the control that long after the service reported START_PENDING, or
// ("starting") at once, with that report held until the handler returned. Prints "reports <state>/<accepted>/<exit
// code> ..." in order, "latency <ms>" (time inside the control handler) and "returned <0|1>" (whether ServiceMain
// returned within 5 s). At the STOPPED report it copies the stand-in library's lcd-state.txt to lcd-at-stopped.txt.
// With "xp" the box library is bound as on Windows XP, which has no SetDefaultDllDirectories.
//
// In every mode, a memory-status.txt in the current folder reading "<total page file> <available page file>
// <total physical> <available physical> <load>" (bytes, and percent) is the service's GlobalMemoryStatusEx: the
// commit charge and the physical memory in use differ on Windows with a page file, but not under Wine on a host
// without swap.
//
//   service_driver.exe events <step> ...
// runs the steps in turn once the service reported RUNNING, then stops it:
//   wait:<ms>        sleeps
//   unplug:<ms>      unplugs the stand-in box for that long (lcd-power-off reading "unplug <ms>")
//   poweroff         takes the LCD's supply away (an empty lcd-power-off)
//   arrival          hands the handler a USB device interface's DBT_DEVICEARRIVAL, after copying
//                    lcd-state.txt to lcd-at-arrival.txt
//   removal          the same device's DBT_DEVICEREMOVECOMPLETE
//   resume           PBT_APMRESUMEAUTOMATIC, after copying lcd-state.txt to lcd-at-resume.txt
//   suspend          PBT_APMSUSPEND
//   answers          the controls the service does not act on, printed "answers <control>[/<event>]:<answer> ..."
//   stop-in-redraw   the stop, as soon as the transfer log shows a set-up begun after this step began
//   stall-in-pause:<ms>  in the worker's pause between two cycles, makes every later call of the stand-in box take
//                    that long (box-fault-now reading "stall <ms>")
//   shutdown         the shutdown, printed "shutdown at <ms> latency <ms>", instead of the stop
// Each event step prints "<step> at <ms>", GetTickCount64 (the clock of the stand-in's transfer log) when it was
// handed over, or for unplug and poweroff when the stand-in took the file. The stop prints "stop at <ms> latency
// <ms>" and the driver "notify <recipient> <flags> <record type> <class>" (the device notification asked for) and
// "unregistered <0|1>" (it was given up before STOPPED), then "reports" and "returned" as above.
#include <windows.h>

#include <dbt.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "last_transfer.h"
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
HANDLE RunningReported = CreateEventA(nullptr, TRUE, FALSE, nullptr);
const SERVICE_STATUS_HANDLE DriverStatusHandle = reinterpret_cast<SERVICE_STATUS_HANDLE>(1);
const HDEVNOTIFY DriverNotification = reinterpret_cast<HDEVNOTIFY>(2);
LPHANDLER_FUNCTION_EX Handler = nullptr;
LPVOID HandlerContext = nullptr;
// What the service asked the device notification for, and whether it gave
// it up before it reported STOPPED.
char NotifyRequest[160] = "none";
bool Unregistered = false, UnregisteredBeforeStopped = false;

SERVICE_STATUS_HANDLE WINAPI RegisterHandler(LPCSTR, LPHANDLER_FUNCTION_EX handler, LPVOID context) {
    Handler = handler;
    HandlerContext = context;
    return DriverStatusHandle;
}

DWORD Deliver(DWORD control, DWORD eventType = 0, LPVOID eventData = nullptr) {
    return Handler != nullptr ? Handler(control, eventType, eventData, HandlerContext) : ERROR_INVALID_HANDLE;
}

HDEVNOTIFY WINAPI RegisterNotification(HANDLE recipient, LPVOID filter, DWORD flags) {
    const auto* asked = static_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(filter);
    const GUID& c = asked->dbcc_classguid;
    std::snprintf(NotifyRequest, sizeof NotifyRequest, "%d %lu %lu %08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  recipient == DriverStatusHandle ? 1 : 0, flags, asked->dbcc_devicetype, c.Data1, c.Data2, c.Data3,
                  c.Data4[0], c.Data4[1], c.Data4[2], c.Data4[3], c.Data4[4], c.Data4[5], c.Data4[6], c.Data4[7]);
    return DriverNotification;
}

BOOL WINAPI UnregisterNotification(HDEVNOTIFY notification) {
    Unregistered = notification == DriverNotification;
    return TRUE;
}

// What memory-status.txt gives, where it was there when the driver started.
MEMORYSTATUSEX GivenMemory;
bool MemoryGiven = false;

void ReadGivenMemory() {
    FILE* file = std::fopen("memory-status.txt", "r");
    if (file == nullptr) return;
    unsigned long long figures[4];
    unsigned long load = 0;
    MemoryGiven = std::fscanf(file, "%llu %llu %llu %llu %lu", &figures[0], &figures[1], &figures[2], &figures[3],
                              &load) == 5;
    std::fclose(file);
    GivenMemory.dwMemoryLoad = load;
    GivenMemory.ullTotalPageFile = figures[0];
    GivenMemory.ullAvailPageFile = figures[1];
    GivenMemory.ullTotalPhys = figures[2];
    GivenMemory.ullAvailPhys = figures[3];
}

BOOL WINAPI GiveMemoryStatus(LPMEMORYSTATUSEX status) {
    if (MemoryGiven) {
        const DWORD length = status->dwLength;
        *status = GivenMemory;
        status->dwLength = length;
        return TRUE;
    }
    using MemoryStatusFunction = BOOL(WINAPI*)(LPMEMORYSTATUSEX);
    const auto windows = reinterpret_cast<MemoryStatusFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GlobalMemoryStatusEx")));
    return windows(status);
}

BOOL WINAPI RecordStatus(SERVICE_STATUS_HANDLE, LPSERVICE_STATUS status) {
    const LONG at = InterlockedIncrement(&ReportCount) - 1;
    if (at < 16) Reports[at] = *status;
    if (status->dwCurrentState == SERVICE_RUNNING) SetEvent(RunningReported);
    if (status->dwCurrentState == SERVICE_STOPPED) {
        UnregisteredBeforeStopped = Unregistered;
        CopyFileA("lcd-state.txt", "lcd-at-stopped.txt", FALSE);
    }
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

double MillisecondsSince(const LARGE_INTEGER& before) {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart - before.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Hands the handler the run's last control and prints "<name> at <ms>
// latency <ms>": when, on the transfer log's clock, and how long the handler
// took. Gives that time.
double DeliverLast(DWORD control, const char* name) {
    LARGE_INTEGER before;
    QueryPerformanceCounter(&before);
    const ULONGLONG at = GetTickCount64();
    Deliver(control);
    const double latency = MillisecondsSince(before);
    std::printf("%s at %llu latency %.1f\n", name, at, latency);
    return latency;
}

// Writes lcd-power-off and waits up to 3 s for the stand-in to take it.
bool TakePowerAway(const char* contents) {
    FILE* file = std::fopen("lcd-power-off", "w");
    if (file == nullptr) return false;
    std::fputs(contents, file);
    std::fclose(file);
    for (int i = 0; i < 600; ++i, Sleep(5))
        if (GetFileAttributesA("lcd-power-off") == INVALID_FILE_ATTRIBUTES) return true;
    return false;
}

// The time of the transfer log's last call and whether it began a set-up:
// the control lines to the instruction register ("1 8 0"), then the 8-bit
// reset instruction ("3 48 1"), which the controller gets 6 ms to take. A
// data byte '0' is the same byte write after other data.
bool LastCallIsReset(ULONGLONG& at) {
    LoggedCall call, before;
    if (!LastLoggedCall("lcd-transfers.log", call, &before)) return false;
    at = call.ms;
    return before.selector == 1 && before.value == 8 && call.selector == 3 && call.value == 0x30 && call.latch == 1;
}

// Set while the worker waits in its pause between two cycles (its one wait
// on its quit event and a second event that has a time limit), counted at
// each entry.
LONG InPause = 0, PauseEntries = 0;

DWORD WINAPI WatchPause(DWORD count, const HANDLE* handles, BOOL all, DWORD milliseconds) {
    static const auto wait = reinterpret_cast<decltype(&WaitForMultipleObjects)>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "WaitForMultipleObjects")));
    const bool worker = count == 2 && handles[0] == WorkerQuitEvent && milliseconds != 0;
    if (worker) {
        InterlockedIncrement(&PauseEntries);
        InterlockedExchange(&InPause, 1);
    }
    const DWORD result = wait(count, handles, all, milliseconds);
    if (worker) InterlockedExchange(&InPause, 0);
    return result;
}

// Makes every later call of the stand-in box stall, from a moment when the
// worker has just begun its pause (a second with no call): true when the
// stand-in took the request while the worker was still in that pause.
bool StallInPause(int milliseconds) {
    const LONG entries = PauseEntries;
    for (const ULONGLONG from = GetTickCount64(); PauseEntries == entries || !InPause; Sleep(1))
        if (GetTickCount64() - from > 10000) return false;
    const LONG pause = PauseEntries;
    FILE* file = std::fopen("box-fault-now", "w");
    if (file == nullptr) return false;
    std::fprintf(file, "stall %d", milliseconds);
    std::fclose(file);
    for (int i = 0; i < 600 && GetFileAttributesA("box-fault-now") != INVALID_FILE_ATTRIBUTES; ++i) Sleep(5);
    return GetFileAttributesA("box-fault-now") == INVALID_FILE_ATTRIBUTES && InPause && PauseEntries == pause;
}

// A USB device interface's name, as Windows hands it with its arrival or removal.
constexpr char UsbDeviceName[] = "\\\\?\\USB#VID_1234&PID_5678#0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}";

int RunEvents(int count, char** steps) {
    HANDLE serviceThread = CreateThread(nullptr, 0, RunServiceMain, nullptr, 0, nullptr);
    if (WaitForSingleObject(RunningReported, 10000) != WAIT_OBJECT_0) return 3;
    alignas(DEV_BROADCAST_DEVICEINTERFACE_A) unsigned char
        recordBytes[offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name) + sizeof UsbDeviceName] = {};
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_A*>(recordBytes);
    record->dbcc_size = sizeof recordBytes;
    record->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    record->dbcc_classguid = {0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
    std::memcpy(recordBytes + offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name), UsbDeviceName,
                sizeof UsbDeviceName);
    double latency = -1;
    for (int i = 0; i < count; ++i) {
        const char* step = steps[i];
        if (std::strncmp(step, "wait:", 5) == 0) {
            Sleep(static_cast<DWORD>(std::atoi(step + 5)));
            continue;
        }
        char unplug[32];
        bool done = true;
        if (std::strncmp(step, "unplug:", 7) == 0) {
            std::snprintf(unplug, sizeof unplug, "unplug %d", std::atoi(step + 7));
            done = TakePowerAway(unplug);
        } else if (std::strcmp(step, "poweroff") == 0) {
            done = TakePowerAway("");
        } else if (std::strcmp(step, "arrival") == 0) {
            CopyFileA("lcd-state.txt", "lcd-at-arrival.txt", FALSE);
            done = Deliver(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEARRIVAL, record) == NO_ERROR;
        } else if (std::strcmp(step, "removal") == 0) {
            done = Deliver(SERVICE_CONTROL_DEVICEEVENT, DBT_DEVICEREMOVECOMPLETE, record) == NO_ERROR;
        } else if (std::strcmp(step, "resume") == 0) {
            CopyFileA("lcd-state.txt", "lcd-at-resume.txt", FALSE);
            done = Deliver(SERVICE_CONTROL_POWEREVENT, PBT_APMRESUMEAUTOMATIC) == NO_ERROR;
        } else if (std::strcmp(step, "suspend") == 0) {
            done = Deliver(SERVICE_CONTROL_POWEREVENT, PBT_APMSUSPEND) == NO_ERROR;
        } else if (std::strncmp(step, "stall-in-pause:", 15) == 0) {
            done = StallInPause(std::atoi(step + 15));
        } else if (std::strcmp(step, "shutdown") == 0) {
            latency = DeliverLast(SERVICE_CONTROL_SHUTDOWN, "shutdown");
            break;
        } else if (std::strcmp(step, "answers") == 0) {
            // Pause, continue, interrogate, parameter change, a user-defined
            // control; a removal query and a suspend query, which must arm
            // nothing.
            const struct {
                DWORD control, eventType;
            } asked[] = {
                {2, 0}, {3, 0}, {4, 0}, {6, 0}, {128, 0}, {11, DBT_DEVICEQUERYREMOVE}, {13, PBT_APMQUERYSUSPEND}};
            std::printf("answers");
            for (const auto& one : asked) {
                const DWORD answer = Deliver(one.control, one.eventType, one.control == 11 ? record : nullptr);
                if (one.eventType) std::printf(" %lu/%lu:%lu", one.control, one.eventType, answer);
                else std::printf(" %lu:%lu", one.control, answer);
            }
            std::printf("\n");
            continue;
        } else if (std::strcmp(step, "stop-in-redraw") == 0) {
            const ULONGLONG from = GetTickCount64();
            ULONGLONG at = 0;
            // Bounded by the clock, not by a count of polls, whose pace is the machine's.
            while (GetTickCount64() - from < 10000 && !(LastCallIsReset(at) && at >= from)) Sleep(1);
            latency = DeliverLast(SERVICE_CONTROL_STOP, "stop");
            break;
        } else {
            return 2;
        }
        std::printf("%s at %llu%s\n", step, GetTickCount64(), done ? "" : " failed");
        std::fflush(stdout);
    }
    if (latency < 0) Deliver(SERVICE_CONTROL_STOP);
    const bool returned = WaitForSingleObject(serviceThread, 5000) == WAIT_OBJECT_0;
    std::printf("notify %s\nunregistered %d\nreports", NotifyRequest, UnregisteredBeforeStopped ? 1 : 0);
    for (LONG i = 0; i < ReportCount && i < 16 && returned; ++i)
        std::printf(" %lu/%lu/%lu", Reports[i].dwCurrentState, Reports[i].dwControlsAccepted,
                    Reports[i].dwWin32ExitCode);
    std::printf("\nreturned %d\n", returned ? 1 : 0);
    std::fflush(stdout);
    return 0;
}
}   // namespace

// The service library calls these through their import slots: the driver
// fills those slots itself, so the linker takes no advapi32, user32 or
// kernel32 import for them (and the worker's pause goes through WatchPause).
#ifdef _WIN64
#define IMPORT_SLOT(name, bytes) "__imp_" #name
#else
#define IMPORT_SLOT(name, bytes) "__imp__" #name "@" #bytes
#endif
extern "C" {
decltype(&RegisterServiceCtrlHandlerExA) RegisterSlot asm(IMPORT_SLOT(RegisterServiceCtrlHandlerExA,
                                                                      12)) = RegisterHandler;
decltype(&SetServiceStatus) StatusSlot asm(IMPORT_SLOT(SetServiceStatus, 8)) = RecordStatus;
decltype(&RegisterDeviceNotificationA) NotifySlot asm(IMPORT_SLOT(RegisterDeviceNotificationA,
                                                                  12)) = RegisterNotification;
decltype(&UnregisterDeviceNotification) UnnotifySlot asm(IMPORT_SLOT(UnregisterDeviceNotification,
                                                                     4)) = UnregisterNotification;
decltype(&WaitForMultipleObjects) PauseSlot asm(IMPORT_SLOT(WaitForMultipleObjects, 16)) = WatchPause;
decltype(&GlobalMemoryStatusEx) MemorySlot asm(IMPORT_SLOT(GlobalMemoryStatusEx, 4)) = GiveMemoryStatus;
}

int main(int argc, char** argv) {
    ReadGivenMemory();
    if (argc >= 2 && std::strcmp(argv[1], "events") == 0) return RunEvents(argc - 2, argv + 2);
    if (argc < 3) return 2;
    const DWORD control = std::strcmp(argv[1], "shutdown") == 0 ? SERVICE_CONTROL_SHUTDOWN : SERVICE_CONTROL_STOP;
    HoldStartPending = std::strcmp(argv[2], "starting") == 0;
    UseDefaultDllDirectories = argc < 4 || std::strcmp(argv[3], "xp") != 0;
    HANDLE serviceThread = CreateThread(nullptr, 0, RunServiceMain, nullptr, 0, nullptr);
    if (WaitForSingleObject(StartReported, 5000) != WAIT_OBJECT_0) return 3;
    Sleep(static_cast<DWORD>(std::atoi(argv[2])));
    Deliver(SERVICE_CONTROL_INTERROGATE);   // must change nothing
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    Deliver(control);
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
    // the process's exit would wait for, as in the service. Otherwise the
    // process ends only once the service's thread has ended too: once, on a
    // loaded machine, Wine ended the driver with signal 11 after all its
    // output while that thread was still on its way out.
    if (LoadLeftRunning()) TerminateProcess(GetCurrentProcess(), 0);
    WaitForSingleObject(serviceThread, 5000);
    return 0;
}
