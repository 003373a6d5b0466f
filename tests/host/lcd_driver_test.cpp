#include <gtest/gtest.h>

#include "box_recorder.h"
#include "lcd/lcd_driver.h"

using Calls = std::vector<BoxCall>;

TEST(LcdDriver, FirstTransferWritesControlBeforeByte) {
    ResetBox();
    LcdClear();
    EXPECT_EQ(RecordedCalls, (Calls{{1, 8, 0}, {3, 1, 1}}));
}

TEST(LcdDriver, RunOfDataWritesControlOnceAndInstructionSwitchesBack) {
    ResetBox();
    LcdSetCursor(0, 0);
    LcdPutText("AB\xB7");
    LcdSetCursor(3, 1);
    EXPECT_EQ(
        RecordedCalls,
        (Calls{{1, 8, 0}, {3, 0x80, 1}, {1, 9, 0}, {3, 'A', 1}, {3, 'B', 1}, {3, 0xB7, 1}, {1, 8, 0}, {3, 0xC3, 1}}));
}

TEST(LcdDriver, WidthSelectsTheByteWriteSelector) {
    ResetBox();
    LcdTransfer(0x41, 9, 2);
    LcdTransfer(0x42, 9, 4);
    LcdTransfer(0x43, 9, 8);
    LcdTransfer(0x44, 9, 5);
    EXPECT_EQ(RecordedCalls, (Calls{{1, 9, 0}, {1, 0x41, 1}, {2, 0x42, 1}, {3, 0x43, 1}, {0, 0x44, 1}}));
}

TEST(LcdDriver, InstructionEncodings) {
    ResetBox();
    LcdSetEntryMode(1, 0);
    LcdSetDisplay(1, 0, 0);
    LcdSetFunction(1, 1, 0);
    LcdSetGlyphAddress(0);
    LcdSetCursor(11, 0);
    LcdSetCursor(15, 1);
    std::vector<int> bytes;
    for (const BoxCall& call : RecordedCalls)
        if (call.selector == 3) bytes.push_back(call.value);
    EXPECT_EQ(bytes, (std::vector<int>{0x06, 0x0C, 0x38, 0x40, 0x8B, 0xCF}));
}

TEST(LcdDriver, OutOfRangeCursorWritesNothing) {
    ResetBox();
    LcdSetCursor(16, 0);
    LcdSetCursor(-1, 1);
    LcdSetCursor(0, 2);
    LcdSetCursor(0, -1);
    EXPECT_TRUE(RecordedCalls.empty());
}

TEST(LcdDriver, PutTextStopsAtNulAndEmptyWritesNothing) {
    ResetBox();
    LcdPutText("");
    EXPECT_TRUE(RecordedCalls.empty());
    const char text[] = {'1', '2', '\0', '3', '\0'};
    LcdPutText(text);
    EXPECT_EQ(RecordedCalls, (Calls{{1, 9, 0}, {3, '1', 1}, {3, '2', 1}}));
}

TEST(LcdDriver, InitialiseSendsResetSequenceInOrder) {
    // Also after an instruction: a box that lost its supply lost its control
    // lines' level, so a set-up writes the control value first.
    ResetBox();
    LcdClear();
    RecordedCalls.clear();
    LcdInitialise();
    EXPECT_EQ(RecordedCalls, (Calls{{1, 8, 0},
                                    {3, 0x30, 1},
                                    {3, 0x30, 1},
                                    {3, 0x30, 1},
                                    {3, 0x38, 1},
                                    {3, 0x0C, 1},
                                    {3, 0x01, 1},
                                    {3, 0x06, 1}}));
    EXPECT_TRUE(RecordedDisplay.displayOn);
    EXPECT_TRUE(RecordedDisplay.twoLines);
}
