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

std::string TopText(unsigned month, unsigned day, unsigned hour, unsigned minute) {
    char top[TopTextLength + 1];
    BuildTopText(month, day, hour, minute, top);
    return top;
}

// The clock's edges as a person reads them: every hour of the day in its
// 24-hour form with a leading zero (15:00 is never 03:00, 09 never 9), every
// minute, and the first and last day of every month.
TEST(ScreenTexts, TopTextAtEveryEdgeOfTheClockAndTheCalendar) {
    EXPECT_EQ(TopText(1, 1, 0, 0), "01/01 00:00");
    EXPECT_EQ(TopText(12, 31, 23, 59), "12/31 23:59");
    EXPECT_EQ(TopText(2, 29, 12, 0), "02/29 12:00");
    EXPECT_EQ(TopText(10, 28, 15, 7), "10/28 15:07");
    EXPECT_EQ(TopText(9, 9, 9, 9), "09/09 09:09");
    const char* digits[] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
    auto two = [&](unsigned n) { return std::string(digits[n / 10]) + digits[n % 10]; };
    for (unsigned hour = 0; hour < 24; ++hour)
        for (unsigned minute = 0; minute < 60; ++minute)
            ASSERT_EQ(TopText(7, 4, hour, minute), "07/04 " + two(hour) + ":" + two(minute));
    const unsigned lastDay[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    for (unsigned month = 1; month <= 12; ++month)
        for (unsigned day : {1u, lastDay[month - 1]})
            EXPECT_EQ(TopText(month, day, 23, 59), two(month) + "/" + two(day) + " 23:59");
    // Figures no clock gives still fill exactly the text's 11 cells.
    EXPECT_EQ(TopText(65535, 100, 124, 60), "35/00 24:60");
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
