#!/usr/bin/env bash
# The main job: sets up, builds, registers and starts MIREVO under Wine's
# service control manager with the emulated LCD, and shows the display live
# until Ctrl-C; then stops and deletes the service. The win32 build runs
# where the host runs 32-bit programs, else the win64 one (LCDMON_ARCH forces one).
#   scripts/run.sh [--busy]
# --busy keeps every processor busy and holds memory for the first 30 s of
# the view, so that the bar graphs rise and then fall.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
case "${1:-}" in
    "" | --busy) ;;
    *) echo "usage: scripts/run.sh [--busy]" >&2; exit 2 ;;
esac
"$top/scripts/setup.sh" || exit 1
# One line per stage of the build here; its whole output, the release's
# signing included, goes to build/build.log.
mkdir -p "$top/build"
log="$top/build/build.log"
echo "Building (a minute or two the first time; the whole output goes to build/build.log) ..."
if ! "$top/scripts/build.sh" 2>&1 | tee "$log" | sed -u -n 's/^build.sh: /  /p'; then
    tail -n 30 "$log"
    echo "The build failed; build/build.log has its whole output."
    exit 1
fi
exec /usr/bin/python3 "$top/tools/run_service.py" "$@"
