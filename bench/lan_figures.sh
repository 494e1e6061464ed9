#!/bin/sh
# The scope's LAN figures over VXI-11 and the raw socket in one run:
# `lxi benchmark` requests per second and :WAVeform:DATA? MB/s for both
# channels of 65,520 samples (BYTE), through pyvisa-py. Runs the scope (give
# its path) in the tests' loopback-only namespace with a private rpcbind.
# Usage: bench/lan_figures.sh build/release/rk350-scope [requests] [transfers]
set -eu
here=$(cd "$(dirname "$0")/.." && pwd)
exec "$here/tests/scope/in_loopback_namespace.sh" sh -c '
  set -eu
  scope=$1 requests=$2 transfers=$3
  out=$(mktemp)
  "$scope" --port 0 --scpi-port 0 --samples 65520 --channels 12 >"$out" 2>&1 &
  pid=$!
  trap "kill $pid 2>/dev/null || true; rm -f $out" EXIT
  tries=0
  until grep -q "serving VXI-11" "$out"; do
    tries=$((tries + 1)); [ "$tries" -le 100 ] || { cat "$out" >&2; exit 1; }; sleep 0.1
  done
  raw=$(sed -n "s/.*serving SCPI on .*:\([0-9]*\)$/\1/p" "$out")
  echo "lxi benchmark, VXI-11: $(lxi benchmark -a 127.0.0.1 -c "$requests" | sed -n "s/.*Result: //p")"
  echo "lxi benchmark, raw socket: $(lxi benchmark -a 127.0.0.1 -r -p "$raw" -c "$requests" | sed -n "s/.*Result: //p")"
  /usr/bin/python3 - "$raw" "$transfers" <<PY
import sys, time, pyvisa
raw, n = int(sys.argv[1]), int(sys.argv[2])
manager = pyvisa.ResourceManager("@py")
for name, resource in (("VXI-11", "TCPIP::127.0.0.1::INSTR"), ("raw socket", "TCPIP::127.0.0.1::%d::SOCKET" % raw)):
    i = manager.open_resource(resource, read_termination="\n", write_termination="\n", timeout=30000)
    i.chunk_size = 1 << 20
    assert i.query(":SING;*OPC?") == "1"
    i.write(":WAV:FORM BYTE")
    total, start = 0, time.perf_counter()
    for _ in range(n):
        for ch in (1, 2):
            i.write(":WAV:SOUR CHAN%d" % ch)
            total += len(i.query_binary_values(":WAV:DATA?", datatype="B", container=bytes))
    seconds = time.perf_counter() - start
    print("%s: %d x 2 blocks of %d samples (BYTE) in %.2f s: %.1f MB/s" % (name, n, total // (2 * n), seconds, total / seconds / 1e6))
    i.close()
PY
' sh "$1" "${2:-100}" "${3:-50}"
