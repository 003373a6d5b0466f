#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "box_recorder.h"
#include "service/screen.h"

namespace {
std::string MemoryText(uint32_t megabytes) {
    char text[MemoryTextLength + 1];
    BuildMemoryText(megabytes, text);
    return text;
}

// Plans and draws one cycle from a state at the given levels; returns the
// row-1 cells written, in order, as "column:code".
std::string CellsWritten(int cpuFrom, int memoryFrom, int cpuPercent, int loadPercent) {
    ScreenState state;
    ResetScreenState(state);
    std::strcpy(state.lastTopText, "12/31 23:59");
    std::strcpy(state.lastMemoryText, " 100M");
    state.lastCpuLevel = cpuFrom;
    state.lastMemoryLevel = memoryFrom;
    ScreenOp ops[MaxScreenOps];
    int count = PlanScreenUpdate(state, "12/31 23:59", " 100M", cpuPercent, loadPercent, ops);
    std::string out;
    for (int i = 0; i < count; i += 2) {
        EXPECT_EQ(ops[i].kind, OpSetCursor);
        EXPECT_EQ(ops[i].row, 1);
        const ScreenOp& write = ops[i + 1];
        int code = write.kind == OpPutText ? write.text[0] : write.glyph;
        out += std::to_string(ops[i].column) + ":" + std::to_string(code) + " ";
    }
    return out;
}
}   // namespace

TEST(ScreenTexts, TopTextFromDateAndTime) {
    char top[TopTextLength + 1];
    BuildTopText("2026/10/28", "11:56:07", top);
    EXPECT_STREQ(top, "10/28 11:56");
}

TEST(ScreenTexts, MemoryTextRightAlignedAndGigabytesFromTenThousand) {
    EXPECT_EQ(MemoryText(0), "   0M");
    EXPECT_EQ(MemoryText(5), "   5M");
    EXPECT_EQ(MemoryText(123), " 123M");
    EXPECT_EQ(MemoryText(4095), "4095M");
    EXPECT_EQ(MemoryText(9999), "9999M");
    EXPECT_EQ(MemoryText(10000), "   9G");
    EXPECT_EQ(MemoryText(40960), "  40G");
    EXPECT_EQ(MemoryText(0xFFFFFFFFu), "9999G");
}

TEST(ScreenBars, LevelsRoundDownAndAreHeldInRange) {
    EXPECT_EQ(BarLevel(100), 16);
    EXPECT_EQ(BarLevel(99), 15);
    EXPECT_EQ(BarLevel(6), 0);
    EXPECT_EQ(BarLevel(7), 1);
    EXPECT_EQ(BarLevel(-2147483647 - 1), 0);
    EXPECT_EQ(BarLevel(2147483647), 16);
}

TEST(ScreenBars, ProcessorFallsFrom10To4UnderMemoryAt6) {
    // 4/16 = 25 %, memory 6 cells = 37.5 % -> 38 % gives floor(6.08) = 6.
    EXPECT_EQ(CellsWritten(10, 6, 25, 38), "9:32 8:32 7:32 6:32 5:0 4:0 ");
}

TEST(ScreenBars, MemoryRisesFrom3To8UnderProcessorAt5) {
    EXPECT_EQ(CellsWritten(5, 3, 32, 50), "3:2 4:2 5:0 6:0 7:0 ");
}

TEST(ScreenBars, UnchangedCycleWritesNothing) { EXPECT_EQ(CellsWritten(7, 9, 44, 57), ""); }

// A display just switched on, one cycle: both texts, then from the left the
// cells both bars reach as glyph 2, the longer bar's own glyph to its end, spaces.
TEST(ScreenFirstCycle, DrawsBothTextsAndBothBars) {
    const struct {
        int cpu, load;
        const char* row1;
    } cases[] = {
        {25, 50, "02 02 02 02 00 00 00 00 20 20 20 20 20 20 20 20"},   // memory bar longer
        {75, 25, "02 02 02 02 01 01 01 01 01 01 01 01 20 20 20 20"},   // processor bar longer
    };
    for (const auto& c : cases) {
        ResetBox();
        ScreenState state;
        ResetScreenState(state);
        ScreenOp ops[MaxScreenOps];
        const int count = PlanScreenUpdate(state, "01/02 03:04", "  12M", c.cpu, c.load, ops);
        for (int i = 0; i < count; ++i) DrawScreenOp(ops[i]);
        std::string row0, row1;
        for (int column = 0; column < 16; ++column) {
            char code[4];
            std::snprintf(code, sizeof code, column ? " %02X" : "%02X", ModelCell(RecordedDisplay, 1, column));
            row0 += static_cast<char>(ModelCell(RecordedDisplay, 0, column));
            row1 += code;
        }
        EXPECT_EQ(row0, "01/02 03:04  12M");
        EXPECT_EQ(row1, c.row1) << "cpu " << c.cpu << " % load " << c.load << " %";
    }
}

// A failed date call leaves NULs: the text stops there on the LCD, and the
// next good cycle writes the whole text again.
TEST(ScreenFirstCycle, FailedDateCallThenRecovery) {
    ResetBox();
    ScreenState state;
    ResetScreenState(state);
    char empty[255] = {};
    char top[TopTextLength + 1];
    BuildTopText(empty, "10:00:00", top);
    ScreenOp ops[MaxScreenOps];
    int count = PlanScreenUpdate(state, top, "   1M", 0, 0, ops);
    for (int i = 0; i < count; ++i) DrawScreenOp(ops[i]);
    EXPECT_EQ(ModelCell(RecordedDisplay, 0, 0), 0x20);
    count = PlanScreenUpdate(state, "05/06 10:00", "   1M", 0, 0, ops);
    EXPECT_EQ(count, 2);
}
