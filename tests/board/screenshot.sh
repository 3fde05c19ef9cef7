#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real program on a virtual X display, with Com2 on the board emulator: the window must
# appear, have its fixed size, and a screenshot of it is left in the build folder.
# Usage: screenshot.sh VORALITH_BOARD VORALITH OUTPUT_DIR
set -euo pipefail
board_tool=$1 program=$2 outdir=$3

if [ "${SCREENSHOT_INNER:-}" != 1 ]; then
    command -v xvfb-run >/dev/null || { echo "SKIPPED: xvfb-run is not installed"; exit 0; }
    for tool in xwininfo xprop import; do
        command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (x11-utils, imagemagick)"; exit 1; }
    done
    mkdir -p "$outdir"
    SCREENSHOT_INNER=1 exec xvfb-run -a -s "-screen 0 1024x768x24" bash "$0" "$@"
fi

unset QT_QPA_PLATFORM
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

"$board_tool" --chip 89c52 --link "$work/board-link" >"$work/board.out" &
device=""
for _ in $(seq 100); do
    if IFS= read -r line <"$work/board.out"; then device=$line; break; fi
    sleep 0.1
done
[ -n "$device" ] || { echo "FAIL: the board emulator printed no device"; exit 1; }

"$program" --com 2="$device" >"$work/app.log" 2>&1 &
app=$!
window=""
for _ in $(seq 100); do
    # The main window carries a class; Qt's helper windows of the same title do not.
    window=$(xwininfo -root -tree | awk '/"Voralith": \("/ { print $1; exit }')
    [ -n "$window" ] && break
    kill -0 "$app" 2>/dev/null || { echo "FAIL: the program ended:"; cat "$work/app.log"; exit 1; }
    sleep 0.1
done
[ -n "$window" ] || { echo "FAIL: no window titled Voralith within 10 s"; cat "$work/app.log"; exit 1; }

sleep 1  # let it paint
info=$(xwininfo -id "$window")
width=$(awk '/Width:/ { print $2 }' <<<"$info") height=$(awk '/Height:/ { print $2 }' <<<"$info")
echo "window $window: ${width}x${height}"
import -window root "$outdir/screenshot.png" && echo "screenshot: $outdir/screenshot.png"

status=0
# The central area is 508 x 276 below the menu bar, whose height depends on the font.
[ "$width" -eq 508 ] || { echo "FAIL: width $width, not 508"; status=1; }
menubar=$((height - 276))
[ "$menubar" -ge 15 ] && [ "$menubar" -le 45 ] || { echo "FAIL: height $height is not 276 plus a menu bar"; status=1; }
# Fixed size: the window tells the window manager its smallest and largest size are the same.
hints=$(xprop -id "$window" WM_NORMAL_HINTS)
for bound in minimum maximum; do
    grep -q "$bound size: $width by $height" <<<"$hints" || { echo "FAIL: not a fixed size: $hints"; status=1; }
done
exit "$status"
