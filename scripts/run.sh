#!/usr/bin/env bash
# The first command on a fresh machine: builds the library and the capture
# tool (Release), then captures on the virtual card. The generator is looped
# back to channel 1, so out/capture.svg shows its 1 kHz sine; out/capture.csv
# holds the numbers. Extra arguments go to the capture tool (see --help).
set -euo pipefail
cd "$(dirname "$0")/.."
for cmd in cmake g++; do
  if ! command -v "$cmd" >/dev/null 2>&1; then
    echo "run.sh: $cmd is missing; install it with: apt-get install -y cmake g++ make" >&2
    exit 1
  fi
done
# The tool writes sigrok sessions (libzip) and recordings (HDF5).
if ! pkg-config --exists libzip hdf5 2>/dev/null; then
  echo "run.sh: libzip or HDF5 is missing; install them with: apt-get install -y pkg-config libzip-dev libhdf5-dev" >&2
  exit 1
fi
JOBS=${JOBS:-$(nproc)}
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DRK350_TESTS=OFF -DRK350_BENCH=OFF >/dev/null
cmake --build build/release -j"$JOBS" --target rk350-capture
mkdir -p out
exec build/release/rk350-capture --output out/capture "$@"
