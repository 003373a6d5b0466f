#!/usr/bin/env bash
# The main job: sets up, builds, registers and starts MIREVO under Wine's
# service control manager with the emulated LCD, and shows the display live
# until Ctrl-C; then stops and deletes the service. The win32 build runs
# where the host runs 32-bit programs, else the win64 one (LCDMON_ARCH forces one).
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh" || exit 1
"$top/scripts/build.sh" >/dev/null || exit 1
exec /usr/bin/python3 "$top/tools/run_service.py"
