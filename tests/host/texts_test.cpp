#include <gtest/gtest.h>

#include <cstring>

#include "service/screen.h"

// The LCD's character ROM has half-width katakana at the code page 932 byte
// values; the source is UTF-8, so this checks the compiler's conversion.
TEST(Texts, StoppedNoticeIsTheTenKatakanaBytes) {
    const unsigned char expected[] = {0x20, 0xB7, 0xC9, 0xB3, 0xC3, 0xB2, 0xBC, 0xC1, 0xAD, 0xB3};
    ASSERT_EQ(std::strlen(StoppedNotice), sizeof expected);
    EXPECT_EQ(std::memcmp(StoppedNotice, expected, sizeof expected), 0);
}

TEST(Texts, GlyphRowsAreFiveDotsWide) {
    for (uint8_t row : BarGlyphRows) EXPECT_EQ(row & ~0x1F, 0);
    // Glyph 2 is the two stripes of glyphs 0 and 1 together.
    for (int r = 0; r < GlyphRows; ++r)
        EXPECT_EQ(BarGlyphRows[2 * GlyphRows + r], BarGlyphRows[r] | BarGlyphRows[GlyphRows + r]);
}
