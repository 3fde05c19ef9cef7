#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Voralith twice and runs the whole test suite in each build: in ./build-asan (clang
# with AddressSanitizer and UndefinedBehaviorSanitizer, plus the fuzzing harnesses for a
# bounded time), then in ./build. Fails when either suite fails; ctest's summary of the
# second comes last.
set -euo pipefail
cd "$(dirname "$0")"

source scripts/setup.sh

install_missing
build
build_sanitized

# A sanitizer's finding ends the program with its report, which fails the test.
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"
sanitized=0
(cd build-asan && ctest --output-on-failure) || sanitized=$?
if [ "$sanitized" -ne 0 ]; then
    echo "The suite failed in the sanitized build (build-asan, above); now the suite in build."
fi
cd build
status=0
ctest --output-on-failure || status=$?
[ "$status" -ne 0 ] && exit "$status"
exit "$sanitized"
