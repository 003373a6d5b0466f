// A box library that only counts: uio_out takes every call, reaches no LCD
// and keeps no file open, so that a benchmark can tell the service's own
// processor time from the stand-in's, which writes its state file and log at
// every call. When the library is unloaded (the process ends), it writes
// counting-box.txt beside itself once: "calls N first_ms F last_ms L", the
// tick of its first and last call (GetTickCount64), so that the calls a
// second can be worked out over the span that saw them.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "module_folder.h"

namespace {
volatile LONG CallCount = 0;
volatile ULONGLONG FirstCallMs = 0;
volatile ULONGLONG LastCallMs = 0;
char CountPath[MAX_PATH + 32];

// The file is named while the loader lock is held at load, when nothing
// else can run in the library yet.
void NameCountFile(HMODULE self) {
    char directory[MAX_PATH];
    if (!ModuleFolder(self, directory)) return;
    std::snprintf(CountPath, sizeof CountPath, "%scounting-box.txt", directory);
}

void WriteCount() {
    if (!CountPath[0]) return;
    char text[128];
    int length = std::snprintf(text, sizeof text, "calls %ld first_ms %llu last_ms %llu\n", CallCount,
                               static_cast<unsigned long long>(FirstCallMs),
                               static_cast<unsigned long long>(LastCallMs));
    HANDLE file = CreateFileA(CountPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
    CloseHandle(file);
}
}   // namespace

// The service makes its calls from one thread at a time; the count is kept
// with an interlocked add all the same, as any library may be called so.
extern "C" int __stdcall uio_out(int, int, int) {
    const ULONGLONG now = GetTickCount64();
    if (InterlockedIncrement(&CallCount) == 1) FirstCallMs = now;
    LastCallMs = now;
    return 0;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) NameCountFile(instance);
    if (reason == DLL_PROCESS_DETACH) WriteCount();
    return TRUE;
}
