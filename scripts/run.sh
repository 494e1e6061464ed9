#!/usr/bin/env bash
# The first command on a fresh machine: builds the library and a small
# example program, then runs it against the virtual card. It prints what
# InitInstrument answered and what the card is.
set -euo pipefail
cd "$(dirname "$0")/.."
for cmd in cmake g++ gcc; do
  if ! command -v "$cmd" >/dev/null 2>&1; then
    echo "run.sh: $cmd is missing; install it with: apt-get install -y cmake g++ make" >&2
    exit 1
  fi
done
JOBS=${JOBS:-$(nproc)}
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DRK350_TESTS=OFF -DRK350_BENCH=OFF >/dev/null
cmake --build build/release -j"$JOBS" --target rk350_init_report
exec build/release/examples/rk350_init_report "$@"
