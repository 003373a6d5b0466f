#include <gtest/gtest.h>

#include <random>

#include "sim/hd44780.h"

namespace {
void Instruction(Hd44780& lcd, uint8_t code) {
    ModelBoxCall(lcd, 1, 8, 0);
    ModelBoxCall(lcd, 3, code, 1);
}
void Data(Hd44780& lcd, uint8_t byte) {
    ModelBoxCall(lcd, 1, 9, 0);
    ModelBoxCall(lcd, 3, byte, 1);
}
}   // namespace

TEST(Hd44780Model, Row1StartsAtAddress0x40AndCounterFollowsEntryMode) {
    Hd44780 lcd;
    ModelReset(lcd);
    Instruction(lcd, 0xC0);
    Data(lcd, 'A');
    Data(lcd, 'B');
    EXPECT_EQ(ModelCell(lcd, 1, 0), 'A');
    EXPECT_EQ(ModelCell(lcd, 1, 1), 'B');
    Instruction(lcd, 0x04);   // decrement
    Instruction(lcd, 0x85);
    Data(lcd, 'x');
    Data(lcd, 'y');
    EXPECT_EQ(ModelCell(lcd, 0, 5), 'x');
    EXPECT_EQ(ModelCell(lcd, 0, 4), 'y');
    EXPECT_EQ(lcd.addressCounter, 3);
}

TEST(Hd44780Model, GlyphRamTakesDataUntilDisplayAddressIsSet) {
    Hd44780 lcd;
    ModelReset(lcd);
    Instruction(lcd, 0x48);   // glyph 1, row 0
    Data(lcd, 0xFF);
    Data(lcd, 0x15);
    EXPECT_EQ(lcd.glyphRam[8], 0x1F);   // only five dots exist
    EXPECT_EQ(lcd.glyphRam[9], 0x15);
    EXPECT_EQ(ModelCell(lcd, 0, 0), 0x20);
    Instruction(lcd, 0x80);
    Data(lcd, 1);
    EXPECT_EQ(ModelCell(lcd, 0, 0), 1);
    EXPECT_EQ(lcd.glyphRam[10], 0);
}

TEST(Hd44780Model, ClearBlanksBothRowsAndHomes) {
    Hd44780 lcd;
    ModelReset(lcd);
    Instruction(lcd, 0xC3);
    Data(lcd, 'Q');
    Instruction(lcd, 0x01);
    for (int c = 0; c < 16; ++c) EXPECT_EQ(ModelCell(lcd, 1, c), 0x20);
    Data(lcd, 'Z');
    EXPECT_EQ(ModelCell(lcd, 0, 0), 'Z');
}

TEST(Hd44780Model, RunPastTheEndOfALineWrapsToTheOtherLine) {
    Hd44780 lcd;
    ModelReset(lcd);
    Instruction(lcd, 0x80 + 39);
    Data(lcd, 'a');
    Data(lcd, 'b');
    EXPECT_EQ(lcd.displayRam[39], 'a');
    EXPECT_EQ(ModelCell(lcd, 1, 0), 'b');
}

TEST(Hd44780Model, ControlWithoutLatchAndOtherSelectorsWriteNothing) {
    Hd44780 lcd;
    ModelReset(lcd);
    Data(lcd, 'A');
    ModelBoxCall(lcd, 2, 'B', 1);
    ModelBoxCall(lcd, 3, 'C', 0);
    EXPECT_EQ(ModelCell(lcd, 0, 1), 0x20);
    EXPECT_EQ(lcd.controlLines, 9);
}

// Any byte sequence keeps the counter inside its RAM (ASan checks the rest).
TEST(Hd44780Model, RandomBoxCallsKeepAddressesInRange) {
    std::mt19937 random(7);
    Hd44780 lcd;
    ModelReset(lcd);
    for (int i = 0; i < 200000; ++i) {
        ModelBoxCall(lcd, static_cast<int>(random() % 4), static_cast<int>(random() % 512) - 128,
                     static_cast<int>(random() % 2));
        if (lcd.addressingGlyphs) ASSERT_LT(lcd.addressCounter, GlyphRamSize);
        else ASSERT_TRUE(lcd.addressCounter < 40 || (lcd.addressCounter >= 0x40 && lcd.addressCounter < 0x68));
        ASSERT_GE(lcd.displayShift, 0);
        ASSERT_LT(lcd.displayShift, 40);
    }
}
