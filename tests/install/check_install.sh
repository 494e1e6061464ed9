#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds and runs a small
# consumer through find_package(rk350) and through pkg-config, and checks the
# installed files (versioned names, headers, Python package, capture tool).
set -euo pipefail
build=$1
source=$2
cmake=${3:-cmake}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

"$cmake" --install "$build" --prefix "$prefix" >/dev/null
libdir=$(find "$prefix" -name 'librk350_virtual.so' -printf '%h\n' | head -1)
test -n "$libdir" || { echo "librk350_virtual.so not installed"; exit 1; }
for f in librk350.so librk350.so.0 librk350_virtual.so.0 pkgconfig/rk350.pc pkgconfig/rk350_virtual.pc \
         cmake/rk350/rk350Config.cmake cmake/rk350/rk350Targets.cmake; do
  test -e "$libdir/$f" || { echo "missing $libdir/$f"; exit 1; }
done
ls "$libdir"/librk350_virtual.so.0.* >/dev/null
for h in rk350.h rk350_ext.h rk350_sim.h; do test -f "$prefix/include/rk350/$h"; done
test -x "$prefix/bin/rk350-capture"

# CMake package.
"$cmake" -S "$source/tests/install/consumer" -B "$work/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
"$cmake" --build "$work/consumer" >/dev/null
"$work/consumer/consumer_virtual"
"$work/consumer/consumer_hardware"

# pkg-config, from a copy of the prefix elsewhere: the .pc files are relocatable.
cp -a "$prefix" "$work/moved"
export PKG_CONFIG_PATH="${libdir/$prefix/$work/moved}/pkgconfig"
for flavour in rk350 rk350_virtual; do
  # shellcheck disable=SC2046
  cc -o "$work/pc_$flavour" "$source/tests/install/consumer/consumer.c" $(pkg-config --cflags --libs "$flavour")
  LD_LIBRARY_PATH="${libdir/$prefix/$work/moved}" "$work/pc_$flavour"
done

# The installed capture tool finds the installed library, the Python package too.
"$prefix/bin/rk350-capture" --version | grep -q "$prefix"
# It loads the installed recorder module (and HDF5) for a recording.
test -e "$libdir/librk350_recorder.so" || { echo "missing $libdir/librk350_recorder.so"; exit 1; }
env -u RK350_RECORDER -u RK350_LIBRARY "$prefix/bin/rk350-capture" --quiet --continuous --record "$work/run.h5" \
  --count 2 --samples 1000 >/dev/null
test -s "$work/run.h5" || { echo "the installed tool wrote no recording"; exit 1; }
if python3 -c 'import numpy' 2>/dev/null || /usr/bin/python3 -c 'import numpy' 2>/dev/null; then
  py=$(command -v /usr/bin/python3 || command -v python3)
  pydir=$(dirname "$(find "$prefix" -name instrument.py -path '*rk350*' | head -1)")
  env -u RK350_LIBRARY -u RK350_LIBRARY_DIR PYTHONPATH="$(dirname "$pydir")" PYTHONDONTWRITEBYTECODE=1 \
    "$py" -c "import rk350; p = rk350.find_library('virtual'); assert p.startswith('$prefix'), p; print(p)"
fi
echo "install check passed"
