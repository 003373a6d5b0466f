// Reads from inside Wine what the tests compare the service against.
//
//   system_probe.exe watch <interval ms> <samples>
//     the machine's figures, one line a sample, with the time on the same
//     clock as the stand-in box library's transfer log (GetTickCount64):
//     "at <ms> to <ms> idle <100 ns> busy <100 ns> avail <bytes> phys <bytes> commit <bytes>",
//     the readings taken between the two times (a process can stall between
//     reading the clock and reading the figures).
//     Processor times come from GetSystemTimes (not the query the service
//     uses), summed over every processor. The memory figures come fresh from
//     the system's performance record at every sample: GlobalMemoryStatusEx,
//     which the service calls, answers from a copy up to a second old in
//     each process under Wine, so two processes calling it a moment apart
//     may see figures a second apart.
//   system_probe.exe process <program file name> <interval ms> <samples>
//     the handle count, private bytes, peak private bytes and processor time
//     of the running process of that name, one line a sample:
//     "sample <ms> handles <n> private <bytes> peak <bytes> cpu_ms <ms>",
//     or "missing" when no such process runs.  Wine reports no processor
//     time for another process; the tests read it from Linux instead.
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

unsigned long long Ticks(const FILETIME& time) {
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

QuerySystemInformation NtQuery() {
    return reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
}

// The page counts of SYSTEM_BASIC_INFORMATION (page size at 8, physical
// pages at 12) and SYSTEM_PERFORMANCE_INFORMATION (available, committed
// pages at 44 and 48): 32-bit fields ahead of any pointer, so the same
// offsets in 32-bit and 64-bit programs.
ULONG FieldAt(const unsigned char* record, int offset) {
    ULONG value;
    std::memcpy(&value, record + offset, sizeof value);
    return value;
}

int PrintFigures(DWORD interval, int samples) {
    const QuerySystemInformation query = NtQuery();
    unsigned char basic[sizeof(SYSTEM_BASIC_INFORMATION)], performance[1024];
    std::memset(basic, 0, sizeof basic);
    if (query == nullptr || query(0, basic, sizeof basic, nullptr) != 0) return 1;
    const unsigned long long page = FieldAt(basic, 8), physical = page * FieldAt(basic, 12);
    for (int i = 0; i < samples; ++i) {
        if (i > 0) Sleep(interval);
        const unsigned long long at = GetTickCount64();
        FILETIME idle, kernel, user;
        GetSystemTimes(&idle, &kernel, &user);
        std::memset(performance, 0, sizeof performance);
        query(2, performance, sizeof performance, nullptr);
        // Kernel time includes idle time.
        std::printf("at %llu to %llu idle %llu busy %llu avail %llu phys %llu commit %llu\n", at, GetTickCount64(),
                    Ticks(idle), Ticks(kernel) + Ticks(user) - Ticks(idle), page * FieldAt(performance, 44), physical,
                    page * FieldAt(performance, 48));
        std::fflush(stdout);
    }
    return 0;
}

// Handles of a process, counted in the system handle list: Wine answers
// GetProcessHandleCount for another process with 0, but lists its handles.
struct SystemHandleEntry {
    ULONG processId;
    UCHAR objectType, flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};
constexpr ULONG SystemHandleInformationClass = 16;

long CountHandlesOf(DWORD processId) {
    static unsigned char buffer[4 << 20];
    const QuerySystemInformation query = NtQuery();
    if (query == nullptr || query(SystemHandleInformationClass, buffer, sizeof buffer, nullptr) != 0) return -1;
    const ULONG count = *reinterpret_cast<ULONG*>(buffer);
    const auto* entries = reinterpret_cast<const SystemHandleEntry*>(buffer + sizeof(ULONG_PTR));
    long found = 0;
    for (ULONG i = 0; i < count && (i + 1) * sizeof *entries <= sizeof buffer - sizeof(ULONG_PTR); ++i)
        if (entries[i].processId == processId) ++found;
    return found;
}

DWORD FindProcess(const char* fileName) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 0;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    DWORD found = 0;
    for (BOOL more = Process32First(snapshot, &entry); more && found == 0; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, fileName) == 0) found = entry.th32ProcessID;
    }
    CloseHandle(snapshot);
    return found;
}

int PrintProcessSamples(const char* fileName, DWORD interval, int samples) {
    const DWORD id = FindProcess(fileName);
    HANDLE process = id ? OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id) : nullptr;
    if (process == nullptr) {
        std::printf("missing\n");
        return 1;
    }
    const DWORD start = GetTickCount();
    for (int i = 0; i < samples; ++i) {
        if (i > 0) Sleep(interval);
        PROCESS_MEMORY_COUNTERS memory;
        std::memset(&memory, 0, sizeof memory);
        GetProcessMemoryInfo(process, &memory, sizeof memory);
        FILETIME created, exited, kernel, user;
        GetProcessTimes(process, &created, &exited, &kernel, &user);
        DWORD code = 0;
        if (GetExitCodeProcess(process, &code) && code != STILL_ACTIVE) {
            std::printf("ended %lu\n", code);
            break;
        }
        // Private bytes are the page file usage; Wine leaves PrivateUsage 0
        // for another process but fills the page file figures.
        std::printf("sample %lu handles %ld private %lu peak %lu cpu_ms %llu\n", GetTickCount() - start,
                    CountHandlesOf(id), static_cast<unsigned long>(memory.PagefileUsage),
                    static_cast<unsigned long>(memory.PeakPagefileUsage), (Ticks(kernel) + Ticks(user)) / 10000);
        std::fflush(stdout);
    }
    CloseHandle(process);
    return 0;
}

}   // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::strcmp(argv[1], "watch") == 0)
        return PrintFigures(static_cast<DWORD>(std::atoi(argv[2])), std::atoi(argv[3]));
    if (argc >= 5 && std::strcmp(argv[1], "process") == 0)
        return PrintProcessSamples(argv[2], static_cast<DWORD>(std::atoi(argv[3])), std::atoi(argv[4]));
    std::fprintf(stderr,
                 "usage: system_probe watch <interval ms> <samples> | process <file> <interval ms> <samples>\n");
    return 2;
}
