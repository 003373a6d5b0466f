// Every string the user can see in DRELOM.exe, in one place.  The source is
// UTF-8; the compiler stores the literals as code page 932, which is what the
// ANSI calls of a Japanese Windows expect.
#pragma once

// Window class, caption and the face name of the font of every control.
#define TEXT_WINDOW_CLASS "NORMAL0"
#define TEXT_WINDOW_TITLE "DRELOM"
#define TEXT_FONT_FACE "ＭＳ Ｐゴシック"

// Labels of the controls.
#define TEXT_REGISTER "登録"
#define TEXT_START "開始"
#define TEXT_DELETE "削除"
#define TEXT_STOP "停止"
#define TEXT_GUIDE "サービスの登録/削除が出来ます。"
#define TEXT_NAME_LABEL "サービス名"
#define TEXT_EXE_LABEL "EXE名"
#define TEXT_STATE_LABEL "状態"
#define TEXT_REFRESH "最新の状態"

// Names of the states of a service, and the word for one that is not there.
#define TEXT_STATE_NONE "未登録"
#define TEXT_STATE_STOPPED "停止"
#define TEXT_STATE_START_PENDING "開始中"
#define TEXT_STATE_STOP_PENDING "停止中"
#define TEXT_STATE_RUNNING "開始"
#define TEXT_STATE_CONTINUE_PENDING "未決定"
#define TEXT_STATE_PAUSE_PENDING "休止中"
#define TEXT_STATE_PAUSED "休止"

// Captions and texts of the boxes that tell how a request went.
#define TEXT_CAPTION_SUCCESS "成功"
#define TEXT_CAPTION_ERROR "エラー"
#define TEXT_REGISTER_OK "サービスの登録に成功しました！"
#define TEXT_REGISTER_FAILED "サービスの登録に失敗しました！"
#define TEXT_START_OK "サービスの実行に成功しました！"
#define TEXT_START_FAILED "サービスの実行に失敗しました！"
#define TEXT_STOP_OK "サービスの停止に成功しました！"
#define TEXT_STOP_FAILED "サービスの停止に失敗しました！"
#define TEXT_DELETE_OK "サービスの削除に成功しました！"
#define TEXT_DELETE_FAILED "サービスの削除に失敗しました！"

// Where the settings are kept.
#define TEXT_SETTINGS_FILE "DRELOM.ini"
#define TEXT_SETTINGS_SECTION "Service"
#define TEXT_SETTINGS_NAME_KEY "Name"
#define TEXT_SETTINGS_EXE_KEY "Exe"
