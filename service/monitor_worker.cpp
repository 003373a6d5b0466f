#include "monitor_worker.h"

#include <cstring>

#include "../lcd/lcd_driver.h"
#include "../sampler/sampler.h"
#include "screen.h"
#include "service_host.h"

namespace {
ScreenState Screen;
constexpr int FormatBufferSize = 255;

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

void ReadTopText(char* topText) {
    char date[FormatBufferSize];
    char time[FormatBufferSize];
    std::memset(date, 0, sizeof date);
    std::memset(time, 0, sizeof time);
    GetDateFormatA(LOCALE_SYSTEM_DEFAULT, 0, nullptr, "yyyy/MM/dd", date, FormatBufferSize);
    GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, 0, nullptr, "HH:mm:ss", time, FormatBufferSize);
    BuildTopText(date, time, topText);
}
}   // namespace

DWORD WINAPI MonitorWorker(LPVOID) {
    LcdInitialise();
    if (QuitRequested()) return 0;
    DefineBarGlyphs();
    Sampler.ProcessorCount = CountProcessors();
    PrimeProcessorTimes();
    ResetScreenState(Screen);

    ScreenOp ops[MaxScreenOps];
    for (;;) {
        char topText[TopTextLength + 1];
        ReadTopText(topText);
        const MemoryFigures memory = ReadMemoryFigures();
        char memoryText[MemoryTextLength + 1];
        BuildMemoryText(memory.committedMegabytes, memoryText);
        SampleProcessorTimes();
        const int load = memory.memoryLoad > 100 ? 100 : static_cast<int>(memory.memoryLoad);
        const int count = PlanScreenUpdate(Screen, topText, memoryText, Sampler.ProcessorUsage[0], load, ops);
        for (int i = 0; i < count; ++i) {
            if (QuitRequested()) return 0;
            DrawScreenOp(ops[i]);
        }
        if (PauseUntilQuit()) return 0;
    }
}
