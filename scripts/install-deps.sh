#!/usr/bin/env bash
# Installs what the build and the tests need on a fresh Debian machine of this
# kind (run as root, or with sudo available). Safe to run again: it installs
# only when something is missing.
set -euo pipefail
# What the build itself needs first (shared with scripts/run.sh and scope.sh).
"$(dirname "$0")/install-build-deps.sh"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; fi

need=0
for cmd in cmake make g++ gcc as ld i686-w64-mingw32-g++-win32 i686-w64-mingw32-gcc-win32 i686-w64-mingw32-dlltool \
  i686-w64-mingw32-objdump x86_64-w64-mingw32-g++-win32 x86_64-w64-mingw32-gcc-win32 x86_64-w64-mingw32-dlltool \
  x86_64-w64-mingw32-objdump wine wineboot wineserver flock sigrok-cli setpriv clang-14 clang++-14; do
  command -v "$cmd" >/dev/null 2>&1 || need=1
done
# The system Python (the one the Debian packages serve).
/usr/bin/python3 -c 'import numpy, pytest' 2>/dev/null || need=1
dpkg -s wine32:i386 >/dev/null 2>&1 || need=1
# The 64-bit loader, which the tests of the 64-bit DLLs call directly.
[ -x /usr/lib/wine/wine64 ] || need=1
# libFuzzer and the sanitizer runtimes for clang (the fuzzing harness).
dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || need=1
[ -f /usr/src/googletest/CMakeLists.txt ] || need=1
[ -f /usr/include/gtest/gtest.h ] || need=1
[ -f /usr/include/benchmark/benchmark.h ] || need=1
[ -f /usr/include/zip.h ] || need=1
# Recordings: HDF5 to write them, h5py and h5dump to read them back.
[ -f /usr/include/hdf5/serial/hdf5.h ] || need=1
command -v h5dump >/dev/null 2>&1 || need=1
/usr/bin/python3 -c 'import h5py' 2>/dev/null || need=1
command -v pkg-config >/dev/null 2>&1 || need=1
# gdb: the Wine wrapper shows a hung Windows program's threads with it.
command -v gdb >/dev/null 2>&1 || need=1
# The scope: its HTTP and JSON libraries, and the browser its page is tested in.
[ -f /usr/include/httplib.h ] || need=1
[ -f /usr/include/nlohmann/json.hpp ] || need=1
command -v chromium >/dev/null 2>&1 || need=1
/usr/bin/python3 -c 'import websocket' 2>/dev/null || need=1
dpkg -s fonts-dejavu-core >/dev/null 2>&1 || need=1
# The scope's SCPI: the clients its tests drive it with, and Avahi for --announce.
/usr/bin/python3 -c 'import pyvisa, pyvisa_py' 2>/dev/null || need=1
command -v lxi >/dev/null 2>&1 || need=1
[ -f /usr/include/avahi-client/client.h ] || need=1
# The announcement's test: a private bus, an Avahi daemon on it, avahi-browse.
command -v dbus-daemon >/dev/null 2>&1 || need=1
[ -x /usr/sbin/avahi-daemon ] || need=1
command -v avahi-browse >/dev/null 2>&1 || need=1
# VXI-11: ONC RPC from libtirpc; its test registers with a private rpcbind.
[ -f /usr/include/tirpc/rpc/rpc.h ] || need=1
[ -x /usr/sbin/rpcbind ] || need=1
command -v ip >/dev/null 2>&1 || need=1

if [ "$need" -eq 1 ]; then
  # wine32 (the 32-bit Wine that runs the 32-bit DLLs' tests) comes from the
  # i386 architecture. It installs on every machine of this kind, also where
  # the kernel cannot run it; the test script finds out which by trying.
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends \
    cmake make g++ gcc binutils libgtest-dev googletest libbenchmark-dev \
    g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64 \
    wine wine32:i386 wine64 util-linux sigrok-cli libzip-dev pkg-config \
    python3 python3-numpy python3-pytest clang-14 libclang-rt-14-dev \
    libcpp-httplib-dev nlohmann-json3-dev chromium python3-websocket fonts-dejavu-core \
    python3-pyvisa-py lxi-tools libavahi-client-dev dbus-daemon avahi-daemon avahi-utils \
    libtirpc-dev rpcbind iproute2 gdb libhdf5-dev hdf5-tools python3-h5py
fi
