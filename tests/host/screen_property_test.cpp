// After any sequence of cycles the display equals a fresh full drawing of
// the same figures, and the box saw no more byte writes than the diff needs.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "box_recorder.h"
#include "lcd/lcd_driver.h"
#include "service/screen.h"

namespace {
struct Figures {
    char top[TopTextLength + 1];
    char memory[MemoryTextLength + 1];
    int cpu, load;
};

Figures RandomFigures(std::mt19937& random, const Figures& previous) {
    Figures f = previous;
    // Mostly small steps, as from one second to the next, sometimes jumps
    // and out-of-range values.
    if (random() % 4 == 0) {
        char date[16], time[16];
        std::snprintf(date, sizeof date, "2026/%02u/%02u", unsigned(random() % 12 + 1), unsigned(random() % 28 + 1));
        std::snprintf(time, sizeof time, "%02u:%02u:00", unsigned(random() % 24), unsigned(random() % 60));
        BuildTopText(date, time, f.top);
    }
    if (random() % 3 == 0) {
        const uint32_t choices[] = {0u, 5u, 4095u, 9999u, 10000u, 0xFFFFFFFFu};
        uint32_t mb = random() % 5 == 0 ? choices[random() % 6] : static_cast<uint32_t>(random() % 20000);
        BuildMemoryText(mb, f.memory);
    }
    auto percent = [&](int old) {
        switch (random() % 6) {
            case 0: return static_cast<int>(random() % 101);
            case 1: return static_cast<int>(random() % 2001) - 1000;   // out of range
            case 2: return old;
            default: return old + static_cast<int>(random() % 11) - 5;
        }
    };
    f.cpu = percent(f.cpu);
    f.load = percent(f.load);
    return f;
}

void ExpectFreshDrawing(const Figures& f) {
    for (int c = 0; c < TopTextLength; ++c) ASSERT_EQ(ModelCell(RecordedDisplay, 0, c), uint8_t(f.top[c]));
    for (int c = 0; c < MemoryTextLength; ++c)
        ASSERT_EQ(ModelCell(RecordedDisplay, 0, MemoryTextColumn + c), uint8_t(f.memory[c]));
    for (int c = 0; c < BarCells; ++c)
        ASSERT_EQ(ModelCell(RecordedDisplay, 1, c), BarCellCode(c + 1, BarLevel(f.cpu), BarLevel(f.load)))
            << "column " << c;
    for (int i = 0; i < 3 * GlyphRows; ++i) ASSERT_EQ(RecordedDisplay.glyphRam[i], BarGlyphRows[i]);
}
}  // namespace

TEST(ScreenProperty, RandomCyclesMatchAFreshDrawingWithMinimalWrites) {
    std::mt19937 random(20261207);
    ScreenOp ops[MaxScreenOps];
    for (int sequence = 0; sequence < 300; ++sequence) {
        ResetBox();
        LcdInitialise();
        DefineBarGlyphs();
        ScreenState state;
        ResetScreenState(state);
        Figures f;
        BuildTopText("2026/01/01", "00:00:00", f.top);
        BuildMemoryText(0, f.memory);
        f.cpu = f.load = 0;
        bool first = true;
        for (int cycle = 0; cycle < 40; ++cycle) {
            const Figures next = RandomFigures(random, f);
            const int oldCpu = state.lastCpuLevel, oldMemory = state.lastMemoryLevel;
            const bool topChanged = first || std::memcmp(next.top, f.top, sizeof f.top) != 0;
            const bool memoryChanged = first || std::memcmp(next.memory, f.memory, sizeof f.memory) != 0;
            const int writesBefore = CountByteWrites();
            const int count = PlanScreenUpdate(state, next.top, next.memory, next.cpu, next.load, ops);
            ASSERT_LE(count, MaxScreenOps);
            for (int i = 0; i < count; ++i) DrawScreenOp(ops[i]);
            const int expectedWrites = (topChanged ? 1 + TopTextLength : 0) +
                                       (memoryChanged ? 1 + MemoryTextLength : 0) +
                                       2 * std::abs(BarLevel(next.cpu) - oldCpu) +
                                       2 * std::abs(BarLevel(next.load) - oldMemory);
            ASSERT_EQ(CountByteWrites() - writesBefore, expectedWrites) << "sequence " << sequence << " cycle " << cycle;
            f = next;
            first = false;
            ExpectFreshDrawing(f);
            if (HasFatalFailure()) return;
        }
    }
}
