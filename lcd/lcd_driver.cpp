#include "lcd_driver.h"

#include "usb_io.h"

#if defined(_WIN32)
#include <windows.h>
static void PauseMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }
#else
#include <chrono>
#include <thread>
static void PauseMilliseconds(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
#endif

int16_t LastControl = 0;
UioOutFunction UioOut = nullptr;

// HD44780 instruction bytes (datasheet names).
namespace {
constexpr int16_t ClearDisplay = 0x01;
constexpr int16_t EntryModeSet = 0x04;
constexpr int16_t DisplayControl = 0x08;
constexpr int16_t FunctionSet = 0x20;
constexpr int16_t SetCgramAddress = 0x40;
constexpr int16_t SetDdramAddress = 0x80;
constexpr int16_t RowStride = 0x40;   // row 1 starts at display address 0x40
constexpr int16_t ResetFunctionSet8Bit = 0x30;

// The box's byte-write selector for a bus width: 2 -> 1, 4 -> 2, 8 -> 3.
int WidthSelector(int16_t width) {
    switch (width) {
        case 2: return 1;
        case 4: return 2;
        case 8: return 3;
        default: return 0;
    }
}
}   // namespace

void LcdTransfer(int16_t byte, int16_t control, int16_t width) {
    if (UioOut == nullptr) return;
    const int selector = WidthSelector(width);
    // The control lines keep their level between transfers, so they are only
    // written when the register select has to change.
    if (control != LastControl) UioOut(1, control, 0);
    UioOut(selector, byte, 1);
    LastControl = control;
}

void LcdWriteInstruction(int16_t code) { LcdTransfer(code, LcdControlInstruction, LcdBusWidth); }
void LcdWriteData(int16_t code) { LcdTransfer(code, LcdControlData, LcdBusWidth); }

void LcdClear() { LcdWriteInstruction(ClearDisplay); }

void LcdSetEntryMode(int16_t increment, int16_t shift) {
    LcdWriteInstruction(static_cast<int16_t>(EntryModeSet + 2 * increment + shift));
}

void LcdSetDisplay(int16_t display, int16_t cursor, int16_t blink) {
    LcdWriteInstruction(static_cast<int16_t>(DisplayControl + 4 * display + 2 * cursor + blink));
}

void LcdSetFunction(int16_t eightBit, int16_t twoLines, int16_t tallFont) {
    LcdWriteInstruction(static_cast<int16_t>(FunctionSet + 16 * eightBit + 8 * twoLines + 4 * tallFont));
}

void LcdSetGlyphAddress(int16_t address) { LcdWriteInstruction(static_cast<int16_t>(SetCgramAddress + address)); }

void LcdSetCursor(int16_t column, int16_t row) {
    if (column < 0 || column >= LcdColumns || row < 0 || row >= LcdRows) return;
    LcdWriteInstruction(static_cast<int16_t>(SetDdramAddress + RowStride * row + column));
}

// Power-on reset by instruction: the controller needs the 8-bit function set
// three times with waits between, whatever state it was left in. A box that
// lost its supply lost the level of its control lines too, so the control
// value counts as not written.
void LcdInitialise() {
    LastControl = 0;
    PauseMilliseconds(3);
    LcdWriteInstruction(ResetFunctionSet8Bit);
    PauseMilliseconds(6);
    LcdWriteInstruction(ResetFunctionSet8Bit);
    PauseMilliseconds(3);
    LcdWriteInstruction(ResetFunctionSet8Bit);
    LcdSetFunction(1, 1, 0);
    LcdSetDisplay(1, 0, 0);
    LcdClear();
    LcdSetEntryMode(1, 0);
}

void LcdPutText(const char* text) {
    for (const char* p = text; *p != '\0'; ++p) LcdWriteData(static_cast<int16_t>(static_cast<unsigned char>(*p)));
}
