#!/usr/bin/env bash
# Installs what the tests need, then builds and runs every test: the Linux
# libraries (plain and under AddressSanitizer + UndefinedBehaviorSanitizer)
# and the Windows DLLs under Wine; then a bounded fuzzing run of the exports.
# Safe to run again: each part builds in its own directory under build/ and
# only rebuilds what changed.
#
# Windows: the 64-bit DLLs' suite always runs under 64-bit Wine. The 32-bit
# DLLs' suite runs under 32-bit Wine where this machine runs 32-bit x86
# programs (found out by running one); where it does not, or when
# RK350_NO_32BIT=1 asks to behave as if, the 32-bit DLLs are built and
# checked from their images without running them.
set -euo pipefail
cd "$(dirname "$0")/.."
JOBS=${JOBS:-$(nproc)}

scripts/install-deps.sh

# The README's quick start first, as a user runs it: its Release build is one
# the tests build too, with warnings as errors.
echo "== README quick start (scripts/run.sh, scripts/scope.sh)"
scripts/check-quick-start.sh

echo "== Linux build and tests"
cmake -S . -B build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/native -j"$JOBS"
ctest --test-dir build/native --output-on-failure -j"$JOBS"

echo "== Linux tests under AddressSanitizer and UndefinedBehaviorSanitizer"
cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DRK350_SANITIZE=ON -DRK350_BENCH=OFF >/dev/null
cmake --build build/sanitize -j"$JOBS"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/sanitize --output-on-failure -j"$JOBS"

# Which Windows suites can run here.
if [ "${RK350_NO_32BIT:-0}" = "1" ]; then
  run32=0
  why="RK350_NO_32BIT=1 asks to behave as on a machine without 32-bit support"
elif reason=$(scripts/can-run-x86-32.sh); then
  run32=1
  why="this machine runs 32-bit x86 programs"
else
  run32=0
  why="this machine cannot run 32-bit x86 programs: $reason"
fi
if [ "$run32" -eq 1 ]; then
  echo "== Windows suites: 32-bit DLLs under 32-bit Wine, 64-bit DLLs under 64-bit Wine ($why)"
else
  echo "== Windows suites: 64-bit DLLs under 64-bit Wine; 32-bit DLLs built and checked from their images, not run ($why)"
fi

# The tests run through build/windows*/wine-run.sh: a Wine prefix of their own
# inside the build directory, no dialogs, no debug output.
#
# No Windows test is run again: the rare "hang at exit" that once needed it
# was Wine's session processes holding the first program's standard error
# open (see wine-run.sh), not a process that failed to end.
windows_build() {  # <build dir> <toolchain file>
  cmake -S . -B "$1" -DCMAKE_TOOLCHAIN_FILE="$2" -DCMAKE_BUILD_TYPE=Release -DRK350_BENCH=OFF >/dev/null
  cmake --build "$1" -j"$JOBS"
}

# The image checks print, per DLL, its exports and the oldest Windows it loads
# on (from its imports and PE header); they are part of each suite as well.
echo "== 32-bit Windows DLLs (MinGW), checked from their images"
windows_build build/windows cmake/mingw-i686.cmake
cmake --build build/windows --target rk350_check_dll_images
if [ "$run32" -eq 1 ]; then
  echo "== 32-bit Windows tests under 32-bit Wine"
  ctest --test-dir build/windows --output-on-failure -j"$JOBS"
fi

echo "== 64-bit Windows DLLs (MinGW), checked from their images; tests under 64-bit Wine"
windows_build build/windows64 cmake/mingw-x86_64.cmake
cmake --build build/windows64 --target rk350_check_dll_images
ctest --test-dir build/windows64 --output-on-failure -j"$JOBS"

echo "== Fuzzing the exports on the virtual card (libFuzzer, ${FUZZ_SECONDS:-90} s)"
scripts/fuzz.sh "${FUZZ_SECONDS:-90}"

echo "== All tests passed ($( [ "$run32" -eq 1 ] && echo "both Windows suites ran" || echo "32-bit Windows suite checked, not run"))"
