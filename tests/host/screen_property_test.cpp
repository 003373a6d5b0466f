// After any sequence of cycles the display shows what the screen layout says
// for the latest figures (expected_screen.h, written apart from the service),
// and the box saw no more byte writes than the changes need.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "box_recorder.h"
#include "expected_screen.h"
#include "lcd/lcd_driver.h"
#include "service/screen.h"

namespace {
struct Figures {
    unsigned month, day, hour, minute;   // the local time as GetLocalTime gives it
    uint32_t megabytes;
    int cpu, load;
};

Figures RandomFigures(std::mt19937& random, const Figures& previous) {
    Figures f = previous;
    // Mostly small steps, as from one second to the next, sometimes jumps
    // and out-of-range values.
    if (random() % 4 == 0) {
        f.month = unsigned(random() % 12 + 1);
        f.day = unsigned(random() % 31 + 1);
        f.hour = unsigned(random() % 24);
        f.minute = unsigned(random() % 60);
    }
    if (random() % 3 == 0) {
        const uint32_t choices[] = {0u, 5u, 4095u, 9999u, 10000u, 10239u, 10240u, 0xFFFFFFFFu};
        f.megabytes = random() % 5 == 0 ? choices[random() % 8] : static_cast<uint32_t>(random() % 20000);
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

std::string ShownRow(int row) {
    std::string cells;
    for (int c = 0; c < LcdColumns; ++c) cells += static_cast<char>(ModelCell(RecordedDisplay, row, c));
    return cells;
}

// The worker's cycle: texts built, then planned and drawn.
void DrawCycle(ScreenState& state, const Figures& f) {
    char top[TopTextLength + 1], memory[MemoryTextLength + 1];
    BuildTopText(f.month, f.day, f.hour, f.minute, top);
    BuildMemoryText(f.megabytes, memory);
    ScreenOp ops[MaxScreenOps];
    const int count = PlanScreenUpdate(state, top, memory, f.cpu, f.load, ops);
    ASSERT_LE(count, MaxScreenOps);
    for (int i = 0; i < count; ++i) DrawScreenOp(ops[i]);
}
}   // namespace

TEST(ScreenProperty, RandomCyclesShowTheLayoutWithMinimalWrites) {
    std::mt19937 random(20261207);
    for (int sequence = 0; sequence < 300; ++sequence) {
        ResetBox();
        LcdInitialise();
        DefineBarGlyphs();
        ScreenState state;
        ResetScreenState(state);
        Figures f{1, 1, 0, 0, 0, 0, 0};
        std::string shownClock, shownMemory;   // nothing drawn yet
        int shownCpuCells = 0, shownMemoryCells = 0;
        for (int cycle = 0; cycle < 40; ++cycle) {
            f = RandomFigures(random, f);
            const int writesBefore = CountByteWrites();
            DrawCycle(state, f);
            if (HasFatalFailure()) return;
            const std::string clock = ExpectedClockText(f.month, f.day, f.hour, f.minute),
                              memory = ExpectedMemoryText(f.megabytes);
            const int cpuCells = ExpectedBarCells(f.cpu), memoryCells = ExpectedBarCells(f.load);
            // A changed text costs a cursor move and its bytes; each bar costs
            // a cursor move and a byte for every cell between its old and new end.
            const int expectedWrites = (clock != shownClock ? 1 + int(clock.size()) : 0) +
                                       (memory != shownMemory ? 1 + int(memory.size()) : 0) +
                                       2 * std::abs(cpuCells - shownCpuCells) +
                                       2 * std::abs(memoryCells - shownMemoryCells);
            ASSERT_EQ(CountByteWrites() - writesBefore, expectedWrites)
                << "sequence " << sequence << " cycle " << cycle;
            ASSERT_EQ(ShownRow(0), clock + memory) << "sequence " << sequence << " cycle " << cycle;
            ASSERT_EQ(ShownRow(1), ExpectedBarRow(f.cpu, f.load))
                << "sequence " << sequence << " cycle " << cycle << ": cpu " << f.cpu << " load " << f.load;
            ASSERT_EQ(std::string(RecordedDisplay.glyphRam, RecordedDisplay.glyphRam + 24),
                      std::string(ExpectedGlyphRows, ExpectedGlyphRows + 24));
            shownClock = clock;
            shownMemory = memory;
            shownCpuCells = cpuCells;
            shownMemoryCells = memoryCells;
        }
    }
}
