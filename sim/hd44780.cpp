#include "hd44780.h"

#include <cstring>

namespace {
constexpr int RowLength = 40;   // each display line holds 40 characters
constexpr int Row1Base = 0x40;

// Display addresses run 0x00-0x27 and 0x40-0x67; past the end of one line
// the counter moves on to the other, as on the real controller.
uint8_t NextDisplayAddress(uint8_t address, bool increment) {
    int row = address >= Row1Base ? 1 : 0;
    int column = address - row * Row1Base;
    if (increment) {
        if (++column >= RowLength) {
            column = 0;
            row ^= 1;
        }
    } else {
        if (--column < 0) {
            column = RowLength - 1;
            row ^= 1;
        }
    }
    return static_cast<uint8_t>(row * Row1Base + column);
}

// A DDRAM address outside the two lines lands where the controller would put it.
uint8_t NormaliseDisplayAddress(uint8_t address) {
    address &= 0x7F;
    int row = address >= Row1Base ? 1 : 0;
    int column = address - row * Row1Base;
    if (column >= RowLength) column = (column - RowLength) % RowLength;
    return static_cast<uint8_t>(row * Row1Base + column);
}

void StepAddress(Hd44780& lcd) {
    if (lcd.addressingGlyphs) {
        lcd.addressCounter = static_cast<uint8_t>((lcd.addressCounter + (lcd.increment ? 1 : -1)) & 0x3F);
    } else {
        lcd.addressCounter = NextDisplayAddress(lcd.addressCounter, lcd.increment);
        if (lcd.shift) lcd.displayShift = (lcd.displayShift + (lcd.increment ? 1 : RowLength - 1)) % RowLength;
    }
}
}   // namespace

void ModelReset(Hd44780& lcd) {
    std::memset(&lcd, 0, sizeof lcd);
    // After power-on the display RAM holds spaces; glyph RAM is undefined
    // (zero here); entry mode is increment, the display off.
    std::memset(lcd.displayRam, 0x20, sizeof lcd.displayRam);
    lcd.increment = true;
    lcd.eightBit = true;
}

void ModelInstruction(Hd44780& lcd, uint8_t code) {
    if (code & 0x80) {   // set DDRAM address
        lcd.addressCounter = NormaliseDisplayAddress(static_cast<uint8_t>(code & 0x7F));
        lcd.addressingGlyphs = false;
    } else if (code & 0x40) {   // set CGRAM address
        lcd.addressCounter = static_cast<uint8_t>(code & 0x3F);
        lcd.addressingGlyphs = true;
    } else if (code & 0x20) {   // function set
        lcd.eightBit = (code & 0x10) != 0;
        lcd.twoLines = (code & 0x08) != 0;
        lcd.tallFont = (code & 0x04) != 0;
    } else if (code & 0x10) {   // cursor or display shift
        bool display = (code & 0x08) != 0, right = (code & 0x04) != 0;
        if (display) {
            lcd.displayShift = (lcd.displayShift + (right ? RowLength - 1 : 1)) % RowLength;
        } else if (!lcd.addressingGlyphs) {
            lcd.addressCounter = NextDisplayAddress(lcd.addressCounter, right);
        }
    } else if (code & 0x08) {   // display on/off control
        lcd.displayOn = (code & 0x04) != 0;
        lcd.cursorOn = (code & 0x02) != 0;
        lcd.blinkOn = (code & 0x01) != 0;
    } else if (code & 0x04) {   // entry mode set
        lcd.increment = (code & 0x02) != 0;
        lcd.shift = (code & 0x01) != 0;
    } else if (code & 0x02) {   // return home
        lcd.addressCounter = 0;
        lcd.addressingGlyphs = false;
        lcd.displayShift = 0;
    } else if (code & 0x01) {   // clear display: spaces, home, increment
        std::memset(lcd.displayRam, 0x20, sizeof lcd.displayRam);
        lcd.addressCounter = 0;
        lcd.addressingGlyphs = false;
        lcd.displayShift = 0;
        lcd.increment = true;
    }
}

void ModelData(Hd44780& lcd, uint8_t byte) {
    if (lcd.addressingGlyphs) {
        lcd.glyphRam[lcd.addressCounter & 0x3F] = static_cast<uint8_t>(byte & 0x1F);
    } else {
        lcd.displayRam[lcd.addressCounter & 0x7F] = byte;
    }
    StepAddress(lcd);
}

void ModelBoxCall(Hd44780& lcd, int selector, int value, int latch) {
    if (selector == 1 && latch == 0) {
        lcd.controlLines = value;
        return;
    }
    if (selector != 3 || latch != 1) return;   // only the 8-bit byte write latches
    const uint8_t byte = static_cast<uint8_t>(value & 0xFF);
    if (lcd.controlLines & 1) ModelData(lcd, byte);
    else ModelInstruction(lcd, byte);
}

uint8_t ModelCell(const Hd44780& lcd, int row, int column) {
    int offset = (column + lcd.displayShift) % RowLength;
    return lcd.displayRam[(row ? Row1Base : 0) + offset];
}
