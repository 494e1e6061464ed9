#!/usr/bin/env bash
# Builds the libFuzzer harness (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs it:
#   scripts/fuzz.sh [SECONDS]        (default 90)
# First every input in fuzz/regressions and fuzz/seeds runs once, then the
# fuzzer runs for SECONDS from the seeds and the corpus it keeps in
# build/fuzz/corpus. An input that fails is written to build/fuzz/artifacts/
# and the script fails; see docs/fuzzing.md for what to do with it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-90}
JOBS=${JOBS:-$(nproc)}
CC=clang-14 CXX=clang++-14 cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRK350_FUZZ=ON \
  -DRK350_TESTS=OFF -DRK350_TOOLS=OFF -DRK350_BENCH=OFF >/dev/null
cmake --build build/fuzz -j"$JOBS" --target rk350_export_fuzzer
fuzzer=build/fuzz/fuzz/rk350_export_fuzzer
mkdir -p build/fuzz/corpus build/fuzz/artifacts
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1

echo "== Fuzz regressions and seeds"
"$fuzzer" -runs=0 -timeout=30 -artifact_prefix=build/fuzz/artifacts/ fuzz/regressions fuzz/seeds 2>&1 | tail -n 3

echo "== Fuzzing for $seconds s"
status=0
"$fuzzer" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
  -artifact_prefix=build/fuzz/artifacts/ build/fuzz/corpus fuzz/seeds >build/fuzz/last-run.log 2>&1 || status=$?
grep -E "^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)" build/fuzz/last-run.log || true
if [ "$status" -ne 0 ]; then
  grep -E -A30 "==== oracle|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error" build/fuzz/last-run.log | head -n 60
  echo "fuzzing found a failure (exit $status): see build/fuzz/last-run.log and build/fuzz/artifacts/"
  exit 1
fi
