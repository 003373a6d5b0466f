#!/usr/bin/env bash
# The main job: builds everything, registers and starts MIREVO under Wine's
# service control manager with the emulated LCD, and shows the display live
# until Ctrl-C; then stops and deletes the service.
set -uo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
"$top/scripts/setup.sh" || exit 1
"$top/scripts/build.sh" >/dev/null || exit 1
export BUILD_DIR="$top/build/win32" WINEPREFIX_FOR_TESTS="$top/build/wineprefix"
source "$top/tests/e2e/lib.sh"
echo "Booting the Wine prefix in $WINEPREFIX ..."
wine_boot
install_service_files mon
out=$(mktemp)
finish() {
    wine_run "$out" sc stop MIREVO
    wait_for_state MIREVO 5 STOPPED
    wine_run "$out" sc delete MIREVO
    wine_end
    rm -f "$out"
    echo "Service stopped and deleted."
}
trap finish EXIT
trap 'exit 0' INT TERM
wine_run "$out" sc create MIREVO 'binPath=' 'C:\mon\MIREVO.exe'
wine_run "$out" sc start MIREVO
wait_for_state MIREVO 10 RUNNING || { echo "The service did not start"; exit 1; }
python3 "$top/tools/lcdview.py" "$DRIVE_C/mon/lcd-state.txt"
