#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Voralith and opens it with Com2 on the board emulator (an erased AT89C52 on a
# pseudo-terminal), for this run only; the emulator stops when the program exits.
set -euo pipefail
cd "$(dirname "$0")"

source scripts/setup.sh

install_missing
build

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display: Voralith is a desktop program. Run ./run.sh from a terminal in a desktop" >&2
    echo "session, or on a machine without one try: xvfb-run ./run.sh" >&2
    exit 1
fi


out=$(mktemp)
build/voralith-board --chip 89c52 --link "$PWD/build/board-link" >"$out" &
board=$!
stop_board() {
    kill "$board" 2>/dev/null || true
    wait "$board" 2>/dev/null || true
    rm -f "$out"
}
trap stop_board EXIT

# The emulator prints its device once it answers; a command sent earlier would be lost.
device=""
for _ in $(seq 100); do
    if IFS= read -r line <"$out"; then device=$line; break; fi
    kill -0 "$board" 2>/dev/null || { echo "The board emulator did not start." >&2; exit 1; }
    sleep 0.1
done
[ -n "$device" ] || { echo "The board emulator did not report its device in time." >&2; exit 1; }

echo "Board emulator (erased AT89C52) on $device; Com2 points there for this run."
# The settings of this demonstration live in the build folder: the user's own saved port
# and port mappings are neither used nor changed.
export XDG_CONFIG_HOME="$PWD/build/run-config"
status=0
build/voralith --com 2="$device" || status=$?
exit "$status"
