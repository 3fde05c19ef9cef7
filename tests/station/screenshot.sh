#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The real station on a virtual X display after one round on four emulated boards (two good,
# one silent, one empty socket): its window must appear with the job's name in its caption,
# and a screenshot of it is left in the build folder.
# Usage: screenshot.sh VORALITH_BOARD VORALITH_STATION OUTPUT_DIR
set -euo pipefail
board_tool=$1 program=$2 outdir=$3

if [ "${SCREENSHOT_INNER:-}" != 1 ]; then
    command -v xvfb-run >/dev/null || { echo "SKIPPED: xvfb-run is not installed"; exit 0; }
    for tool in xwininfo import; do
        command -v "$tool" >/dev/null || { echo "FAIL: $tool is missing (x11-utils, imagemagick)"; exit 1; }
    done
    mkdir -p "$outdir"
    SCREENSHOT_INNER=1 exec xvfb-run -a -s "-screen 0 1100x800x24" bash "$0" "$@"
fi

unset QT_QPA_PLATFORM
export VORALITH_LIMITS="reply=300,identify=300"
work=$(mktemp -d)
trap 'kill $(jobs -p) 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT

ports=()
for site in 1 2 3 4; do
    case $site in
        3) fault=(--silent-after 1500) ;;
        4) fault=(--chip none) ;;
        *) fault=() ;;
    esac
    "$board_tool" --chip 89c52 "${fault[@]}" --link "$work/board$site" >"$work/board$site.out" &
    device=""
    for _ in $(seq 100); do
        if IFS= read -r line <"$work/board$site.out"; then device=$line; break; fi
        sleep 0.1
    done
    [ -n "$device" ] || { echo "FAIL: board $site printed no device"; exit 1; }
    ports+=(--port "$device")
done

head -c 4096 /dev/urandom >"$work/fw.bin"
crc=$(gzip -c "$work/fw.bin" | tail -c8 | od -An -tx4 -N4 | tr -d ' ' | tr a-f A-F)
cat >"$work/board-v2.job" <<JOB
[job]
image=fw.bin
crc32=$crc
chip=89c52
serial=1FFC:4
serial-file=next-serial
serial-start=10241
log=chips.log
count=100
JOB

"$program" --rounds 1 --stay "${ports[@]}" "$work/board-v2.job" >"$work/station.log" 2>&1 &
app=$!
window=""
for _ in $(seq 100); do
    window=$(xwininfo -root -tree | awk '/"Voralith Station — board-v2": \("/ { print $1; exit }')
    [ -n "$window" ] && break
    kill -0 "$app" 2>/dev/null || { echo "FAIL: the program ended:"; cat "$work/station.log"; exit 1; }
    sleep 0.1
done
[ -n "$window" ] || { echo "FAIL: no window titled \"Voralith Station — board-v2\" within 10 s"; cat "$work/station.log"; exit 1; }

# The round is over when the log holds a result for every site.
for _ in $(seq 600); do
    [ "$(grep -c '"event":"result"' "$work/chips.log" 2>/dev/null || true)" -ge 4 ] && break
    sleep 0.1
done
[ "$(grep -c '"event":"result"' "$work/chips.log")" -eq 4 ] || { echo "FAIL: no result for every site"; exit 1; }
sleep 1  # let it paint
xwininfo -id "$window" | awk '/Width:|Height:/ { printf "%s %s  ", $1, $2 } END { print "" }'
import -window root "$outdir/station-screenshot.png" && echo "screenshot: $outdir/station-screenshot.png"
