// A model of an HD44780 controller in 8-bit bus mode, as wired to the USB box:
// the box's control port carries register select on bit 0, the data port the
// byte that is latched on a write.
#pragma once
#include <cstdint>

constexpr int DisplayRamSize = 0x80;   // addresses 0x00-0x27 row 0, 0x40-0x67 row 1
constexpr int GlyphRamSize = 64;       // eight glyphs of eight rows

struct Hd44780 {
    uint8_t displayRam[DisplayRamSize];
    uint8_t glyphRam[GlyphRamSize];
    uint8_t addressCounter;   // display address (0x00-0x27, 0x40-0x67) or glyph address (0-63)
    bool addressingGlyphs;    // the last address set was a CGRAM address
    bool increment;           // entry mode I/D
    bool shift;               // entry mode S (display shift; the offset is kept)
    int displayShift;         // columns the display window is shifted left
    bool displayOn, cursorOn, blinkOn;
    bool eightBit, twoLines, tallFont;
    int controlLines;   // last value written to the box's control port
};

void ModelReset(Hd44780& lcd);
void ModelInstruction(Hd44780& lcd, uint8_t code);
void ModelData(Hd44780& lcd, uint8_t byte);

// One call of the box library: uio_out(selector, value, latch).
// uio_out(1, c, 0) sets the control lines; uio_out(3, b, 1) latches byte b
// into the register the control lines select. Other patterns change nothing.
void ModelBoxCall(Hd44780& lcd, int selector, int value, int latch);

// What the 16x2 window shows: cell codes as stored in display RAM.
uint8_t ModelCell(const Hd44780& lcd, int row, int column);
