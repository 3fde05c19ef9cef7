#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Voralith and opens it with Com2 on the board emulator (an erased AT89C52 on a
# pseudo-terminal), for this run only; the emulator stops when the program exits.
# ./run.sh --station: the station window instead, on three emulated boards with a demo job.
set -euo pipefail
cd "$(dirname "$0")"
mode=window
case "${1:-}" in
    "") ;;
    --station) mode=station ;;
    *) echo "Usage: ./run.sh [--station]" >&2; exit 2 ;;
esac

source scripts/setup.sh

install_missing
build

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No display: Voralith is a desktop program. Run ./run.sh from a terminal in a desktop" >&2
    echo "session, or on a machine without one try: xvfb-run ./run.sh" >&2
    exit 1
fi


# The emulators print their device once they answer; a command sent earlier would be lost.
boards=() outs=()
stop_boards() {
    for b in "${boards[@]}"; do kill "$b" 2>/dev/null || true; done
    for b in "${boards[@]}"; do wait "$b" 2>/dev/null || true; done
    rm -f "${outs[@]}"
}
start_board() {  # link; prints the device
    local out device=""
    out=$(mktemp)
    outs+=("$out")
    build/voralith-board --chip 89c52 --link "$1" >"$out" &
    boards+=($!)
    for _ in $(seq 100); do
        if IFS= read -r device <"$out"; then echo "$device"; return 0; fi
        kill -0 "${boards[-1]}" 2>/dev/null || { echo "The board emulator did not start." >&2; return 1; }
        sleep 0.1
    done
    echo "The board emulator did not report its device in time." >&2
    return 1
}

if [ "$mode" = station ]; then
    trap stop_boards EXIT
    ports=() devices=()
    for n in 1 2 3; do
        # Not in a command substitution: the emulator must stay a child of this shell.
        start_board "$PWD/build/station-board$n" >"build/station-board$n.device" || exit 1
        devices+=("$(cat "build/station-board$n.device")")
        ports+=(--port "${devices[-1]}")
        rm -f "build/station-board$n.device"
    done
    # A demonstration lot: a 4 KB image (made once, so the job's CRC-32 stays), its serial
    # numbers and its log kept in the folder from run to run.
    demo=build/station-demo
    mkdir -p "$demo"
    [ -s "$demo/demo.bin" ] || head -c 4096 /dev/urandom >"$demo/demo.bin"
    # gzip's trailer holds the CRC-32 of its input: the same figure voralith-cli list prints.
    crc=$(gzip -c "$demo/demo.bin" | tail -c8 | od -An -tx4 -N4 | tr -d ' ' | tr a-f A-F)
    cat >"$demo/demo.job" <<JOB
[job]
image=demo.bin
crc32=$crc
chip=89c52
serial=1FFC:4
serial-file=next-serial
serial-start=1000
log=chips.log
count=30
JOB
    echo "Three emulated boards (erased AT89C52s) on ${devices[*]}; the job $demo/demo.job. Press Space."
    export XDG_CONFIG_HOME="$PWD/build/run-config"
    status=0
    build/voralith-station "${ports[@]}" "$demo/demo.job" || status=$?
    exit "$status"
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
