#include "monitor_worker.h"

#include <cstring>

#include "../lcd/lcd_driver.h"
#include "../sampler/sampler.h"
#include "screen.h"
#include "service_host.h"

namespace {
ScreenState Screen;
constexpr DWORD CyclePause = 1000;
constexpr int FormatBufferSize = 255;

bool QuitRequested() { return WaitForSingleObject(WorkerQuitEvent, 0) == WAIT_OBJECT_0; }

void ReadTopText(char* topText) {
    char date[FormatBufferSize];
    char time[FormatBufferSize];
    std::memset(date, 0, sizeof date);
    std::memset(time, 0, sizeof time);
    GetDateFormatA(LOCALE_SYSTEM_DEFAULT, 0, nullptr, "yyyy/MM/dd", date, FormatBufferSize);
    GetTimeFormatA(LOCALE_SYSTEM_DEFAULT, 0, nullptr, "HH:mm:ss", time, FormatBufferSize);
    BuildTopText(date, time, topText);
}
}  // namespace

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
        if (WaitForSingleObject(WorkerQuitEvent, CyclePause) == WAIT_OBJECT_0) return 0;
    }
}
