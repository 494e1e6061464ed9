#!/usr/bin/env bash
# The capture tool's files as other programs read them, on the virtual card:
# a sigrok session read back by sigrok-cli (every value, the rate, the channel
# names), the CSV on standard output piped into a reader, its metadata header
# read by numpy, --time, --show, and --raw codes against the library's
# ADC_GetDataCh.
set -euo pipefail
tool=$1
python=${2:-python3}
library=${3:-}  # empty in a sanitised build: Python cannot load that library
command -v sigrok-cli >/dev/null || { echo "sigrok-cli is missing (Debian package sigrok-cli)" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A session and a CSV of the same record, read back with sigrok-cli: every
# value is the CSV's value as a 32-bit float, printed as sigrok prints it.
session_round_trip() {
  local name=$1
  shift
  "$tool" --quiet --output "$work/$name" --format csv,sr "$@" >/dev/null
  sigrok-cli -i "$work/$name.sr" -O csv >"$work/$name.sigrok.csv"
  "$python" - "$work/$name.csv" "$work/$name.sigrok.csv" <<'PY'
import csv, re, sys
import numpy as np
ours = list(csv.reader(open(sys.argv[1])))
header, rows = ours[0], [r for r in ours[1:] if not r[0].startswith("#")]
names = [h[:-2] for h in header[1:]]
times = [float(r[0]) for r in rows]
lines = open(sys.argv[2]).read().splitlines()
channels = next(l for l in lines if l.startswith("; Channels"))
assert channels.split(": ", 1)[1].split(", ") == names, (channels, names)
text = next(l for l in lines if l.startswith("; Samplerate: ")).split(": ")[1]
number, unit = text.split(" ")
rate = float(number) * {"Hz": 1, "kHz": 1e3, "MHz": 1e6, "GHz": 1e9}[unit]
ours_rate = 1 / (times[1] - times[0])
assert abs(rate - round(ours_rate)) <= 1e-6 * rate + 0.5, (rate, ours_rate)
# The values follow the line of units ("V DC,V DC").
start = next(i for i, l in enumerate(lines) if re.fullmatch(r"V( DC)?(,V( DC)?)*", l)) + 1
values = [l.split(",") for l in lines[start:] if l]
assert len(values) == len(rows), (len(values), len(rows))
for i, (theirs, mine) in enumerate(zip(values, rows)):
    # A position without a sample: an empty cell here, NaN in the session.
    expected = ["%g" % np.float32(float(v)) if v else "nan" for v in mine[1:]]
    assert theirs == expected, (i, theirs, expected)
print("session %s: %d samples x %d channels (%s) at %s read back by sigrok-cli" % (
    sys.argv[1], len(rows), len(names), ",".join(names), text))
PY
}
session_round_trip both --rate 50M --samples 65520 --ch2-source square:0.5:250k
session_round_trip ch2 --channels 2 --rate 300k --samples 3000 --ch2-source sine:0.3:1k --trigger ch2
session_round_trip interleaved --rate 100M --samples 2000 --gen-freq 1M

# A name ending in .sr writes the session alone.
"$tool" --quiet --output "$work/alone.sr" --samples 1000 >/dev/null
test -s "$work/alone.sr"
test ! -e "$work/alone.csv" && test ! -e "$work/alone.svg" && test ! -e "$work/alone.sr.csv"

# The CSV on standard output, piped into a reader; the text for people goes
# to standard error.
"$tool" --quiet --output - --rate 1M --samples 3000 2>"$work/stderr.txt" | "$python" -c '
import csv, sys
rows = [r for r in csv.reader(sys.stdin) if not r[0].startswith("#")]
assert rows[0] == ["time_s", "CH1_V", "CH2_V"], rows[0]
assert len(rows) == 3001, len(rows)
print("CSV on standard output: %d rows" % (len(rows) - 1))'
grep -q "^CH1 " "$work/stderr.txt"

# The metadata header: comment lines after the column names, which numpy
# reads past without options beyond the delimiter.
"$tool" --quiet --rate 300k --samples 2000 --ch2-range 0.4 --ch2-coupling ac --trigger-level 0.25 \
  --csv "$work/header.csv" --no-plot >/dev/null
"$python" - "$work/header.csv" <<'PY'
import sys
import numpy as np
path = sys.argv[1]
table = np.genfromtxt(path, delimiter=",", names=True)
assert table.dtype.names == ("time_s", "CH1_V", "CH2_V"), table.dtype.names
assert table.shape == (2000,), table.shape
assert np.allclose(np.diff(table["time_s"]), 1 / 294117.64705882355)
assert np.array_equal(np.loadtxt(path, delimiter=",", skiprows=1), np.array(table.tolist()))
notes = [l[2:].rstrip("\n") for l in open(path) if l.startswith("# ")]
def note(prefix):
    found = [n for n in notes if n.startswith(prefix)]
    assert len(found) == 1, (prefix, notes)
    return found[0]
assert note("sample rate: ") == "sample rate: 294117.64705882355 Hz (294.1176 kHz)", notes
assert note("record: ") == "record: 2000 samples, 500 before the trigger; time_s is 0 at the trigger", notes
assert note("CH1: ") == "CH1: range \u00b12 V, DC coupling, DC level 0 V", notes
assert note("CH2: ") == "CH2: range \u00b1400 mV, AC coupling, DC level 0 V", notes
assert note("trigger ") == "trigger CH1 rising at 250 mV, forced after 1 s", notes
assert "serial 12345" in note("card: ") and "library 0.1.0" in note("card: "), notes
assert note("values: ") == "values: volts", notes
import re
assert re.fullmatch(r"date: \d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ", note("date: ")), notes
print("metadata header read by numpy: %d rows, %d notes" % (table.shape[0], len(notes)))
PY

# --time: the record length as a duration at the rate reached.
"$tool" --quiet --rate 1M --time 5ms --csv "$work/time.csv" --no-plot >/dev/null
test "$(grep -vc '^#' "$work/time.csv")" -eq 5001
"$tool" --quiet --rate 3M --time 2ms --csv "$work/time.csv" --no-plot >"$work/time.txt"  # 3 MHz runs at 2.5 MHz
grep -q "^2.5 MHz sample rate, 5000 samples" "$work/time.txt"
set +e
"$tool" --quiet --rate 50M --time 2s 2>"$work/err.txt"
status=$?
set -e
test "$status" -eq 1
grep -q -- "--time 2 s at 50 MHz is 100000000 samples; a record holds 1 .. 65520" "$work/err.txt"

# --show lists what the card offers, as the library answers.
"$tool" --show >"$work/show.txt"
cat "$work/show.txt"
grep -q "^ranges .*: 100 mV 200 mV 400 mV 800 mV 2 V 4 V 8 V 20 V 40 V 80 V$" "$work/show.txt"
grep -q "60 MHz -> 100 MHz; 30 MHz -> 50 MHz; 13 MHz -> 25 MHz; 12 MHz -> 10 MHz; 9.9 MHz -> 5 MHz" "$work/show.txt"
grep -q "3 MHz -> 2.5 MHz" "$work/show.txt"
grep -q "1 Hz -> 0.9999616 Hz" "$work/show.txt"
grep -q "^  ext (4): the external trigger input$" "$work/show.txt"
grep -q "^  xor (8): .* - not on this card$" "$work/show.txt"
grep -q "amplitude 0 .. 10 V peak" "$work/show.txt"

# --ext-source feeds the external trigger input: an external trigger is
# taken, not forced.
"$tool" --ext-source square:2.5:1k:2.5 --trigger ext --samples 2000 --no-csv --no-plot >"$work/ext.txt" 2>&1
if grep -q "was forced" "$work/ext.txt"; then cat "$work/ext.txt"; exit 1; fi

# --raw: the 8-bit codes, the high byte of what ADC_GetDataCh gives for the
# same input, and the volts of the same record (in its session) follow from
# them.
"$tool" --quiet --raw --output "$work/raw" --format csv,sr --samples 1000 --trigger none --ch1-source dc:0:0:0.75 \
  --ch2-source dc:0:0:-1.25 --ch1-range 2 --ch2-range 2 >/dev/null
sigrok-cli -i "$work/raw.sr" -O csv >"$work/raw.sigrok.csv"
"$python" - "$work/raw.csv" "$work/raw.sigrok.csv" "$library" <<'PY'
import csv, ctypes, sys
rows = [r for r in csv.reader(open(sys.argv[1])) if not r[0].startswith("#")]
assert rows[0] == ["time_s", "CH1_code", "CH2_code"], rows[0]
codes = [[int(r[1]), int(r[2])] for r in rows[1:]]
class Source(ctypes.Structure):
    _fields_ = [("kind", ctypes.c_int32)] + [(n, ctypes.c_double) for n in
                ("amplitude", "frequency", "offset", "phase", "stepTime", "noise")]
def compare_with_library(path):
    lib = ctypes.CDLL(path)
    assert lib.InitInstrument(0x288) == 0
    for channel, volts in ((1, 0.75), (2, -1.25)):
        assert lib.SetAutoRanging(channel, 0) == 0
        assert lib.SetSensitivity(channel, ctypes.byref(ctypes.c_double(2.0))) == 0
        assert lib.RK350Sim_SetInputSource(channel, ctypes.byref(Source(kind=1, offset=volts))) == 0
    assert lib.SetRecordLength(1000) == 0 and lib.SetPostSamples(1000) == 0 and lib.SetTriggerSource(9) == 0
    assert lib.ADC_Start() == 0
    while not lib.ADC_Ready():
        pass
    raw = (ctypes.c_uint16 * 1000)()
    for channel in (1, 2):
        assert lib.ADC_GetDataCh(channel, raw) == 0
        library_codes = [r >> 8 for r in raw]
        tool_codes = [c[channel - 1] for c in codes]
        assert library_codes == tool_codes, (channel, library_codes, tool_codes)
    lib.ExitInstrument()
    print("the codes are the high bytes of ADC_GetDataCh")
if sys.argv[3]:
    compare_with_library(sys.argv[3])
else:
    print("sanitised build: the comparison with ADC_GetDataCh runs in the plain build")
lines = open(sys.argv[2]).read().splitlines()
start = next(i for i, l in enumerate(lines) if l.startswith("V")) + 1
volts = [[float(v) for v in l.split(",")] for l in lines[start:] if l]
assert len(volts) == len(codes)
for c, v in zip(codes, volts):
    for k in range(2):
        assert abs(v[k] - (c[k] - 128) * 2.0 / 128) < 1e-6, (c, v)
print("raw codes %s and %s as ADC_GetDataCh gives them" % ({c[0] for c in codes}, {c[1] for c in codes}))
PY
echo "capture formats ok"
