#!/bin/bash
# End-to-end test of DRELOM.exe under Wine: drives its window with
# drelom_client.exe on a private X server and checks what the window shows,
# the boxes it opens and what the service manager then holds.
# Usage: tests/e2e/setup_test.sh [BUILD_DIR]   (or BUILD_DIR in the environment)
# Saves a picture of the window as $BUILD_DIR/drelom.png (and as
# $DRELOM_SHOT, when that is set).
set -u
BUILD_DIR=${1:-${BUILD_DIR:-}}
export BUILD_DIR
HERE=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=lib.sh
. "$HERE/lib.sh"

SHOT=${DRELOM_SHOT:-}
WORK=$(mktemp -d /tmp/drelom-test.XXXXXX)
XVFB_PID=
DRELOM_PID=

# A display no other X server holds.
DISPLAY_NUMBER=77
while [ -e "/tmp/.X$DISPLAY_NUMBER-lock" ] && [ $DISPLAY_NUMBER -lt 120 ]; do
    DISPLAY_NUMBER=$((DISPLAY_NUMBER + 1))
done
export DISPLAY=":$DISPLAY_NUMBER"

cleanup() {
    if [ -n "$DRELOM_PID" ]; then kill "$DRELOM_PID" 2>/dev/null; fi
    wine_end
    if [ -n "$XVFB_PID" ]; then kill "$XVFB_PID" 2>/dev/null; wait "$XVFB_PID" 2>/dev/null; fi
    rm -rf "$WORK"
}
trap cleanup EXIT

Xvfb "$DISPLAY" -screen 0 800x600x24 -nolisten tcp </dev/null >"$WORK/xvfb.log" 2>&1 &
XVFB_PID=$!
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$DISPLAY_NUMBER" ] && break; sleep 0.1; done

wine_boot

# Windows' "ＭＳ Ｐゴシック" is not on this machine; the IPA fonts stand in.
cat >"$WORK/fonts.reg" <<'EOF'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"ＭＳ Ｐゴシック"="IPAPGothic"
"ＭＳ ゴシック"="IPAGothic"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Decorated"="N"
EOF
iconv -f UTF-8 -t UTF-16 "$WORK/fonts.reg" >"$WORK/fonts16.reg"
cp "$WORK/fonts16.reg" "$DRIVE_C/fonts.reg"
wine_run "$WORK/regedit.out" regedit /S 'C:\fonts.reg'

install_service_files mon
cp "$BUILD_DIR/setup/DRELOM.exe" "$DRIVE_C/mon/"
printf '[Service]\r\nName=MIREVO\r\nExe=MIREVO.exe\r\n' >"$DRIVE_C/mon/DRELOM.ini"
mkdir -p "$DRIVE_C/tools" "$DRIVE_C/other"
cp "$BUILD_DIR/tests/wine/drelom_client.exe" "$DRIVE_C/tools/"
cp "$BUILD_DIR/setup/DRELOM.exe" "$DRIVE_C/other/"

OUT="$WORK/client.out"
# Runs the client with the given commands; its output is in $OUT.
client() {
    timeout 90 wine 'C:\tools\drelom_client.exe' "$@" </dev/null >"$OUT" 2>&1
}

# Starts DRELOM.exe with C:\<dir> as its current directory and waits for it.
start_drelom() {
    (cd "$DRIVE_C/$1" && exec wine DRELOM.exe </dev/null >"$WORK/drelom-$1.log" 2>&1) &
    DRELOM_PID=$!
    client wait 20000
}

stop_drelom() {
    client close
    local deadline=$((SECONDS + 10))
    while kill -0 "$DRELOM_PID" 2>/dev/null && [ $SECONDS -le $deadline ]; do sleep 0.1; done
    kill "$DRELOM_PID" 2>/dev/null
    DRELOM_PID=
}

# The text the client printed for control $1.
text_of() { sed -n "s/^$1 //p" "$OUT" | tr -d '\r'; }

expect_text() {
    local id=$1 want=$2 what=$3 got
    got=$(text_of "$id")
    if [ "$got" = "$want" ]; then pass "$what"; else fail "$what: control $id is '$got', not '$want'"; fi
}

# Clicks button $1, answers the box and checks its caption and text, then
# reads the state field.
click_expect() {
    local id=$1 caption=$2 message=$3 what=$4 got
    client click "$id" box 40000 text 1009
    got=$(sed -n 's/^box //p' "$OUT" | tr -d '\r')
    if [ "$got" = "$caption|$message" ]; then pass "$what"
    else fail "$what: box '$got', not '$caption|$message'"; cat "$OUT"; fi
}

expect_state() {
    local what=$1; shift
    local got want
    got=$(text_of 1009)
    for want in "$@"; do
        if [ "$got" = "$want" ]; then pass "$what"; return; fi
    done
    fail "$what: state is '$got', not one of: $*"
}

# The service manager's record of MIREVO: `sc qc` where Wine's sc has it,
# else the service's registry key, which holds the same.
service_config() {
    if wine_run "$WORK/qc.out" sc qc "$1" && grep -q BINARY_PATH_NAME "$WORK/qc.out"; then
        cat "$WORK/qc.out"
    else
        wine_run "$WORK/qc.out" reg query "HKLM\\System\\CurrentControlSet\\Services\\$1"
        cat "$WORK/qc.out"
    fi
}

OK_REGISTER="サービスの登録に成功しました！"
NG_REGISTER="サービスの登録に失敗しました！"
OK_START="サービスの実行に成功しました！"
NG_START="サービスの実行に失敗しました！"
OK_STOP="サービスの停止に成功しました！"
NG_STOP="サービスの停止に失敗しました！"
OK_DELETE="サービスの削除に成功しました！"
NG_DELETE="サービスの削除に失敗しました！"

