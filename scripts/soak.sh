#!/usr/bin/env bash
# Soak run (not part of CI): continuous acquisition on the virtual card with
# events and message pumping for the given time, printing memory at start and
# end and the records per second.
#   scripts/soak.sh [SECONDS [RECORD_LENGTH]]     (default 600 s, 5000 samples)
set -euo pipefail
cd "$(dirname "$0")/.."
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRK350_BENCH=ON >/dev/null
cmake --build build/native -j"${JOBS:-2}" --target rk350_soak >/dev/null
exec build/native/bench/rk350_soak "$@"
