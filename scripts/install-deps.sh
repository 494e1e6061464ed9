#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine of this
# kind (we run as root). Safe to run again.
set -euo pipefail
need=()
for cmd in cmake g++ i686-w64-mingw32-g++-posix wine sigrok-cli; do
  command -v "$cmd" >/dev/null 2>&1 || need+=("$cmd")
done
python3 -c 'import numpy, pytest' 2>/dev/null || need+=(python)
dpkg -s wine32:i386 >/dev/null 2>&1 || need+=(wine32)
[ -d /usr/src/googletest ] || need+=(googletest)
[ -f /usr/include/benchmark/benchmark.h ] || need+=(benchmark)
if [ ${#need[@]} -gt 0 ]; then
  dpkg --add-architecture i386
  apt-get update -q
  apt-get install -y -q --no-install-recommends \
    cmake g++ make libgtest-dev googletest libbenchmark-dev \
    g++-mingw-w64-i686 wine wine32 sigrok-cli \
    python3 python3-numpy python3-pytest
fi
