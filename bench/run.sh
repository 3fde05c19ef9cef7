#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds and runs every benchmark, one after another; each prints a table and a summary
# line of ratios measured side by side in the same run. About five and a half minutes, of which the
# paced Read takes twenty seconds, programming on 1, 4 and 8 boards two minutes and a round on
# 8 boards by the station and by the command line a minute and a half.
# Usage: bench/run.sh [build folder]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}

cmake --build "$build" --target bench_exchanges bench_paced bench_listing bench_startup bench_soak bench_gang bench_station bench_store >/dev/null

# The window's benchmarks want a display; a virtual one serves where there is none.
display=()
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
    display=(xvfb-run -a)
fi

echo "Machine: $(nproc) processors, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')," \
     "load average $(cut -d' ' -f1-3 /proc/loadavg)"
echo
"$build/bench/bench_exchanges"
echo
"${display[@]}" "$build/bench/bench_paced" 2> >(grep -v -e XDG_RUNTIME_DIR -e propagateSizeHints >&2)
echo
"${display[@]}" "$build/bench/bench_listing" 2> >(grep -v -e XDG_RUNTIME_DIR -e propagateSizeHints >&2)
echo
"${display[@]}" "$build/bench/bench_startup" 2> >(grep -v -e XDG_RUNTIME_DIR -e propagateSizeHints >&2)
echo
"$build/bench/bench_soak"
echo
"$build/bench/bench_gang"
echo
"$build/bench/bench_station" 2> >(grep -v -e XDG_RUNTIME_DIR -e propagateSizeHints >&2)
echo
"$build/bench/bench_store"
