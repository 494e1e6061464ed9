#!/usr/bin/env bash
# The live oscilloscope: builds rk350-scope (Release) and serves its page on
# http://127.0.0.1:8350/ with the virtual card; open that address in a
# browser. Ctrl-C stops it. Extra arguments go to the scope (see --help), for
# example --port 8080, --ch2-source square:0.5:250 or --hardware.
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
for cmd in cmake g++ pkg-config; do command -v "$cmd" >/dev/null 2>&1 || missing+=("$cmd"); done
[ -f /usr/include/httplib.h ] || missing+=(libcpp-httplib-dev)
[ -f /usr/include/nlohmann/json.hpp ] || missing+=(nlohmann-json3-dev)
[ -f /usr/include/zip.h ] || missing+=(libzip-dev)
[ -f /usr/include/avahi-client/client.h ] || missing+=(libavahi-client-dev)
[ -f /usr/include/tirpc/rpc/rpc.h ] || missing+=(libtirpc-dev)
if [ "${#missing[@]}" -gt 0 ]; then
  echo "scope.sh: missing ${missing[*]}; install with:" >&2
  echo "  apt-get install -y cmake g++ make pkg-config libcpp-httplib-dev nlohmann-json3-dev libzip-dev libavahi-client-dev libtirpc-dev" >&2
  exit 1
fi
JOBS=${JOBS:-$(nproc)}
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release -DRK350_TESTS=OFF -DRK350_BENCH=OFF >/dev/null
cmake --build build/release -j"$JOBS" --target rk350-scope
exec build/release/rk350-scope "$@"
