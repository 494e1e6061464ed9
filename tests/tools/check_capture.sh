#!/usr/bin/env bash
# Runs the capture tool on the virtual card the way a user would and checks
# what it leaves: the summary, a CSV whose CH1 column is the generator's sine
# (looped back), an SVG with both traces, and errors by name.
set -euo pipefail
tool=$1
python=${2:-python3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$tool" --help | grep -q -- "--gen-symmetry"

"$tool" --quiet --output "$work/out/capture" --gen-freq 2k --gen-amplitude 1.5 >"$work/summary.txt"
cat "$work/summary.txt"
grep -q "^CH1 " "$work/summary.txt"
test -s "$work/out/capture.csv"
test -s "$work/out/capture.svg"
grep -c "<polyline" "$work/out/capture.svg" | grep -qx 2
grep -q ">trigger<" "$work/out/capture.svg"

"$python" - "$work/out/capture.csv" <<'PY'
import csv, sys
rows = list(csv.reader(open(sys.argv[1])))
assert rows[0] == ["time_s", "CH1_V", "CH2_V"], rows[0]
data = [[float(x) for x in r] for r in rows[1:] if not r[0].startswith("#")]
assert len(data) == 5000, len(data)
t = [r[0] for r in data]
ch1 = [r[1] for r in data]
assert t.index(0.0) == 1250, "trigger instant at index 1250"
assert abs(t[1] - t[0] - 1e-6) < 1e-12, "1 MHz"
swing = max(ch1) - min(ch1)
assert abs(swing - 3.0) < 0.15, swing
# From the trigger on: taken after the start whenever the trigger came.
mid = (max(ch1) + min(ch1)) / 2
up = [i for i in range(1251, len(ch1)) if ch1[i - 1] < mid <= ch1[i]]
freq = (len(up) - 1) / (t[up[-1]] - t[up[0]])
assert abs(freq - 2000) < 20, freq
assert abs(ch1[1250]) < 0.1, ch1[1250]
print("capture CSV ok: swing %.3f V, %.1f Hz" % (swing, freq))
PY

# The default capture is complete, its trigger at index 1250, and nothing to
# warn about.
"$tool" --quiet --output "$work/full" 2>"$work/err.txt" >/dev/null
! grep -q "warning" "$work/err.txt"
"$python" - "$work/full.csv" <<'PY'
import csv, sys
rows = [r for r in list(csv.reader(open(sys.argv[1])))[1:] if not r[0].startswith("#")]
assert all(cell != "" for r in rows for cell in r), "every position holds a sample"
ch1 = [float(r[1]) for r in rows]
assert ch1[1249] < 0 <= ch1[1250], (ch1[1249], ch1[1250])
PY

# The card's own trigger with a fast signal leaves the start without
# samples: empty CSV cells, one warning line even with --quiet, and an
# average over the records that hold each position.
"$tool" --quiet --card-trigger --gen-freq 20k --gen-amplitude 3 --average 4 --output "$work/early" \
  >"$work/early.txt" 2>"$work/err.txt"
cat "$work/err.txt"
test "$(grep -c "^warning: CH1 and CH2: [0-9]* of 5000 positions hold no sample" "$work/err.txt")" -eq 1
grep -q "CH1 overranged" "$work/err.txt"
"$python" - "$work/early.csv" "$work/early.txt" <<'PY'
import csv, sys
rows = [r for r in list(csv.reader(open(sys.argv[1])))[1:] if not r[0].startswith("#")]
ch1 = [r[1] for r in rows]
empty = [i for i, v in enumerate(ch1) if v == ""]
assert empty and empty == list(range(len(empty))), "the leading positions are empty cells"
taken = [float(v) for v in ch1 if v != ""]
# The summary's minimum and maximum come from taken samples: the 3 V sine
# clipped at the 2 V range, not 0 V from an empty position.
line = next(l for l in open(sys.argv[2]) if l.startswith("CH1 "))
assert "-2 V" in line or "-1.9" in line, line
assert min(taken) < -1.9 and max(taken) > 1.9
PY

# A value the library refuses is reported by name, with exit status 2.
set +e
"$tool" --quiet --no-csv --no-plot --ch1-range 2 --ch1-dc-level 5 2>"$work/err.txt"
status=$?
set -e
cat "$work/err.txt"
test "$status" -eq 2
grep -q "SetDcLevel(CH1, 5 V): ResultInvalidValue (an argument lies outside" "$work/err.txt"

# No card at the address: the library's answer by name.
set +e
"$tool" --quiet --no-csv --no-plot --address 0x300 2>"$work/err.txt"
status=$?
set -e
test "$status" -eq 2
grep -q "ResultNoInstrument" "$work/err.txt"

# A bad command line: exit status 1.
set +e
"$tool" --rate fast 2>/dev/null
status=$?
set -e
test "$status" -eq 1
echo "capture tool ok"
