#include "monitor_worker.h"

#include "../lcd/lcd_driver.h"
#include "../sampler/sampler.h"
#include "screen.h"
#include "service_host.h"
#include "wake_redraw.h"

namespace {
ScreenState Screen;
WakeWatch Wake;
// Set by the control handler's thread, taken by the worker's.
LONG ReplugOrResumeNoted = 0;

static_assert(PauseWaitQuit == WAIT_OBJECT_0 && PauseWaitTimedOut == WAIT_TIMEOUT,
              "the pause's wait results are Windows' own");

bool QuitRequested() { return WaitForSingleObject(WorkerQuitEvent, 0) == WAIT_OBJECT_0; }

// The pause between two cycles; true when a stop request came during it.
bool PauseUntilQuit() {
    const DWORD start = GetTickCount();
    const DWORD result = WaitForSingleObject(WorkerQuitEvent, CyclePause);
    if (result == WAIT_OBJECT_0) return true;
    const DWORD rest = RestOfPause(result, GetTickCount() - start);
    if (rest > 0) Sleep(rest);
    return false;
}

// The local date and time as plain Gregorian figures. The formatting calls
// take the calendar and the user's overrides from the service account's
// settings: under the Japanese era calendar "yyyy" gives the era's year in
// two digits ("08/12/09"), and a Hijri calendar other months and days, so the
// fixed columns would show the wrong part or stop at a NUL. SYSTEMTIME
// always holds the Gregorian date, whatever the settings.
void ReadTopText(char* topText) {
    SYSTEMTIME now;
    GetLocalTime(&now);
    BuildTopText(now.wMonth, now.wDay, now.wHour, now.wMinute, topText);
}

// The LCD's reset and configuration and the glyph definitions, after which
// the next plan writes both texts and both bars from column 0: the display
// as at start. False when a stop request came in between.
bool SetUpDisplay() {
    LcdInitialise();
    ScreenOp ops[GlyphDefinitionOps];
    const int count = PlanGlyphDefinition(ops);
    for (int i = 0; i < count; ++i) {
        if (QuitRequested()) return false;
        DrawScreenOp(ops[i]);
    }
    ResetScreenState(Screen);
    return true;
}

// The two counters of the sleep clock exist from Windows 7 on: they are
// looked up by name, so that the program still starts on Windows XP, where
// the idle-span rule alone tells a sleep.
using TickCount64Function = ULONGLONG(WINAPI*)();
using UnbiasedTimeFunction = BOOL(WINAPI*)(PULONGLONG);
TickCount64Function TickCount64 = nullptr;
UnbiasedTimeFunction UnbiasedTime = nullptr;

void BindSleepClock() {
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (kernel == nullptr) return;
    TickCount64 = reinterpret_cast<TickCount64Function>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "GetTickCount64")));
    UnbiasedTime = reinterpret_cast<UnbiasedTimeFunction>(
        reinterpret_cast<void (*)()>(GetProcAddress(kernel, "QueryUnbiasedInterruptTime")));
}

SleepClock ReadSleepClock() {
    ULONGLONG unbiased = 0;
    if (TickCount64 == nullptr || UnbiasedTime == nullptr || !UnbiasedTime(&unbiased)) return SleepClock{false, 0};
    return SleepClockFrom(TickCount64(), unbiased);
}
}   // namespace

void NoteReplugOrResume() { InterlockedExchange(&ReplugOrResumeNoted, 1); }

DWORD WINAPI MonitorWorker(LPVOID) {
    if (!SetUpDisplay()) return 0;
    BindSleepClock();
    ArmLateRedraws(Wake, GetTickCount(), ReadSleepClock());
    Sampler.ProcessorCount = CountProcessors();
    PrimeProcessorTimes();

    ScreenOp ops[MaxScreenOps];
    // The worker is idle from the end of one cycle's drawing to the moment
    // the next has its figures: the pause and the readings, never a call to
    // the box, so a slow box cannot pass for a sleep.
    DWORD idleFrom = GetTickCount();
    for (;;) {
        char topText[TopTextLength + 1];
        ReadTopText(topText);
        const MemoryFigures memory = ReadMemoryFigures();
        char memoryText[MemoryTextLength + 1];
        BuildMemoryText(memory.committedMegabytes, memoryText);
        SampleProcessorTimes();
        const DWORD now = GetTickCount();
        if (InterlockedExchange(&ReplugOrResumeNoted, 0) != 0) ArmAnnouncedRedraws(Wake, now);
        if (FullRedrawDue(Wake, idleFrom, now, ReadSleepClock()) && !SetUpDisplay()) return 0;
        const int count = PlanScreenUpdate(Screen, topText, memoryText, Sampler.ProcessorUsage[0],
                                           static_cast<int>(memory.memoryLoad), ops);
        for (int i = 0; i < count; ++i) {
            if (QuitRequested()) return 0;
            DrawScreenOp(ops[i]);
        }
        idleFrom = GetTickCount();
        if (PauseUntilQuit()) return 0;
    }
}
