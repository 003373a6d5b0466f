#!/usr/bin/env bash
# The release ZIP of a cross build: exactly the release files, the text files
# in the form Notepad reads, and both programs' version resources as Windows
# reads them (under Wine, with code page 932).
#   tests/e2e/package_test.sh <cross build dir>
BUILD_DIR=${1:-${BUILD_DIR:-}}
source "$(dirname "$0")/lib.sh"
WORK=$(mktemp -d /tmp/lcdmon-package.XXXXXX)

cleanup() {
    wine_end
    rm -rf "$WORK"
}
trap cleanup EXIT

VERSION=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$BUILD_DIR/CMakeCache.txt")
TOP=MIREVO-$VERSION-win32
ZIP=$BUILD_DIR/$TOP.zip
if [ -z "$VERSION" ] || [ ! -f "$ZIP" ]; then
    echo "FAIL: no $ZIP (cmake --build $BUILD_DIR --target package)"
    exit 1
fi

RELEASE_FILES="DRELOM.exe DRELOM.ini INSTALL-en.txt INSTALL-ja.txt MIREVO.exe"
listed=$(unzip -Z1 "$ZIP" | grep -v '/$' | sort | tr '\n' ' ')
expected=$(for f in $RELEASE_FILES; do echo "$TOP/$f"; done | sort | tr '\n' ' ')
if [ "$listed" = "$expected" ]; then pass "the ZIP holds the release files: $RELEASE_FILES"
else fail "ZIP holds [$listed], expected [$expected]"; fi
for unwanted in vbausbio.dll service_driver.exe drelom_client.exe version_check.exe; do
    if unzip -Z1 "$ZIP" | grep -qi "$unwanted"; then fail "the ZIP holds $unwanted"; fi
done

unzip -q "$ZIP" -d "$WORK"
DIR=$WORK/$TOP

if cmp -s "$DIR/DRELOM.ini" <(printf '[Service]\r\nName=MIREVO\r\nExe=MIREVO.exe\r\n'); then
    pass "DRELOM.ini names MIREVO and MIREVO.exe, CRLF"
else fail "DRELOM.ini: $(xxd -p "$DIR/DRELOM.ini" | tr -d '\n')"; fi

for note in INSTALL-ja.txt INSTALL-en.txt; do
    file=$DIR/$note
    [ -f "$file" ] || continue
    if [ "$(head -c 3 "$file" | xxd -p)" != efbbbf ]; then fail "$note has no UTF-8 byte order mark"
    elif ! iconv -f UTF-8 -t UTF-8 "$file" >/dev/null 2>&1; then fail "$note is not UTF-8"
    elif [ "$(grep -c $'\r$' "$file")" != "$(wc -l <"$file")" ] || [ -n "$(tail -c 1 "$file" | tr -d '\n')" ]; then
        fail "$note has lines without CRLF"
    elif ! grep -q 'C:\\mon' "$file" || ! grep -q vbausbio.dll "$file"; then fail "$note: no folder or library"
    else pass "$note: UTF-8 with byte order mark, CRLF"; fi
done

# The version resource, read with GetFileVersionInfoA and VerQueryValueA.
# Strings arrive in code page 932; compare them as UTF-8.
wine_boot
check_version() {
    local program=$1 description=$2 out="$WORK/$1.version"
    cp "$BUILD_DIR/tests/wine/version_check.exe" "$DIR/"
    (cd "$DIR" && wine_run "$out.932" version_check.exe "$program")
    iconv -f CP932 -t UTF-8 "$out.932" | tr -d '\r' >"$out"
    local line
    for line in "fixed $VERSION.0 $VERSION.0" "translation 0411 03a4" \
                "FileVersion $VERSION" "ProductVersion $VERSION" \
                "OriginalFilename $program" "InternalName ${program%.exe}" \
                "FileDescription $description" "ProductName LCD システムモニター"; do
        if ! grep -qxF "$line" "$out"; then
            fail "$program version resource lacks '$line'; it reads: $(tr '\n' '|' <"$out")"
            return
        fi
    done
    pass "$program version $VERSION, Japanese strings in block 041103a4"
}
check_version MIREVO.exe "LCD システムモニター サービス"
check_version DRELOM.exe "LCD システムモニター サービス設定"

if [ "$TEST_FAILURES" -eq 0 ]; then
    echo "package_test: all passed"
    exit 0
fi
echo "package_test: $TEST_FAILURES failed"
exit 1
