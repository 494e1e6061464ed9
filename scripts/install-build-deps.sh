#!/usr/bin/env bash
# Installs what building the library and the tools needs on a fresh Debian
# machine of this kind (the README's scripts/run.sh and scripts/scope.sh run
# it; scripts/install-deps.sh adds what the tests need). Run as root, or with
# sudo available. Installs only when something is missing.
set -euo pipefail
need=0
for cmd in cmake make g++ pkg-config; do command -v "$cmd" >/dev/null 2>&1 || need=1; done
# The capture tool's sigrok sessions (libzip); the scope's HTTP, JSON and
# announcement libraries (the tools build together).
for header in /usr/include/zip.h /usr/include/httplib.h /usr/include/nlohmann/json.hpp \
  /usr/include/avahi-client/client.h; do
  [ -f "$header" ] || need=1
done
# The capture tool's recordings (HDF5); the scope's VXI-11 (ONC RPC).
[ -f /usr/include/hdf5/serial/hdf5.h ] || need=1
[ -f /usr/include/tirpc/rpc/rpc.h ] || need=1
[ "$need" -eq 0 ] && exit 0
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "$(basename "$0"): packages are missing and this is not root; as root run:" >&2
    echo "  apt-get install -y cmake make g++ pkg-config libzip-dev libcpp-httplib-dev nlohmann-json3-dev" \
      "libavahi-client-dev libhdf5-dev libtirpc-dev" >&2
    exit 1
  fi
  SUDO=sudo
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends cmake make g++ pkg-config libzip-dev libcpp-httplib-dev \
  nlohmann-json3-dev libavahi-client-dev libhdf5-dev libtirpc-dev
