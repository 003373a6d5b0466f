#include "screen.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "../lcd/lcd_driver.h"

const uint8_t BarGlyphRows[3 * GlyphRows] = {
    0x00, 0x15, 0x15, 0x00, 0x00, 0x00, 0x00, 0x00,   // memory bar: dotted stripe, pixel rows 1-2
    0x00, 0x00, 0x00, 0x00, 0x00, 0x1B, 0x1B, 0x00,   // processor bar: gapped stripe, pixel rows 5-6
    0x00, 0x15, 0x15, 0x00, 0x00, 0x1B, 0x1B, 0x00,   // both bars
};

const char StoppedNotice[] = " ｷﾉｳﾃｲｼﾁｭｳ";

namespace {
constexpr int16_t SpaceCode = 0x20;
const char SingleSpace[] = " ";

void AddCursor(ScreenOp* ops, int& count, int column, int row) {
    ops[count++] = ScreenOp{OpSetCursor, static_cast<int16_t>(column), static_cast<int16_t>(row), 0, nullptr};
}

void AddCell(ScreenOp* ops, int& count, int cell, int16_t code) {
    AddCursor(ops, count, cell - 1, 1);
    if (code == SpaceCode) ops[count++] = ScreenOp{OpPutText, 0, 0, 0, SingleSpace};
    else ops[count++] = ScreenOp{OpWriteGlyph, 0, 0, code, nullptr};
}

// Redraws the cells between a bar's old and new level. The other bar's
// level is the one already current, so shared cells get the right glyph.
void PlanBar(ScreenOp* ops, int& count, int oldLevel, int newLevel, bool processorBar, int otherLevel) {
    const int cpuLevel = processorBar ? newLevel : otherLevel;
    const int memoryLevel = processorBar ? otherLevel : newLevel;
    const int step = newLevel > oldLevel ? 1 : -1;
    // Rising: cells old+1 .. new; falling: cells old down to new+1.
    for (int cell = step > 0 ? oldLevel + 1 : oldLevel; cell != (step > 0 ? newLevel + 1 : newLevel); cell += step)
        AddCell(ops, count, cell, BarCellCode(cell, cpuLevel, memoryLevel));
}
}   // namespace

void ResetScreenState(ScreenState& state) { std::memset(&state, 0, sizeof state); }

namespace {
void PutTwoDigits(char* at, unsigned figure) {
    at[0] = static_cast<char>('0' + figure / 10 % 10);
    at[1] = static_cast<char>('0' + figure % 10);
}
}   // namespace

void BuildTopText(unsigned month, unsigned day, unsigned hour, unsigned minute, char* topText) {
    PutTwoDigits(topText, month);
    topText[2] = '/';
    PutTwoDigits(topText + 3, day);
    topText[5] = ' ';
    PutTwoDigits(topText + 6, hour);
    topText[8] = ':';
    PutTwoDigits(topText + 9, minute);
    topText[TopTextLength] = '\0';
}

void BuildMemoryText(uint32_t megabytes, char* memoryText) {
    char unit = 'M';
    uint32_t figure = megabytes;
    if (figure > 9999) {
        unit = 'G';
        figure /= 1024;
        if (figure > 9999) figure = 9999;
    }
    std::snprintf(memoryText, MemoryTextLength + 1, "%4u%c", static_cast<unsigned>(figure), unit);
}

int BarLevel(int percent) {
    if (percent < 0) percent = 0;
    if (percent > 100) percent = 100;
    return static_cast<int>(std::floor(percent / 100.0 * BarCells));
}

int16_t BarCellCode(int cell, int cpuLevel, int memoryLevel) {
    const bool cpu = cpuLevel >= cell, memory = memoryLevel >= cell;
    if (cpu && memory) return GlyphBothBars;
    if (cpu) return GlyphProcessorBar;
    if (memory) return GlyphMemoryBar;
    return SpaceCode;
}

int PlanScreenUpdate(ScreenState& state, const char* topText, const char* memoryText, int cpuPercent, int loadPercent,
                     ScreenOp* ops) {
    int count = 0;
    // Texts are compared over their whole stored length, NUL bytes included.
    if (std::memcmp(topText, state.lastTopText, TopTextLength + 1) != 0) {
        std::memcpy(state.lastTopText, topText, TopTextLength + 1);
        AddCursor(ops, count, 0, 0);
        ops[count++] = ScreenOp{OpPutText, 0, 0, 0, state.lastTopText};
    }
    if (std::memcmp(memoryText, state.lastMemoryText, MemoryTextLength + 1) != 0) {
        std::memcpy(state.lastMemoryText, memoryText, MemoryTextLength + 1);
        AddCursor(ops, count, MemoryTextColumn, 0);
        ops[count++] = ScreenOp{OpPutText, 0, 0, 0, state.lastMemoryText};
    }
    const int cpuLevel = BarLevel(cpuPercent);
    PlanBar(ops, count, state.lastCpuLevel, cpuLevel, true, state.lastMemoryLevel);
    state.lastCpuLevel = cpuLevel;
    const int memoryLevel = BarLevel(loadPercent);
    PlanBar(ops, count, state.lastMemoryLevel, memoryLevel, false, state.lastCpuLevel);
    state.lastMemoryLevel = memoryLevel;
    return count;
}

void DrawScreenOp(const ScreenOp& op) {
    switch (op.kind) {
        case OpSetCursor: LcdSetCursor(op.column, op.row); break;
        case OpPutText: LcdPutText(op.text); break;
        case OpWriteGlyph: LcdWriteData(op.glyph); break;
        case OpSetGlyphAddress: LcdSetGlyphAddress(op.glyph); break;
    }
}

int PlanGlyphDefinition(ScreenOp* ops) {
    int count = 0;
    ops[count++] = ScreenOp{OpSetGlyphAddress, 0, 0, 0, nullptr};
    for (uint8_t row : BarGlyphRows) ops[count++] = ScreenOp{OpWriteGlyph, 0, 0, row, nullptr};
    AddCursor(ops, count, 0, 1);
    return count;
}

void DefineBarGlyphs() {
    ScreenOp ops[GlyphDefinitionOps];
    const int count = PlanGlyphDefinition(ops);
    for (int i = 0; i < count; ++i) DrawScreenOp(ops[i]);
}
