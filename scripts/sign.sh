#!/usr/bin/env bash
# Signs Windows programs and installer packages in place with Authenticode
# (osslsigncode), for SmartScreen and application-control policies:
#   scripts/sign.sh FILE...
# The certificate comes from the environment, never from this repository:
#   LCDMON_SIGN_PFX        the code-signing certificate with its private key (PKCS#12)
#   LCDMON_SIGN_PASSWORD   its password
#   LCDMON_SIGN_TIMESTAMP  a time-stamping server: without a time stamp a
#                          signature stops verifying when the certificate
#                          expires, so a signature without one is refused...
#   LCDMON_SIGN_WITHOUT_TIMESTAMP=1
#                          ...unless this says so: for test signing only.
#   LCDMON_SIGN_TIMESTAMP_AUTHENTICODE
#                          optional: another server for the SHA-1 signature's
#                          older Authenticode time stamp (below), where
#                          LCDMON_SIGN_TIMESTAMP answers RFC 3161 requests only
# Without LCDMON_SIGN_PFX it signs nothing, says so, and succeeds: a build
# without a certificate ships unsigned files, never files signed with a
# certificate made up for the purpose.
#
# Windows XP and Vista check SHA-1 signatures only; later Windows want SHA-256.
# Each file gets a SHA-1 signature with a SHA-256 one nested in it, which the
# osslsigncode of Debian 12 (2.5) and of its backports (2.9) both write. Each
# signature gets the time stamp that the Windows reading it understands:
# Windows XP reads only the older Authenticode form (-t), which every later
# Windows reads too, so the SHA-1 signature gets that one; the SHA-256
# signature gets the RFC 3161 form (-ts) that Microsoft recommends.
# The description (-n) is the program name that the UAC prompt shows for a
# signed installer package; without one it shows a temporary file name.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 FILE..." >&2; exit 2; }
if [ -z "${LCDMON_SIGN_PFX:-}" ]; then
    echo "sign.sh: LCDMON_SIGN_PFX not set: $(printf '%s ' "${@##*/}")left unsigned" >&2
    exit 0
fi
[ -r "$LCDMON_SIGN_PFX" ] || { echo "sign.sh: cannot read $LCDMON_SIGN_PFX" >&2; exit 1; }
[ -n "${LCDMON_SIGN_PASSWORD+set}" ] || { echo "sign.sh: LCDMON_SIGN_PASSWORD not set" >&2; exit 1; }

sha1_timestamp=() sha256_timestamp=() stamped="time-stamped"
if [ -n "${LCDMON_SIGN_TIMESTAMP:-}" ]; then
    sha1_timestamp=(-t "${LCDMON_SIGN_TIMESTAMP_AUTHENTICODE:-$LCDMON_SIGN_TIMESTAMP}")
    sha256_timestamp=(-ts "$LCDMON_SIGN_TIMESTAMP")
elif [ "${LCDMON_SIGN_WITHOUT_TIMESTAMP:-}" = 1 ]; then
    stamped="NOT time-stamped: test signing"
else
    echo "sign.sh: LCDMON_SIGN_TIMESTAMP not set: a signature without a time stamp stops verifying when the" \
         "certificate expires (LCDMON_SIGN_WITHOUT_TIMESTAMP=1 signs without one, for tests only)" >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The password goes through a pipe, not the command line that every user
# of the machine can read.
sign() {   # sign <digest> <in> <out> [osslsigncode options...]
    local digest=$1 in=$2 out=$3
    shift 3
    osslsigncode sign -pkcs12 "$LCDMON_SIGN_PFX" -readpass <(printf '%s' "$LCDMON_SIGN_PASSWORD") \
        -h "$digest" -n "LCD System Monitor" "$@" -in "$in" -out "$out" >/dev/null
}
for file in "$@"; do
    sign sha1 "$file" "$work/sha1" "${sha1_timestamp[@]}"
    sign sha256 "$work/sha1" "$work/both" -nest "${sha256_timestamp[@]}"
    # Replaced only once both signatures are written: a failure leaves the
    # file as it was.
    cat "$work/both" >"$file"
    rm -f "$work/sha1" "$work/both"
    echo "sign.sh: signed ${file##*/} (SHA-1, nested SHA-256), $stamped" >&2
done
