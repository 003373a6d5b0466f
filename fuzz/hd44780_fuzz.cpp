// Any sequence of box calls and controller operations keeps the HD44780
// model consistent: the address counter stays on a display or glyph address
// that exists, the display shift within one 40-character line, a data byte
// lands at the address the counter pointed to and nowhere else, and no
// instruction but clear display touches the RAM.
#include <cstring>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "sim/hd44780.h"

namespace {
constexpr int LineLength = 40;
constexpr uint8_t Row1Address = 0x40;
constexpr uint8_t ClearDisplay = 0x01;

enum Latched { LatchedNothing, LatchedInstruction, LatchedData };

bool IsDisplayAddress(int address) {
    return (address >= 0 && address < LineLength) || (address >= Row1Address && address < Row1Address + LineLength);
}

// The neighbouring display address: past the end of one line the counter
// goes on at the other line.
int NeighbourDisplayAddress(int address, bool increment) {
    if (increment)
        return address == LineLength - 1 ? Row1Address : address == Row1Address + LineLength - 1 ? 0 : address + 1;
    return address == 0 ? Row1Address + LineLength - 1 : address == Row1Address ? LineLength - 1 : address - 1;
}

void CheckState(const Hd44780& lcd) {
    if (lcd.addressingGlyphs) FUZZ_REQUIRE(lcd.addressCounter < GlyphRamSize);
    else FUZZ_REQUIRE(IsDisplayAddress(lcd.addressCounter));
    FUZZ_REQUIRE(lcd.displayShift >= 0 && lcd.displayShift < LineLength);
    for (uint8_t row : lcd.glyphRam) FUZZ_REQUIRE(row <= 0x1F);   // five dots a row
    // Every cell of the 16x2 window reads from display RAM (ASan watches).
    unsigned sum = 0;
    for (int row = 0; row < 2; ++row)
        for (int column = 0; column < 16; ++column) sum += ModelCell(lcd, row, column);
    FUZZ_REQUIRE(sum <= 32 * 255u);
}

void CheckDataWrite(const Hd44780& before, const Hd44780& after, uint8_t byte) {
    Hd44780 expected = before;
    const int address = before.addressCounter;
    if (before.addressingGlyphs) {
        expected.glyphRam[address] = static_cast<uint8_t>(byte & 0x1F);
        FUZZ_REQUIRE(after.addressCounter == ((address + (before.increment ? 1 : -1)) & (GlyphRamSize - 1)));
    } else {
        expected.displayRam[address] = byte;
        FUZZ_REQUIRE(after.addressCounter == NeighbourDisplayAddress(address, before.increment));
    }
    FUZZ_REQUIRE(std::memcmp(after.displayRam, expected.displayRam, sizeof expected.displayRam) == 0);
    FUZZ_REQUIRE(std::memcmp(after.glyphRam, expected.glyphRam, sizeof expected.glyphRam) == 0);
    FUZZ_REQUIRE(after.addressingGlyphs == before.addressingGlyphs);
}

void CheckInstruction(const Hd44780& before, const Hd44780& after, uint8_t code) {
    FUZZ_REQUIRE(std::memcmp(after.glyphRam, before.glyphRam, sizeof before.glyphRam) == 0);
    if (code == ClearDisplay) {
        for (uint8_t cell : after.displayRam) FUZZ_REQUIRE(cell == ' ');
        FUZZ_REQUIRE(after.addressCounter == 0 && !after.addressingGlyphs && after.displayShift == 0);
    } else {
        FUZZ_REQUIRE(std::memcmp(after.displayRam, before.displayRam, sizeof before.displayRam) == 0);
    }
}

// A call that latches nothing leaves everything but the control lines.
void CheckUnchanged(const Hd44780& before, const Hd44780& after) {
    FUZZ_REQUIRE(std::memcmp(after.displayRam, before.displayRam, sizeof before.displayRam) == 0);
    FUZZ_REQUIRE(std::memcmp(after.glyphRam, before.glyphRam, sizeof before.glyphRam) == 0);
    FUZZ_REQUIRE(after.addressCounter == before.addressCounter && after.addressingGlyphs == before.addressingGlyphs);
    FUZZ_REQUIRE(after.increment == before.increment && after.shift == before.shift);
    FUZZ_REQUIRE(after.displayShift == before.displayShift);
    FUZZ_REQUIRE(after.displayOn == before.displayOn && after.cursorOn == before.cursorOn &&
                 after.blinkOn == before.blinkOn);
    FUZZ_REQUIRE(after.eightBit == before.eightBit && after.twoLines == before.twoLines &&
                 after.tallFont == before.tallFont);
}

// What a box call latches, by the contract of ModelBoxCall.
Latched LatchedBy(const Hd44780& lcd, int selector, int latch) {
    if (selector != 3 || latch != 1) return LatchedNothing;
    return (lcd.controlLines & 1) ? LatchedData : LatchedInstruction;
}

void Check(const Hd44780& before, const Hd44780& after, Latched latched, uint8_t byte) {
    switch (latched) {
        case LatchedNothing: CheckUnchanged(before, after); break;
        case LatchedInstruction: CheckInstruction(before, after, byte); break;
        case LatchedData: CheckDataWrite(before, after, byte); break;
    }
    CheckState(after);
}
}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input{data, size};
    Hd44780 lcd;
    ModelReset(lcd);
    CheckState(lcd);
    while (InputLeft(input)) {
        const Hd44780 before = lcd;
        switch (TakeByte(input) % 4) {
            case 0: {   // any uio_out call
                const int selector = static_cast<int8_t>(TakeByte(input));
                const int value = static_cast<int32_t>(TakeUint32(input));
                const int latch = static_cast<int8_t>(TakeByte(input));
                ModelBoxCall(lcd, selector, value, latch);
                Check(before, lcd, LatchedBy(before, selector, latch), static_cast<uint8_t>(value));
                break;
            }
            case 1: {   // the driver's pattern: register select, then the latched byte
                const uint8_t byte = TakeByte(input);
                const bool data = TakeByte(input) & 1;
                ModelBoxCall(lcd, 1, data ? 9 : 8, 0);
                ModelBoxCall(lcd, 3, byte, 1);
                Hd44780 selected = before;
                selected.controlLines = data ? 9 : 8;
                Check(selected, lcd, data ? LatchedData : LatchedInstruction, byte);
                break;
            }
            case 2: {
                const uint8_t code = TakeByte(input);
                ModelInstruction(lcd, code);
                Check(before, lcd, LatchedInstruction, code);
                break;
            }
            default: {
                const uint8_t byte = TakeByte(input);
                ModelData(lcd, byte);
                Check(before, lcd, LatchedData, byte);
                break;
            }
        }
    }
    return 0;
}
