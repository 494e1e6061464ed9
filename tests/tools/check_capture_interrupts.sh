#!/usr/bin/env bash
# The capture tool interrupted, bounded in count and time: SIGINT or SIGTERM
# while it writes leaves no temporary file and never a new file beside an old
# one of another run; Ctrl-C ends it while it waits to open a FIFO that no
# reader opened; an output name that is a symbolic link is written through.
set -euo pipefail
capture=$1
python=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*"
  exit 1
}

# No hidden temporary in DIR.
no_temporaries() {
  local left
  left=$(find "$1" -name '.*.tmp-*' | head -n 3)
  [ -z "$left" ] || fail "temporaries left: $left"
}

# The tool's PID has ended within 10 s; its status in $status.
wait_status() {
  local pid=$1
  for _ in $(seq 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
    fail "still running 10 s after the signal"
  fi
  status=0
  wait "$pid" || status=$?
}

# 1. Waiting to open a FIFO (the plot) after the CSV was written to its
# temporary: each signal ends the tool at once, the temporary goes, and the
# CSV of the run before stays.
for signal in INT TERM; do
  dir=$work/fifo-$signal
  mkdir "$dir"
  mkfifo "$dir/plot.svg"
  echo "earlier run" >"$dir/capture.csv"
  "$capture" --quiet --csv "$dir/capture.csv" --svg "$dir/plot.svg" >/dev/null 2>"$dir/err.txt" &
  pid=$!
  for _ in $(seq 300); do
    [ -n "$(find "$dir" -name '.capture.csv.tmp-*')" ] && break
    sleep 0.1
  done
  [ -n "$(find "$dir" -name '.capture.csv.tmp-*')" ] || fail "no CSV temporary while the FIFO waits"
  sleep 0.2
  kill -"$signal" "$pid"
  wait_status "$pid"
  [ "$status" -eq 130 ] || fail "SIG$signal while waiting on the FIFO: status $status, expected 130"
  no_temporaries "$dir"
  [ "$(cat "$dir/capture.csv")" = "earlier run" ] || fail "SIG$signal replaced the CSV without its plot"
done

# 2. Signals at random moments of a run writing a CSV and a sigrok session:
# the pair on disk always comes from one run (each run has its own record
# length), and no temporary is left.
dir=$work/pairs
mkdir "$dir"
"$capture" --quiet --samples 100 --format csv,sr --output "$dir/cap" >/dev/null
for trial in $(seq 1 30); do
  samples=$((100 + trial))
  "$capture" --quiet --samples "$samples" --format csv,sr --output "$dir/cap" >/dev/null 2>&1 &
  pid=$!
  sleep "0.$(printf '%03d' $((RANDOM % 400)))"
  kill -"$([ $((trial % 2)) -eq 0 ] && echo INT || echo TERM)" "$pid" 2>/dev/null || true
  wait_status "$pid"
  no_temporaries "$dir"
  "$python" - "$dir/cap.csv" "$dir/cap.sr" <<'EOF' || fail "trial $trial: the CSV and the session come from different runs"
import sys, zipfile
rows = sum(1 for line in open(sys.argv[1]) if not line.startswith("#")) - 1
session = zipfile.ZipFile(sys.argv[2]).getinfo("analog-1-1-1").file_size // 4
sys.exit(0 if rows == session else 1)
EOF
done

# 3. Symbolic links: the file a link names is replaced and the link stays;
# a link to a file not yet there creates it.
dir=$work/links
mkdir "$dir"
echo "old" >"$dir/real.csv"
ln -s real.csv "$dir/link.csv"
ln -s "$dir/new.csv" "$dir/dangling.csv"
"$capture" --quiet --no-plot --csv "$dir/link.csv" >/dev/null
"$capture" --quiet --no-plot --csv "$dir/dangling.csv" >/dev/null
[ -L "$dir/link.csv" ] && [ -L "$dir/dangling.csv" ] || fail "a link was replaced by a file"
grep -q '^time_s,' "$dir/real.csv" || fail "the linked file was not written"
grep -q '^time_s,' "$dir/new.csv" || fail "the dangling link's file was not created"
no_temporaries "$dir"
echo "capture interrupts: all checks passed"
