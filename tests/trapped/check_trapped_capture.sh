#!/usr/bin/env bash
# rk350-capture --hardware --address 0x300 on the shipping hardware library,
# its port instructions served by the preloaded harness's card, against the
# same capture on the virtual flavour: the same records, sample by sample.
# The generator's square wave (looped back to CH1 on both cards) has exact
# levels, and the library puts its trigger edge at the pre-trigger samples,
# so the records agree although both cards follow the host's clock (the tool
# has no manual card time), except that a later edge may fall one sample
# earlier or later: the generator's period is not a whole number of samples,
# and where within a sample the trigger came differs between runs (seen: up
# to two samples, 500 samples away from the trigger).
# Usage: check_trapped_capture.sh CAPTURE HARDWARE_LIBRARY VIRTUAL_LIBRARY
# (run with the harness in LD_PRELOAD)
set -euo pipefail
capture=$1
hardware=$2
simulated=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
case "${LD_PRELOAD:-}" in
  *trapped_ports*) ;;
  *) echo "the trapped-port harness is not preloaded: the capture would reach the real bus" >&2; exit 1 ;;
esac
signal=(--gen square --gen-freq 1k --gen-amplitude 1 --no-plot --quiet)

RK350_TRAPPED_REPORT=1 "$capture" --hardware --address 0x300 --library "$hardware" "${signal[@]}" \
  --output "$work/hardware" >"$work/hardware.txt" 2>"$work/hardware.err"
cat "$work/hardware.err"
served=$(sed -n 's/^trapped ports: \([0-9]*\) in, \([0-9]*\) out served by the card at 0x300$/\1 \2/p' "$work/hardware.err")
read -r ins outs <<<"${served:-0 0}"
[ "$ins" -gt 10000 ] && [ "$outs" -gt 0 ] || { echo "the harness served $ins in, $outs out" >&2; exit 1; }

# The virtual flavour does no port instruction: the harness stays idle.
"$capture" --library "$simulated" "${signal[@]}" --output "$work/virtual" \
  >"$work/virtual.txt"

# Data rows only: the notes say which card took them.
grep -v '^#' "$work/hardware.csv" >"$work/hardware.rows"
grep -v '^#' "$work/virtual.csv" >"$work/virtual.rows"
python3 - "$work/hardware.rows" "$work/virtual.rows" <<'PY'
import sys
def rows(path):
    return [line.split(",") for line in open(path).read().splitlines()[1:]]
trapped, simulated = rows(sys.argv[1]), rows(sys.argv[2])
assert len(trapped) == len(simulated) > 1000, (len(trapped), len(simulated))
ch1 = [float(r[1]) for r in trapped]
other = [float(r[1]) for r in simulated]
shifted = []
for i, (a, b) in enumerate(zip(trapped, simulated)):
    assert a[0] == b[0] and a[2] == b[2], "row %d: %s against %s" % (i, a, b)
    if a[1] != b[1]:
        # Only at an edge: this sample has the level of a sample at most two
        # away in the other record.
        near = [other[j] for j in range(i - 2, i + 3) if 0 <= j < len(other)]
        assert ch1[i] in near, "CH1 differs at row %d away from an edge: %s against %s" % (i, a, b)
        shifted.append(i)
swing = max(ch1) - min(ch1)
assert swing > 1.8, "CH1 swings only %g V" % swing
edges = sum(1 for i in range(1, len(ch1)) if ch1[i] != ch1[i - 1])
assert len(shifted) <= 2 * edges, (len(shifted), edges)
print("trapped capture agrees with the virtual one: %d rows, CH1 %.3f..%.3f V; %d samples beside the %d edges differ"
      % (len(ch1), min(ch1), max(ch1), len(shifted), edges))
PY