# --- with the settings file in C:\mon ---------------------------------------
if ! start_drelom mon; then
    fail "DRELOM window did not appear"; cat "$OUT"; exit 1
fi
pass "DRELOM window appears"
client texts
expect_text 1000 "登録" "register button"
expect_text 1001 "開始" "start button"
expect_text 1002 "削除" "delete button"
expect_text 1003 "停止" "stop button"
expect_text 1004 "サービスの登録/削除が出来ます。" "guide text"
expect_text 1005 "MIREVO" "name field from DRELOM.ini"
expect_text 1006 "サービス名" "name label"
expect_text 1007 'C:\mon\MIREVO.exe' "exe field is the current directory and Exe, unquoted"
expect_text 1008 "EXE名" "exe label"
expect_text 1009 "未登録" "state before registering"
expect_text 1010 "最新の状態" "refresh button"

# The picture, taken before any box covers the window.
if [ -n "$(command -v xdotool)" ]; then
    wid=$(timeout 10 xdotool search --name '^DRELOM$' 2>/dev/null | head -n1)
fi
if [ -n "${wid:-}" ] && timeout 20 import -window "$wid" "$BUILD_DIR/drelom.png" 2>/dev/null; then
    pass "screenshot saved to $BUILD_DIR/drelom.png"
else
    timeout 20 import -window root -crop 440x170+0+0 "$BUILD_DIR/drelom.png" 2>/dev/null \
        && pass "screenshot (screen corner) saved to $BUILD_DIR/drelom.png" \
        || fail "screenshot"
fi
if [ -n "$SHOT" ]; then cp "$BUILD_DIR/drelom.png" "$SHOT"; fi

click_expect 1000 "成功" "$OK_REGISTER" "register succeeds"
expect_state "state after registering" "停止"
config=$(service_config MIREVO)
if grep -qF '"C:\mon\MIREVO.exe"' <<<"$config"; then pass "binary path registered in quotes"
else fail "binary path: $config"; fi
if grep -qE 'AUTO_START|Start +REG_DWORD +0x2$' <<<"$(tr -d '\r' <<<"$config")"; then
    pass "service starts automatically"
else fail "start type: $config"; fi

click_expect 1001 "成功" "$OK_START" "start succeeds"
expect_state "state after starting" "開始中" "開始"
row0=
deadline=$((SECONDS + 20))
while [ $SECONDS -le $deadline ]; do
    if [ -f "$DRIVE_C/mon/lcd-state.txt" ]; then
        row0=$(lcd_row_hex "$DRIVE_C/mon/lcd-state.txt" 0)
        if [ -n "$row0" ] && [ "$row0" != "20202020202020202020202020202020" ]; then break; fi
    fi
    sleep 0.3
done
if [ -n "$row0" ] && [ "$row0" != "20202020202020202020202020202020" ]; then
    pass "the service writes to the LCD (row0 $row0)"
else fail "LCD row0 stays blank ('$row0')"; fi
wait_for_state MIREVO 20 RUNNING || fail "service not RUNNING"
client send 1010 text 1009
expect_state "refresh shows running" "開始"

click_expect 1003 "成功" "$OK_STOP" "stop succeeds"
wait_for_state MIREVO 20 STOPPED || fail "service did not stop"
client send 1010 text 1009
expect_state "refresh shows stopped" "停止"
click_expect 1003 "エラー" "$NG_STOP" "stopping a stopped service fails"

click_expect 1000 "エラー" "$NG_REGISTER" "registering twice fails"

click_expect 1002 "成功" "$OK_DELETE" "delete succeeds"
expect_state "state after deleting" "未登録"
click_expect 1002 "エラー" "$NG_DELETE" "deleting an absent service fails"
click_expect 1001 "エラー" "$NG_START" "starting an absent service fails"

# What is typed into the fields is not used: the buttons act on DRELOM.ini.
client settext 1005 OTHER settext 1007 'C:\elsewhere\evil.exe'
click_expect 1000 "成功" "$OK_REGISTER" "register with other text typed"
client texts
expect_text 1005 "OTHER" "typed name stays in the field"
config=$(service_config MIREVO)
if grep -qF '"C:\mon\MIREVO.exe"' <<<"$config"; then pass "typed text ignored: MIREVO registered from settings"
else fail "typed text used: $config"; fi
wine_run "$WORK/other.out" sc query OTHER
if grep -q "SERVICE_NAME: OTHER" "$WORK/other.out"; then fail "a service OTHER was registered"
else pass "no service named by the typed text"; fi
click_expect 1002 "成功" "$OK_DELETE" "delete after typed text"
stop_drelom

# --- with no settings file ---------------------------------------------------
if ! start_drelom other; then
    fail "DRELOM window did not appear in C:\\other"
else
    client texts
    expect_text 1005 "" "no settings: name field empty"
    expect_text 1007 'C:\other\' "no settings: exe field is the directory and a backslash"
    expect_text 1009 "未登録" "no settings: state"
    click_expect 1000 "エラー" "$NG_REGISTER" "no settings: register fails"
    click_expect 1001 "エラー" "$NG_START" "no settings: start fails"
    click_expect 1003 "エラー" "$NG_STOP" "no settings: stop fails"
    click_expect 1002 "エラー" "$NG_DELETE" "no settings: delete fails"
    stop_drelom
fi

if [ "$TEST_FAILURES" -eq 0 ]; then
    echo "setup_test: all passed"
    exit 0
fi
echo "setup_test: $TEST_FAILURES failed"
exit 1
