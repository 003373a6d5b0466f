// Any figures, for any number of cycles, through the monitor's screen
// planning and drawing into the HD44780 model: every byte the box latches as
// data lands in the 16 visible cells of row 0 or row 1 (or in the three bar
// glyphs while they are defined), a cycle with nothing changed makes no
// transfer, and after each cycle the display shows what the screen layout
// says for the figures (tests/host/expected_screen.h, written apart from the
// service).
#include <cstdio>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "lcd/lcd_driver.h"
#include "lcd/usb_io.h"
#include "service/screen.h"
#include "sim/hd44780.h"
#include "tests/host/expected_screen.h"

namespace {
constexpr int Row1Address = 0x40;

Hd44780* Display = nullptr;   // the model the box calls go to

struct Figures {
    char top[TopTextLength + 1];   // the texts the worker builds and draws
    char memory[MemoryTextLength + 1];
    std::string clock, memoryText;   // the same figures as the layout states them
    int cpu, load;
};

bool IsVisibleCell(int address) {
    return (address >= 0 && address < LcdColumns) || (address >= Row1Address && address < Row1Address + LcdColumns);
}
}   // namespace

// The box as the driver sees it. Checks each call before the model takes it:
// the driver only switches the register select and latches 8-bit bytes, and
// a data byte goes where the screen may write.
extern "C" int uio_out(int selector, int value, int latch) {
    const bool control = selector == 1 && latch == 0;
    const bool byte = selector == 3 && latch == 1;
    FUZZ_REQUIRE(control || byte);
    if (control) FUZZ_REQUIRE(value == LcdControlInstruction || value == LcdControlData);
    if (byte) FUZZ_REQUIRE(value >= 0 && value <= 0xFF);
    FUZZ_REQUIRE(Display->displayShift == 0);
    if (byte && (Display->controlLines & 1)) {
        if (Display->addressingGlyphs) FUZZ_REQUIRE(Display->addressCounter < 3 * GlyphRows);
        else FUZZ_REQUIRE(IsVisibleCell(Display->addressCounter));
    }
    ModelBoxCall(*Display, selector, value, latch);
    return 0;
}

namespace {
// The worker's start on a display just switched on. LcdInitialise's
// power-on reset sequence waits 12 ms, which the model does not need; the
// instructions that follow it are sent as LcdInitialise sends them.
void StartDisplay(Hd44780& lcd, ScreenState& state) {
    Display = &lcd;
    UioOut = uio_out;
    ModelReset(lcd);
    LastControl = 0;
    LcdSetFunction(1, 1, 0);
    LcdSetDisplay(1, 0, 0);
    LcdClear();
    LcdSetEntryMode(1, 0);
    DefineBarGlyphs();
    ResetScreenState(state);
}

int DrawCycle(ScreenState& state, const Figures& f) {
    ScreenOp ops[MaxScreenOps];
    const int count = PlanScreenUpdate(state, f.top, f.memory, f.cpu, f.load, ops);
    FUZZ_REQUIRE(count >= 0 && count <= MaxScreenOps);
    for (int i = 0; i < count; ++i) DrawScreenOp(ops[i]);
    return count;
}

// The local time's figures as GetLocalTime gives them, or any 16-bit values
// at all: a figure past 99 shows its last two digits.
void TakeTopText(FuzzInput& input, Figures& f) {
    unsigned figures[4];
    for (unsigned& figure : figures) figure = TakeUint16(input);
    if (TakeByte(input) & 1) {
        const unsigned range[] = {12, 31, 24, 60};
        for (int i = 0; i < 4; ++i) figures[i] %= range[i];
    }
    BuildTopText(figures[0], figures[1], figures[2], figures[3], f.top);
    f.clock = ExpectedClockText(figures[0] % 100, figures[1] % 100, figures[2] % 100, figures[3] % 100);
}

// A percentage: mostly near the 0..100 range, sometimes any int at all.
int TakePercent(FuzzInput& input) {
    if (TakeByte(input) & 1) return static_cast<int32_t>(TakeUint32(input));
    return static_cast<int8_t>(TakeByte(input));
}

Figures TakeFigures(FuzzInput& input, const Figures& previous) {
    Figures f = previous;
    const uint8_t changes = TakeByte(input);   // which figures change this cycle
    if (changes & 1) TakeTopText(input, f);
    if (changes & 2) {
        const uint32_t megabytes = TakeUint32(input);
        BuildMemoryText(megabytes, f.memory);
        f.memoryText = ExpectedMemoryText(megabytes);
    }
    if (changes & 4) f.cpu = TakePercent(input);
    if (changes & 8) f.load = TakePercent(input);
    return f;
}

// The cells a text was drawn into, up to its first NUL.
void CheckText(const Hd44780& lcd, const std::string& text, int column) {
    for (int c = 0; c < static_cast<int>(text.size()) && text[c] != '\0'; ++c)
        FUZZ_REQUIRE(ModelCell(lcd, 0, column + c) == static_cast<uint8_t>(text[c]));
}

void CheckScreen(const Hd44780& lcd, const Figures& f) {
    CheckText(lcd, f.clock, 0);
    CheckText(lcd, f.memoryText, MemoryTextColumn);
    const std::string bars = ExpectedBarRow(f.cpu, f.load);
    for (int c = 0; c < LcdColumns; ++c) FUZZ_REQUIRE(ModelCell(lcd, 1, c) == static_cast<uint8_t>(bars[c]));
    FUZZ_REQUIRE(std::memcmp(lcd.glyphRam, ExpectedGlyphRows, sizeof ExpectedGlyphRows) == 0);
}
}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzInput input{data, size};
    Hd44780 lcd;
    ScreenState state;
    StartDisplay(lcd, state);
    // Before the first cycle the worker's texts are all NULs and no bar is drawn.
    Figures f{};
    f.clock.assign(11, '\0');
    f.memoryText.assign(5, '\0');
    while (InputLeft(input)) {
        const Figures next = TakeFigures(input, f);
        const bool changed = next.clock != f.clock || next.memoryText != f.memoryText ||
                             ExpectedBarCells(next.cpu) != ExpectedBarCells(f.cpu) ||
                             ExpectedBarCells(next.load) != ExpectedBarCells(f.load);
        const int count = DrawCycle(state, next);
        FUZZ_REQUIRE((count > 0) == changed);
        f = next;
        CheckScreen(lcd, f);
    }
    return 0;
}
