#!/usr/bin/env bash
# Signs Windows programs and installer packages in place with Authenticode
# (osslsigncode), for SmartScreen and application-control policies:
#   scripts/sign.sh FILE...
# The certificate comes from the environment, never from this repository:
#   LCDMON_SIGN_PFX        the code-signing certificate with its private key (PKCS#12)
#   LCDMON_SIGN_PASSWORD   its password
#   LCDMON_SIGN_TIMESTAMP  optional: an RFC 3161 time-stamping server, so that
#                          the signatures stay valid after the certificate expires
# Without LCDMON_SIGN_PFX it signs nothing, says so, and succeeds: a build
# without a certificate ships unsigned files, never files signed with a
# certificate made up for the purpose.
#
# Windows XP and Vista check SHA-1 signatures only; later Windows want SHA-256.
# Each file gets a SHA-1 signature with a SHA-256 one nested in it, which the
# osslsigncode of Debian 12 (2.5) and of its backports (2.9) both write.
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 FILE..." >&2; exit 2; }
if [ -z "${LCDMON_SIGN_PFX:-}" ]; then
    echo "sign.sh: LCDMON_SIGN_PFX not set: $(printf '%s ' "${@##*/}")left unsigned" >&2
    exit 0
fi
[ -r "$LCDMON_SIGN_PFX" ] || { echo "sign.sh: cannot read $LCDMON_SIGN_PFX" >&2; exit 1; }
[ -n "${LCDMON_SIGN_PASSWORD+set}" ] || { echo "sign.sh: LCDMON_SIGN_PASSWORD not set" >&2; exit 1; }

timestamp=()
[ -n "${LCDMON_SIGN_TIMESTAMP:-}" ] && timestamp=(-ts "$LCDMON_SIGN_TIMESTAMP")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The password goes through a pipe, not the command line that every user
# of the machine can read.
sign() {   # sign <digest> <in> <out> [osslsigncode options...]
    local digest=$1 in=$2 out=$3
    shift 3
    osslsigncode sign -pkcs12 "$LCDMON_SIGN_PFX" -readpass <(printf '%s' "$LCDMON_SIGN_PASSWORD") \
        -h "$digest" "${timestamp[@]}" "$@" -in "$in" -out "$out" >/dev/null
}
for file in "$@"; do
    sign sha1 "$file" "$work/sha1"
    sign sha256 "$work/sha1" "$work/both" -nest
    # Replaced only once both signatures are written: a failure leaves the
    # file as it was.
    cat "$work/both" >"$file"
    rm -f "$work/sha1" "$work/both"
    echo "sign.sh: signed ${file##*/} (SHA-1, nested SHA-256)" >&2
done
