// The monitor screen as plain values: which texts and row-1 cells change from
// one cycle to the next, and the LCD operations that bring the display there.
//
//   row 0: "MM/dd HH:mm" in columns 0-10, memory "nnnnM" in columns 11-15
//   row 1: processor bar and memory bar over the same 16 cells
#pragma once
#include <cstdint>

constexpr int TopTextLength = 11;
constexpr int MemoryTextLength = 5;
constexpr int MemoryTextColumn = 11;
constexpr int BarCells = 16;

// Character-generator codes of the three bar glyphs; a cell with no bar is a space.
constexpr int16_t GlyphMemoryBar = 0;
constexpr int16_t GlyphProcessorBar = 1;
constexpr int16_t GlyphBothBars = 2;
constexpr int GlyphRows = 8;
extern const uint8_t BarGlyphRows[3 * GlyphRows];

// Left on row 0 at machine shutdown: "function stopped" in half-width katakana.
extern const char StoppedNotice[];

struct ScreenState {
    char lastTopText[TopTextLength + 1];
    char lastMemoryText[MemoryTextLength + 1];
    int lastCpuLevel;
    int lastMemoryLevel;
};

enum ScreenOpKind : uint8_t { OpSetCursor, OpPutText, OpWriteGlyph, OpSetGlyphAddress };

struct ScreenOp {
    ScreenOpKind kind;
    int16_t column, row;   // OpSetCursor
    int16_t glyph;         // OpWriteGlyph: a glyph code, or a glyph row in glyph RAM; OpSetGlyphAddress
    const char* text;      // OpPutText: points into the ScreenState's texts
};

// Two texts of up to two operations each, and each bar cell changed by either
// bar at most once per bar: one cursor move and one write.
constexpr int MaxScreenOps = 4 + 2 * 2 * BarCells;

void ResetScreenState(ScreenState& state);

// "MM/dd HH:mm" from the Gregorian month, day, hour (0-23) and minute, each
// as two digits with a leading zero; a figure past 99 shows its last two
// digits, so the text always fills its 11 cells.
void BuildTopText(unsigned month, unsigned day, unsigned hour, unsigned minute, char* topText);

// Committed memory right-aligned in 4 characters with "M"; from 10000 MB on,
// whole gigabytes with "G" so the text never grows past its five cells.
void BuildMemoryText(uint32_t megabytes, char* memoryText);

// Cells of a 16-cell bar for a percentage, the percentage held within 0..100.
int BarLevel(int percent);

// The glyph (or space) a row-1 cell p (1..16) shows for two bar levels.
int16_t BarCellCode(int cell, int cpuLevel, int memoryLevel);

// Plans one cycle's writes into ops and brings state up to date; returns the
// number of operations. Nothing changed gives 0.
int PlanScreenUpdate(ScreenState& state, const char* topText, const char* memoryText, int cpuPercent, int loadPercent,
                     ScreenOp* ops);

// Carries out one planned operation through the LCD driver.
void DrawScreenOp(const ScreenOp& op);

// The definition of the three glyphs in character-generator RAM as
// operations, so that a stop request can end it between any two transfers:
// the glyph RAM address, the 24 rows, then back to display addressing at row 1.
constexpr int GlyphDefinitionOps = 2 + 3 * GlyphRows;
int PlanGlyphDefinition(ScreenOp* ops);

// Defines the three glyphs, all operations in one go.
void DefineBarGlyphs();
