#!/usr/bin/env bash
# Builds Voralith and runs the whole test suite; the exit code is ctest's.
set -euo pipefail
cd "$(dirname "$0")"

source scripts/setup.sh

install_missing
build
cd build
exec ctest --output-on-failure
