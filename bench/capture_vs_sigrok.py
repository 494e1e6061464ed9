#!/usr/bin/env python3
"""Whole-process wall time of rk350-capture against sigrok-cli on the same work.

Both programs take two channels of 65,520 samples at 50 MHz and write them as
CSV; sigrok-cli uses its demo driver. They run alternately, so both see the
same machine load, and the script prints the median of each and the ratio
(ours / sigrok-cli; below 1 is faster).

    bench/capture_vs_sigrok.py build/release/rk350-capture [--pairs 7] [--plot]

--plot makes our tool also write its SVG picture (sigrok-cli draws none).
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

SAMPLES = 65520


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("tool", help="the rk350-capture program")
    parser.add_argument("--pairs", type=int, default=7, help="runs of each program (default 7)")
    parser.add_argument("--plot", action="store_true", help="our tool also writes its SVG picture")
    args = parser.parse_args()
    sigrok = shutil.which("sigrok-cli")
    if sigrok is None:
        sys.exit("capture_vs_sigrok: sigrok-cli is missing (Debian package sigrok-cli)")

    with tempfile.TemporaryDirectory() as directory:
        ours_csv = os.path.join(directory, "ours.csv")
        theirs_csv = os.path.join(directory, "sigrok.csv")
        ours = [args.tool, "--rate", "50M", "--samples", str(SAMPLES), "--quiet", "--csv", ours_csv]
        ours += ["--svg", os.path.join(directory, "ours.svg")] if args.plot else ["--no-plot"]
        theirs = [sigrok, "--driver", "demo", "--channels", "A0,A1", "--samples", str(SAMPLES), "--config",
                  "samplerate=50m", "-O", "csv", "-o", theirs_csv]
        # One run each to load the programs and libraries into the page cache.
        timed(ours)
        timed(theirs)
        ours_times, theirs_times = [], []
        for _ in range(args.pairs):
            ours_times.append(timed(ours))
            theirs_times.append(timed(theirs))
        rows = sum(1 for line in open(ours_csv) if not line.startswith("#")) - 1

    ours_median = statistics.median(ours_times)
    theirs_median = statistics.median(theirs_times)
    what = "CSV + SVG" if args.plot else "CSV"
    print(f"two channels, {SAMPLES} samples at 50 MHz, {what}; median of {args.pairs} alternating runs")
    print(f"rk350-capture  {ours_median * 1e3:8.1f} ms   ({rows} rows written)")
    print(f"sigrok-cli     {theirs_median * 1e3:8.1f} ms")
    print(f"ratio          {ours_median / theirs_median:8.3f}   ({theirs_median / ours_median:.1f}x faster)")


if __name__ == "__main__":
    main()
