// HD44780 16x2 character LCD in 8-bit bus mode behind the USB I/O box.
#pragma once
#include <cstdint>

// Control values on the box's control port. Bit 0 is the register-select line
// (0 = instruction register, 1 = data register); bit 3 is always set.
constexpr int16_t LcdControlInstruction = 8;
constexpr int16_t LcdControlData = 9;
constexpr int16_t LcdBusWidth = 8;

constexpr int16_t LcdColumns = 16;
constexpr int16_t LcdRows = 2;

// Control value last put on the port; 0 (never a control value) means none yet.
extern int16_t LastControl;

void LcdTransfer(int16_t byte, int16_t control, int16_t width);
void LcdWriteInstruction(int16_t code);
void LcdWriteData(int16_t code);

void LcdClear();
void LcdSetEntryMode(int16_t increment, int16_t shift);
void LcdSetDisplay(int16_t display, int16_t cursor, int16_t blink);
void LcdSetFunction(int16_t eightBit, int16_t twoLines, int16_t tallFont);
void LcdSetGlyphAddress(int16_t address);
void LcdSetCursor(int16_t column, int16_t row);

void LcdInitialise();
void LcdPutText(const char* text);
