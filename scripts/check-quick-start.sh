#!/usr/bin/env bash
# Runs the README's quick-start commands as a user would on this checkout and
# fails when one of them would fail: scripts/run.sh (Release build, the
# default capture, its files checked) and scripts/scope.sh (started, the page
# and /api/settings answered over HTTP, *IDN? over SCPI, stopped with Ctrl-C's
# signal). Every step is bounded in time. Ports are free ones on 127.0.0.1.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_LIMIT=${BUILD_LIMIT:-1800}  # s: a Release build from nothing on two cores takes a few minutes

echo "== README: scripts/run.sh"
rm -f out/capture.csv out/capture.svg
timeout "$BUILD_LIMIT" scripts/run.sh --quiet
python3 - <<'PY'
import csv, math
rows = [r for r in csv.reader(l for l in open("out/capture.csv") if not l.startswith("#"))]
header, data = rows[0], rows[1:]
assert header[0].startswith("time"), header
assert len(data) == 5000, len(data)
values = [float(r[1]) for r in data if r[1] not in ("", "nan", "NaN")]
assert len(values) > 4000 and max(values) > 0.5 and min(values) < -0.5, "no 1 V sine on CH1"
svg = open("out/capture.svg").read()
assert svg.lstrip().startswith("<") and "</svg>" in svg, "out/capture.svg is not a whole SVG"
print("run.sh: out/capture.csv (%d samples, CH1 %.2f .. %.2f V) and out/capture.svg written" %
      (len(data), min(values), max(values)))
PY

echo "== README: scripts/scope.sh"
read -r http scpi < <(python3 -c '
import socket
ports = []
sockets = [socket.socket() for _ in range(2)]
for s in sockets: s.bind(("127.0.0.1", 0)); ports.append(s.getsockname()[1])
print(*ports)')
log=$(mktemp)
setsid scripts/scope.sh --port "$http" --scpi-port "$scpi" >"$log" 2>&1 &
pid=$!
stop() { kill -TERM -- "-$pid" 2>/dev/null || true; }
trap 'stop; cat "$log"; rm -f "$log"' EXIT
python3 - "$http" "$scpi" "$pid" "$BUILD_LIMIT" <<'PY'
import json, os, socket, sys, time, urllib.request
http, scpi, pid, limit = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4])
deadline = time.monotonic() + limit  # the script builds the scope first
while True:
    try:
        page = urllib.request.urlopen("http://127.0.0.1:%d/" % http, timeout=10).read().decode()
        break
    except OSError:
        if time.monotonic() > deadline: sys.exit("scope.sh: no page within %g s" % limit)
        try: os.kill(pid, 0)
        except ProcessLookupError: sys.exit("scope.sh ended before it served its page")
        time.sleep(0.5)
assert "<html" in page.lower(), page[:200]
settings = json.load(urllib.request.urlopen("http://127.0.0.1:%d/api/settings" % http, timeout=10))
assert "settings" in settings and "rate" in settings["settings"], settings
with socket.create_connection(("127.0.0.1", scpi), timeout=10) as s:
    s.sendall(b"*IDN?\n")
    answer = b""
    while not answer.endswith(b"\n"):
        chunk = s.recv(4096)
        if not chunk: break
        answer += chunk
assert answer.startswith(b"RK350,"), answer
print("scope.sh: page, /api/settings and *IDN? (%s) answered" % answer.decode().strip())
PY
# Ctrl-C in the terminal: SIGINT to the scope (scope.sh execs it), which then ends by itself.
kill -INT "$pid"
for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$pid" 2>/dev/null; then echo "scope.sh: still running 10 s after SIGINT" >&2; exit 1; fi
wait "$pid" && status=0 || status=$?
[ "$status" -eq 0 ] || { echo "scope.sh: ended with status $status after SIGINT" >&2; exit 1; }
trap 'rm -f "$log"' EXIT
echo "scope.sh: stopped cleanly"
