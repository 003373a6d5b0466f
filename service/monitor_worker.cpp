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

// How a run of LCD operations ended: all of them drawn, or cut short between
// two of them by a stop or by a suspend's notice.
enum Drawing { Drawn, Quit, Held };

// Stops drawing for the suspend's notice: from now on the LCD is the
// notice's, until the machine woke and a full redraw is due.
void AcknowledgeHold() {
    HoldForSuspend(Wake);
    SetEvent(WorkerHeldEvent);
}

// Asked between two LCD operations, in one look at both events: may the
// worker go on drawing? A stop comes before a hold.
Drawing Interruption() {
    const HANDLE events[] = {WorkerQuitEvent, WorkerHoldEvent};
    switch (WaitForMultipleObjects(2, events, FALSE, 0)) {
        case WAIT_OBJECT_0: return Quit;
        case WAIT_OBJECT_0 + 1: AcknowledgeHold(); return Held;
        default: return Drawn;
    }
}

Drawing DrawOps(const ScreenOp* ops, int count) {
    for (int i = 0; i < count; ++i) {
        const Drawing interrupted = Interruption();
        if (interrupted != Drawn) return interrupted;
        DrawScreenOp(ops[i]);
    }
    return Drawn;
}

// The pause between two cycles; true when a stop request came during it. A
// suspend's request to hold is answered at once, and the pause goes on.
bool PauseUntilQuit() {
    const DWORD start = GetTickCount();
    const HANDLE events[] = {WorkerQuitEvent, WorkerHoldEvent};
    for (;;) {
        const DWORD waited = GetTickCount() - start;
        const DWORD result = WaitForMultipleObjects(2, events, FALSE, waited < CyclePause ? CyclePause - waited : 0);
        if (result == WAIT_OBJECT_0) return true;
        if (result != WAIT_OBJECT_0 + 1) {
            const DWORD rest = RestOfPause(result, GetTickCount() - start);
            if (rest > 0) Sleep(rest);
            return false;
        }
        AcknowledgeHold();
    }
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
// as at start. Cut short between two glyph rows by a stop or a suspend.
Drawing SetUpDisplay() {
    LcdInitialise();
    ScreenOp ops[GlyphDefinitionOps];
    const Drawing drawn = DrawOps(ops, PlanGlyphDefinition(ops));
    if (drawn == Drawn) ResetScreenState(Screen);
    return drawn;
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

bool HoldWorkerForSuspend(unsigned long timeout) {
    ResetEvent(WorkerHeldEvent);
    SetEvent(WorkerHoldEvent);
    if (WaitForSingleObject(WorkerHeldEvent, timeout) == WAIT_OBJECT_0) return true;
    // The worker is inside a call into the box. Should it take the request
    // all the same in this instant, it holds until the machine woke.
    ResetEvent(WorkerHoldEvent);
    return false;
}

DWORD WINAPI MonitorWorker(LPVOID) {
    const Drawing first = SetUpDisplay();
    if (first == Quit) return 0;
    BindSleepClock();
    ArmLateRedraws(Wake, GetTickCount(), ReadSleepClock());
    if (first == Held) HoldForSuspend(Wake);
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
        // While a suspend's notice is still on its way to the box, the LCD
        // is the notice's: the worker waits, holding.
        Drawing drawn = Drawn;
        if (!(Wake.held && NoticeLeftRunning()) && FullRedrawDue(Wake, idleFrom, now, ReadSleepClock()))
            drawn = SetUpDisplay();
        if (drawn == Drawn && !Wake.held)
            drawn = DrawOps(ops, PlanScreenUpdate(Screen, topText, memoryText, Sampler.ProcessorUsage[0],
                                                  static_cast<int>(memory.memoryLoad), ops));
        if (drawn == Quit) return 0;
        idleFrom = GetTickCount();
        if (PauseUntilQuit()) return 0;
    }
}
