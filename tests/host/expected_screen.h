// What a person reading the LCD should see for the monitor's figures, stated
// from the screen layout alone. It shares no code or constants with the
// service, so a fault in the service's own drawing cannot also decide what
// the tests take as right.
//
//   row 0: "MM/dd HH:mm" in cells 0-10, committed memory in cells 11-15
//   row 1: the processor bar and the memory bar over the same 16 cells
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

// Pixel rows of glyphs 0 (memory bar), 1 (processor bar) and 2 (both), five
// pixels wide, top row first: the memory bar is a dotted stripe near the top
// of the cell, the processor bar a gapped stripe near the bottom, so both stay
// readable where the bars overlap.
inline constexpr uint8_t ExpectedGlyphRows[24] = {
    0x00, 0x15, 0x15, 0x00, 0x00, 0x00, 0x00, 0x00,   // #.#.# in pixel rows 1-2
    0x00, 0x00, 0x00, 0x00, 0x00, 0x1B, 0x1B, 0x00,   // ##.## in pixel rows 5-6
    0x00, 0x15, 0x15, 0x00, 0x00, 0x1B, 0x1B, 0x00,   // both stripes
};

// Row 0's first 11 cells: month/day and hour:minute of a 24-hour clock, each
// figure in two digits with a leading zero.
inline std::string ExpectedClockText(unsigned month, unsigned day, unsigned hour, unsigned minute) {
    char text[16];
    std::snprintf(text, sizeof text, "%02u/%02u %02u:%02u", month, day, hour, minute);
    return text;
}

// Row 0's last 5 cells: megabytes right-aligned in four cells and "M"; from
// 10000 MB on, whole gigabytes (rounded down) and "G", at most 9999.
inline std::string ExpectedMemoryText(uint32_t megabytes) {
    uint32_t figure = megabytes;
    char unit = 'M';
    if (megabytes >= 10000) {
        figure = std::min<uint32_t>(megabytes / 1024, 9999);
        unit = 'G';
    }
    std::string text = "    ";
    int cell = 3;
    do {
        text[cell--] = static_cast<char>('0' + figure % 10);
        figure /= 10;
    } while (figure > 0);
    return text + unit;
}

// Cells a bar fills from the left: percent (held within 0..100) of 16, rounded down.
inline int ExpectedBarCells(int percent) { return std::clamp(percent, 0, 100) * 16 / 100; }

// Row 1's 16 cell codes: glyph 2 where both bars reach, then the longer bar's
// own glyph (1 processor, 0 memory) to its end, then spaces.
inline std::string ExpectedBarRow(int cpuPercent, int loadPercent) {
    const int cpu = ExpectedBarCells(cpuPercent), memory = ExpectedBarCells(loadPercent);
    const int shorter = std::min(cpu, memory), longer = std::max(cpu, memory);
    const char longerGlyph = cpu > memory ? 1 : 0;
    return std::string(shorter, char(2)) + std::string(longer - shorter, longerGlyph) + std::string(16 - longer, ' ');
}
