#!/usr/bin/env bash
# A user waveform from a file goes to the card and comes back: the capture
# of the generator's output (looped back to CH1) equals the file within a
# converter step, for a 1024-sample file (repetition frequency), a file of
# another length (read out at a sample clock) and a file of times and volts
# (resampled to one period). Bad files are refused by line.
set -euo pipefail
tool=$1
python=${2:-python3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$python" - "$work" <<'PY'
import sys
import numpy as np
work = sys.argv[1]
k = np.arange(1024)
# Steps, a slope and a curve: every sample tells where it sits in the period.
shape = 0.8 * np.sin(2 * np.pi * k / 1024) + 0.3 * (k < 300) - 0.2 * k / 1024
np.savetxt(f"{work}/short.txt", shape, fmt="%.6f", header="volts")
np.savetxt(f"{work}/long.txt", np.linspace(-1.2, 0.9, 100), fmt="%.6f")
t = np.arange(200) * 5e-6
np.savetxt(f"{work}/timed.csv", np.column_stack([t, np.where(t < 3e-4, 1.1, -0.4)]), fmt="%.8g", delimiter=",",
           header="time_s,volts", comments="")
PY

check() {  # file, then the tool's options
  local file=$1
  shift
  "$tool" --quiet --gen-file "$work/$file" --output "$work/$file.capture.csv" --channels 1 "$@" >"$work/$file.summary"
  cat "$work/$file.summary"
  local running
  running=$(grep -o "the card runs it at [0-9.e+-]*" "$work/$file.summary" | awk '{print $6}')
  test -n "$running"
  "$python" - "$work/$file" "$work/$file.capture.csv" "$running" <<'PY'
import sys
import numpy as np
path, capture, running = sys.argv[1], sys.argv[2], float(sys.argv[3])
rows = np.genfromtxt(path, delimiter=",", comments="#", skip_header=1 if path.endswith(".csv") else 0)
if rows.ndim == 2:  # times and volts: the card holds one period at 1024 even steps, straight lines between
    times, volts = rows[:, 0], rows[:, 1]
    period = (times[-1] - times[0]) * len(times) / (len(times) - 1)
    wave = np.interp(times[0] + period * np.arange(1024) / 1024, times, volts, period=period)
else:
    wave = np.atleast_1d(rows)
data = np.genfromtxt(capture, delimiter=",", names=True, comments="#")
t, v = data["time_s"], data["CH1_V"]
held = ~np.isnan(v)
t, v = t[held], v[held]
step = 4.0 / 256  # one code of the 2 V range
n = len(wave)
# Where in the period the record starts is unknown: try every start, to an
# eighth of a waveform sample; at a step of the waveform either neighbour may
# be sampled.
best = None
for start in np.arange(0, n, 0.125):
    index = np.floor(start + t * running * n).astype(int)
    near = np.min([np.abs(v - wave[(index + d) % n]) for d in (-1, 0, 1)], axis=0)
    worst = near.max()
    best = worst if best is None else min(best, worst)
print(f"{path}: largest difference {best * 1e3:.2f} mV (a converter step is {step * 1e3:.2f} mV)")
assert best <= step, best
PY
}
check short.txt --rate 1M --samples 5000
check long.txt --gen-freq 1k --rate 1M --samples 5000
check timed.csv --rate 2M --samples 8000

# Refusals name the line; nothing is captured.
printf '0.5\n0.25,1\n' >"$work/mixed.txt"
if "$tool" --quiet --gen-file "$work/mixed.txt" --output "$work/none.csv" 2>"$work/err"; then exit 1; fi
grep -q "line 2: 2 columns where the file has 1" "$work/err"
test ! -e "$work/none.csv"
printf '0,1\n0,2\n' >"$work/times.txt"
if "$tool" --quiet --gen-file "$work/times.txt" --output "$work/none.csv" 2>"$work/err"; then exit 1; fi
grep -q "line 2: times must rise" "$work/err"
if "$tool" --quiet --gen-file "$work/long.txt" --gen-amplitude 2 2>"$work/err"; then exit 1; fi
grep -q "the file's volts set amplitude and offset" "$work/err"
echo "user waveforms round trip"
