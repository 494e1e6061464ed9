#!/usr/bin/env bash
# The first command on a fresh machine: builds the library and the capture
# tool (Release), then captures on the virtual card. The generator is looped
# back to channel 1, so out/capture.svg shows its 1 kHz sine; out/capture.csv
# holds the numbers. Extra arguments go to the capture tool (see --help).
# What the build needs is installed first (scripts/install-build-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-build-deps.sh
JOBS=${JOBS:-$(nproc)}
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DRK350_TESTS=OFF -DRK350_BENCH=OFF >/dev/null
cmake --build build/release -j"$JOBS" --target rk350-capture
mkdir -p out
exec build/release/rk350-capture --output out/capture "$@"
