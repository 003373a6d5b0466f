#!/usr/bin/env bash
# Builds the Windows Installer package of package/MIREVO.wxs with wixl:
#   scripts/msi.sh <win32|win64> <folder of the release's files> <version> <output .msi>
# scripts/build.sh builds the shipped win32 package from the ZIP's files; the
# tests build win64 packages and earlier versions the same way.
#
# wixl leaves out some of what Windows Installer and fleet tools read, and
# this script mends it in the package's tables afterwards. Each mend is read
# back from the package: an UPDATE that matches no row succeeds all the same.
# The package is built under a temporary name and moved to the output only
# once everything reads back right, so a failure never leaves a half-mended
# package where a release would pick it up.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
[ $# = 4 ] || { echo "usage: $0 <win32|win64> <files folder> <version> <output.msi>" >&2; exit 2; }
arch=$1 files=$2 version=$3 output=$(realpath -m "$4")
case "$arch" in
    win32) machine=x86 platform=Intel ;;
    win64) machine=x64 platform=x64 ;;
    *) echo "$0: no architecture $arch" >&2; exit 2 ;;
esac
wxs=$top/package/MIREVO.wxs
rm -f "$output"
work=$(mktemp "$output.XXXXXX")
trap 'rm -f "$work"' EXIT
fail() { echo "msi.sh: $*" >&2; exit 1; }

# One ProductCode per version and architecture, the same at every rebuild
# (a name-based UUID under the UpgradeCode): a fleet tool that detects the
# product by its ProductCode still finds a rebuilt package of that version.
upgrade_code=$(sed -n 's/.*<?define UpgradeCode="\([^"]*\)"?>.*/\1/p' "$wxs")
[ -n "$upgrade_code" ] || fail "no UpgradeCode in $wxs"
product_code=$(/usr/bin/python3 -c 'import sys, uuid; print(uuid.uuid5(uuid.UUID(sys.argv[1]), sys.argv[2]))' \
               "$upgrade_code" "ProductCode $arch $version" | tr a-z A-Z)

# wixl takes the files from its current directory only. It says
# "unimplemented" for every shortcut that is not advertised, and writes it
# right (the Target column names the file).
(cd "$files" && wixl -a "$machine" -D Version="$version" -D ProductCode="{$product_code}" \
                     -D PackageFolder="$(realpath --relative-to=. "$top/package")" -o "$work" "$wxs") \
    2> >(grep -v 'builder.vala:[0-9]*: unimplemented$' >&2)

query() { msibuild "$work" -q "$1"; }
# cell <table> <key> <column>: one value of the package's table, by the row's
# first key and the column's name; fails when there is no such row.
cell() {
    msiinfo export "$work" "$1" | tr -d '\r' | awk -F'\t' -v key="$2" -v column="$3" '
        NR == 1 { for (i = 1; i <= NF; i++) if ($i == column) at = i }
        NR > 3 && $1 == key { print $at; found = 1 }
        END { exit !(at && found) }'
}
expect() {   # expect <table> <key> <column> <value>
    local found
    found=$(cell "$1" "$2" "$3") || fail "$1 has no row $2 with a column $3"
    [ "$found" = "$4" ] || fail "$1 $2 $3 reads '$found', not '$4'"
}

# The vital flag (0x8000) on the service's error control: without it Windows
# Installer goes on when it cannot register the service, and reports success.
# wixl accepts ServiceInstall's Vital="yes" and silently drops it, so the
# flag is added here to whatever error control the source gives.
control=$(cell ServiceInstall MIREVO ErrorControl) || fail "no ServiceInstall row MIREVO"
vital=$((control | 0x8000))
query "UPDATE \`ServiceInstall\` SET \`ErrorControl\` = $vital WHERE \`ServiceInstall\` = 'MIREVO'"
expect ServiceInstall MIREVO ErrorControl "$vital"

# START passes from an installation started without elevation to its
# elevated part only as a secure property; wixl has no Secure attribute.
secure=$(cell Property SecureCustomProperties Value) || fail "no SecureCustomProperties"
query "UPDATE \`Property\` SET \`Value\` = '$secure;START' WHERE \`Property\` = 'SecureCustomProperties'"
expect Property SecureCustomProperties Value "$secure;START"

