#!/usr/bin/env bash
# The live oscilloscope: builds rk350-scope (Release) and serves its page on
# http://127.0.0.1:8350/ with the virtual card; open that address in a
# browser. Ctrl-C stops it. Extra arguments go to the scope (see --help), for
# example --port 8080, --ch2-source square:0.5:250 or --hardware. What the
# build needs is installed first (scripts/install-build-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-build-deps.sh
JOBS=${JOBS:-$(nproc)}
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DRK350_TESTS=OFF -DRK350_BENCH=OFF >/dev/null
cmake --build build/release -j"$JOBS" --target rk350-scope
exec build/release/rk350-scope "$@"
