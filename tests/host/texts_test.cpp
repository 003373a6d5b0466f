#include <gtest/gtest.h>

#include <cstring>

#include "service/screen.h"
#include "setup/texts.h"

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

// DRELOM's texts as the ANSI calls of a Japanese Windows take them: every
// byte written out, so that the compiler's conversion of the UTF-8 source to
// code page 932 is checked, and a text cannot change unseen.
TEST(Texts, SetupTextsAreTheirCodePage932Bytes) {
    const struct {
        const char* text;
        const char* expected;
    } texts[] = {
        {TextWindowClass, "NORMAL0"},
        {TextWindowTitle, "DRELOM"},
        // ＭＳ Ｐゴシック
        {TextFontFace, "\x82\x6C\x82\x72 \x82\x6F\x83\x53\x83\x56\x83\x62\x83\x4E"},
        // 登録
        {TextRegister, "\x93\x6F\x98\x5E"},
        // 開始
        {TextStart, "\x8A\x4A\x8E\x6E"},
        // 削除
        {TextDelete, "\x8D\xED\x8F\x9C"},
        // 停止
        {TextStop, "\x92\xE2\x8E\x7E"},
        // サービスの登録/削除が出来ます。
        {TextGuide,
         "\x83\x54\x81\x5B\x83\x72\x83\x58\x82\xCC\x93\x6F\x98\x5E/"
         "\x8D\xED\x8F\x9C\x82\xAA\x8F\x6F\x97\x88\x82\xDC\x82\xB7\x81\x42"},
        // サービス名
        {TextNameLabel, "\x83\x54\x81\x5B\x83\x72\x83\x58\x96\xBC"},
        // EXE名
        {TextExeLabel, "EXE\x96\xBC"},
        // 状態
        {TextStateLabel, "\x8F\xF3\x91\xD4"},
        // 最新の状態
        {TextRefresh, "\x8D\xC5\x90\x56\x82\xCC\x8F\xF3\x91\xD4"},
        // 未登録
        {TextStateNone, "\x96\xA2\x93\x6F\x98\x5E"},
        // 停止
        {TextStateStopped, "\x92\xE2\x8E\x7E"},
        // 開始中
        {TextStateStartPending, "\x8A\x4A\x8E\x6E\x92\x86"},
        // 停止中
        {TextStateStopPending, "\x92\xE2\x8E\x7E\x92\x86"},
        // 開始
        {TextStateRunning, "\x8A\x4A\x8E\x6E"},
        // 未決定
        {TextStateContinuePending, "\x96\xA2\x8C\x88\x92\xE8"},
        // 休止中
        {TextStatePausePending, "\x8B\x78\x8E\x7E\x92\x86"},
        // 休止
        {TextStatePaused, "\x8B\x78\x8E\x7E"},
        // 成功
        {TextCaptionSuccess, "\x90\xAC\x8C\xF7"},
        // エラー
        {TextCaptionError, "\x83\x47\x83\x89\x81\x5B"},
        // サービスの登録に成功しました！
        {TextRegisterOk,
         "\x83\x54\x81\x5B\x83\x72\x83\x58\x82\xCC\x93\x6F\x98\x5E\x82\xC9"
         "\x90\xAC\x8C\xF7\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x49"},
        // サービスの登録に失敗しました！
        {TextRegisterFailed,
         "\x83\x54\x81\x5B\x83\x72\x83\x58\x82\xCC\x93\x6F\x98\x5E\x82\xC9"
         "\x8E\xB8\x94\x73\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x49"},
        // サービスの実行に成功しました！
        {TextStartOk,
         "\x83\x54\x81\x5B\x83\x72\x83\x58\x82\xCC\x8E\xC0\x8D\x73\x82\xC9"
         "\x90\xAC\x8C\xF7\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x49"},
        // サービスの実行に失敗しました！
        {TextStartFailed,
         "\x83\x54\x81\x5B\x83\x72\x83\x58\x82\xCC\x8E\xC0\x8D\x73\x82\xC9"
         "\x8E\xB8\x94\x73\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x49"},
        // サービスの停止に成功しました！
        {TextStopOk,
         "\x83\x54\x81\x5B\x83\x72\x83\x58\x82\xCC\x92\xE2\x8E\x7E\x82\xC9"
         "\x90\xAC\x8C\xF7\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x49"},
        // サービスの停止に失敗しました！
        {TextStopFailed,
         "\x83\x54\x81\x5B\x83\x72\x83\x58\x82\xCC\x92\xE2\x8E\x7E\x82\xC9"
         "\x8E\xB8\x94\x73\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x49"},
        // サービスの削除に成功しました！
        {TextDeleteOk,
         "\x83\x54\x81\x5B\x83\x72\x83\x58\x82\xCC\x8D\xED\x8F\x9C\x82\xC9"
         "\x90\xAC\x8C\xF7\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x49"},
        // サービスの削除に失敗しました！
        {TextDeleteFailed,
         "\x83\x54\x81\x5B\x83\x72\x83\x58\x82\xCC\x8D\xED\x8F\x9C\x82\xC9"
         "\x8E\xB8\x94\x73\x82\xB5\x82\xDC\x82\xB5\x82\xBD\x81\x49"},
        {TextSettingsFile, "DRELOM.ini"},
        {TextSettingsSection, "Service"},
        {TextSettingsNameKey, "Name"},
        {TextSettingsExeKey, "Exe"},
    };
    for (const auto& t : texts) EXPECT_STREQ(t.text, t.expected);
}
