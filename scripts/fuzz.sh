#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, AddressSanitizer + UndefinedBehaviorSanitizer)
# and runs them:
#   scripts/fuzz.sh [SECONDS]        (default 90, shared: four fifths for the
#                                     exports, one tenth each for the scope's
#                                     requests and its SCPI input)
# First every input in fuzz/regressions, fuzz/seeds, fuzz/scope-seeds and
# fuzz/scpi-seeds runs once, then each fuzzer runs its share of SECONDS from
# its seeds and the corpus it keeps in build/fuzz/corpus
# (build/fuzz/scope-corpus, build/fuzz/scpi-corpus). An input that
# fails is written to build/fuzz/artifacts/ and the script fails; see
# docs/fuzzing.md for what to do with it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-90}
JOBS=${JOBS:-$(nproc)}
CC=clang-14 CXX=clang++-14 cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DRK350_FUZZ=ON \
  -DRK350_TESTS=OFF -DRK350_TOOLS=OFF -DRK350_BENCH=OFF >/dev/null
cmake --build build/fuzz -j"$JOBS" --target rk350_export_fuzzer rk350_scope_request_fuzzer rk350_scpi_fuzzer
mkdir -p build/fuzz/corpus build/fuzz/scope-corpus build/fuzz/scpi-corpus build/fuzz/artifacts
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1

# fuzz NAME SECONDS CORPUS SEEDS...: the regressions and seeds once, then fuzzing.
fuzz() {
  local name=$1 fuzzer=build/fuzz/fuzz/$1 seconds=$2 corpus=$3
  shift 3
  echo "== $name: regressions and seeds"
  "$fuzzer" -runs=0 -timeout=30 -artifact_prefix=build/fuzz/artifacts/ "$@" 2>&1 | tail -n 3
  echo "== $name: fuzzing for $seconds s"
  local status=0 log=build/fuzz/last-run-$name.log
  "$fuzzer" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
    -artifact_prefix=build/fuzz/artifacts/ "$corpus" "$@" >"$log" 2>&1 || status=$?
  grep -E "^stat::(number_of_executed_units|average_exec_per_sec|new_units_added)" "$log" || true
  if [ "$status" -ne 0 ]; then
    grep -E -A30 "==== oracle|ERROR: (AddressSanitizer|LeakSanitizer|libFuzzer)|runtime error" "$log" | head -n 60
    echo "fuzzing found a failure (exit $status): see $log and build/fuzz/artifacts/"
    exit 1
  fi
}
scope_seconds=$((seconds / 10))
fuzz rk350_export_fuzzer $((seconds - 2 * scope_seconds)) build/fuzz/corpus fuzz/regressions fuzz/seeds
fuzz rk350_scope_request_fuzzer "$scope_seconds" build/fuzz/scope-corpus fuzz/scope-seeds
fuzz rk350_scpi_fuzzer "$scope_seconds" build/fuzz/scpi-corpus fuzz/scpi-seeds