# Recovery, as DRELOM's 登録 registers it (setup/setup_logic.h): the service
# control manager starts the service again a minute after a failure, also a
# start that ends STOPPED with an exit code (the flag, ConfigType 4), a
# second time after a second failure, then does nothing more; the count is
# forgotten after a day without a failure. Windows Installer 5.0 (Windows 7
# on) applies both tables in its MsiConfigureServices action at install and
# reinstall (Event 1 + 4); earlier versions skip the action by its condition
# and ignore the tables. wixl writes neither.
idt=$(mktemp -d)
trap 'rm -f "$work"; rm -rf "$idt"' EXIT
printf '%s\r\n' \
    $'MsiServiceConfigFailureActions\tName\tEvent\tResetPeriod\tRebootMessage\tCommand\tActions\tDelayActions\tComponent_' \
    $'s72\ts255\ti2\tI4\tS255\tS255\tS255\tS255\ts72' \
    $'MsiServiceConfigFailureActions\tMsiServiceConfigFailureActions' \
    $'MIREVO\tMIREVO\t5\t86400\t\t\t1[~]1[~]0\t60000[~]60000[~]0\tService' \
    >"$idt/MsiServiceConfigFailureActions.idt"
printf '%s\r\n' \
    $'MsiServiceConfig\tName\tEvent\tConfigType\tArgument\tComponent_' \
    $'s72\ts255\ti2\ti4\tS255\ts72' \
    $'MsiServiceConfig\tMsiServiceConfig' \
    $'MIREVO\tMIREVO\t5\t4\t1\tService' \
    >"$idt/MsiServiceConfig.idt"
msibuild "$work" -i "$idt/MsiServiceConfigFailureActions.idt" -i "$idt/MsiServiceConfig.idt"
query "INSERT INTO \`InstallExecuteSequence\` (\`Action\`, \`Condition\`, \`Sequence\`) VALUES \
       ('MsiConfigureServices', 'VersionNT AND VersionMsi >= \"5.00\"', 5850)"
expect MsiServiceConfigFailureActions MIREVO Actions '1[~]1[~]0'
expect MsiServiceConfigFailureActions MIREVO DelayActions '60000[~]60000[~]0'
expect MsiServiceConfigFailureActions MIREVO ResetPeriod 86400
expect MsiServiceConfig MIREVO ConfigType 4
expect MsiServiceConfig MIREVO Argument 1
expect InstallExecuteSequence MsiConfigureServices Sequence 5850

# The programs' versions and languages, from their own version resources:
# wixl does not read them, and without a version Windows Installer treats a
# program as a data file (a repair keeps one whose modified date is later
# than its created date; an upgrade replaces it by the rules for data).
# Versioned files are compared by version, so their hashes go.
for program in MIREVO.exe DRELOM.exe; do
    resource=$(/usr/bin/python3 - "$files/$program" <<'PY'
import sys
import pefile

image = pefile.PE(sys.argv[1], fast_load=True)
image.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
fixed = image.VS_FIXEDFILEINFO[0]
# VarFileInfo's Translation reads "0x0411 0x03a4": the language, the code page.
languages = [int(var.entry[b"Translation"].split()[0], 16) for info in image.FileInfo[0]
             if info.Key == b"VarFileInfo" for var in info.Var if b"Translation" in var.entry]
print(f"{fixed.FileVersionMS >> 16}.{fixed.FileVersionMS & 0xFFFF}.{fixed.FileVersionLS >> 16}."
      f"{fixed.FileVersionLS & 0xFFFF}", *languages[:1])
PY
    ) || fail "cannot read the version resource of $files/$program"
    read -r file_version language <<<"$resource"
    [ -n "${language:-}" ] || fail "no language in the version resource of $files/$program"
    query "UPDATE \`File\` SET \`Version\` = '$file_version', \`Language\` = '$language' WHERE \`File\` = '$program'"
    query "DELETE FROM \`MsiFileHash\` WHERE \`File_\` = '$program'"
    expect File "$program" Version "$file_version"
    expect File "$program" Language "$language"
    ! cell MsiFileHash "$program" File_ >/dev/null || fail "MsiFileHash still holds $program"
done

# The summary's template: the platform and the product's language. wixl
# writes 1033 whatever the source's Languages say, and Windows Installer
# expects the ProductLanguage among the template's languages.
language=$(cell Property ProductLanguage Value) || fail "no ProductLanguage"
summary() { msiinfo suminfo "$work" | sed -n "s/^$1: //p"; }
msibuild "$work" -s "$(summary Subject)" "$(summary Author)" "$platform;$language" \
    "$(summary 'Revision number (UUID)')"
[ "$(summary Template)" = "$platform;$language" ] || fail "the template reads '$(summary Template)'"

mv "$work" "$output"
rm -rf "$idt"
trap - EXIT
