// Every string the user can see in DRELOM.exe, in one place.  The source is
// UTF-8; the compiler stores the literals as code page 932, which is what the
// ANSI calls of a Japanese Windows expect.
#pragma once

// Window class, caption and the face name of the font of every control.
inline constexpr char TextWindowClass[] = "NORMAL0";
inline constexpr char TextWindowTitle[] = "DRELOM";
inline constexpr char TextFontFace[] = "ＭＳ Ｐゴシック";

// Labels of the controls.
inline constexpr char TextRegister[] = "登録";
inline constexpr char TextStart[] = "開始";
inline constexpr char TextDelete[] = "削除";
inline constexpr char TextStop[] = "停止";
inline constexpr char TextGuide[] = "サービスの登録/削除が出来ます。";
inline constexpr char TextNameLabel[] = "サービス名";
inline constexpr char TextExeLabel[] = "EXE名";
inline constexpr char TextStateLabel[] = "状態";
inline constexpr char TextRefresh[] = "最新の状態";

// Names of the states of a service, and the word for one that is not there.
inline constexpr char TextStateNone[] = "未登録";
inline constexpr char TextStateStopped[] = "停止";
inline constexpr char TextStateStartPending[] = "開始中";
inline constexpr char TextStateStopPending[] = "停止中";
inline constexpr char TextStateRunning[] = "開始";
inline constexpr char TextStateContinuePending[] = "未決定";
inline constexpr char TextStatePausePending[] = "休止中";
inline constexpr char TextStatePaused[] = "休止";

// Captions and texts of the boxes that tell how a request went.
inline constexpr char TextCaptionSuccess[] = "成功";
inline constexpr char TextCaptionError[] = "エラー";
inline constexpr char TextRegisterOk[] = "サービスの登録に成功しました！";
inline constexpr char TextRegisterFailed[] = "サービスの登録に失敗しました！";
inline constexpr char TextStartOk[] = "サービスの実行に成功しました！";
inline constexpr char TextStartFailed[] = "サービスの実行に失敗しました！";
inline constexpr char TextStopOk[] = "サービスの停止に成功しました！";
inline constexpr char TextStopFailed[] = "サービスの停止に失敗しました！";
inline constexpr char TextDeleteOk[] = "サービスの削除に成功しました！";
inline constexpr char TextDeleteFailed[] = "サービスの削除に失敗しました！";

// Where the settings are kept.
inline constexpr char TextSettingsFile[] = "DRELOM.ini";
inline constexpr char TextSettingsSection[] = "Service";
inline constexpr char TextSettingsNameKey[] = "Name";
inline constexpr char TextSettingsExeKey[] = "Exe";
