#!/usr/bin/env python3
"""The frequency check: twenty captures of the virtual card's sine, each
figure against the generator's running frequency (which the capture's
summary reports from the card), with the module's uncertainty and what the
summary printed. Then one case captured again and again: each capture
starts at another phase of the sampling instants, so the spread of its
errors shows what the record's noise allows.

    bench/frequency_check.py build/native [--repeat 9:20]

Prints a Markdown table (the one in docs/measurements.md).
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile

CASES = [
    "--gen-freq 1k",
    "--gen-freq 1k --samples 4000",
    "--gen-freq 1k --samples 20000 --rate 1M",
    "--gen-freq 10k --rate 1M --samples 5000",
    "--gen-freq 10k --rate 10M --samples 4500 --pre-trigger 10",
    "--gen-freq 2M --rate 100M --samples 2001 --pre-trigger 50 --channels 1",
    "--gen-freq 1M --rate 100M --samples 1000 --channels 1",
    "--gen-freq 5M --rate 100M --samples 400 --channels 1",
    "--gen-freq 123.456 --rate 10k --samples 1000",
    "--gen-freq 50 --rate 1k --samples 300 --pre-trigger 0",
    "--gen-freq 3.3k --rate 294k --samples 8000",
    "--gen-freq 77k --rate 2.5M --samples 65520 --pre-trigger 90",
    "--gen-freq 250k --rate 50M --samples 1000",
    "--gen-freq 500k --rate 25M --samples 3000 --channels 1",
    "--gen-freq 1.5k --rate 100k --samples 270",
    "--gen-freq 31k --rate 5M --samples 12345 --pre-trigger 75",
    "--gen-freq 7 --rate 1k --samples 2000 --gen-amplitude 0.3",
    "--gen-freq 999 --rate 1M --samples 65520 --gen-amplitude 0.05 --ch1-range 100mV",
    "--gen-freq 20k --rate 1M --samples 600 --gen-amplitude 1.8",
    "--gen-freq 400k --rate 100M --samples 65520 --channels 1 --gen-offset 0.5",
]


def capture(build, settings, csv):
    out = subprocess.run([os.path.join(build, "rk350-capture"), "--quiet", "--csv", csv, "--no-plot"]
                         + settings.split(), check=True, capture_output=True, text=True).stdout
    running = float(re.search(r"the card runs it at ([0-9.]+) Hz", out).group(1))
    printed = re.search(r"^CH1 .* (\S+ \S*Hz)\s*$", out, re.M).group(1)
    fields = subprocess.run([os.path.join(build, "bench", "rk350_frequency_check"), csv], check=True,
                            capture_output=True, text=True).stdout.split()
    hertz, uncertainty, samples = float(fields[1]), float(fields[2]), int(fields[3])
    return running, hertz, uncertainty, samples, printed


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build", help="build directory holding rk350-capture and bench/rk350_frequency_check")
    parser.add_argument("--repeat", default="9:20", help="CASE:COUNT, the case captured again COUNT times")
    args = parser.parse_args()
    rate_of = lambda s: re.search(r"--rate (\S+)", s)
    with tempfile.TemporaryDirectory() as tmp:
        csv = os.path.join(tmp, "c.csv")
        print("| # | capture settings | periods | running Hz | estimate Hz | error ppm | uncertainty ppm | printed |")
        print("|---|---|---|---|---|---|---|---|")
        worst = 0.0
        for i, settings in enumerate(CASES, 1):
            running, hertz, unc, samples, printed = capture(args.build, settings, csv)
            rate = rate_of(settings)
            rate = float(rate.group(1).replace("M", "e6").replace("k", "e3")) if rate else 1e6
            error = (hertz / running - 1) * 1e6
            worst = max(worst, abs(error))
            print("| %d | `%s` | %.1f | %.4f | %.4f | %+.1f | %.1f | %s |" % (
                i, settings, samples * running / rate, running, hertz, error, unc / running * 1e6, printed))
        print("\nworst error %.1f ppm" % worst)
        case, count = (int(x) for x in args.repeat.split(":"))
        errors, uncs = [], []
        for _ in range(count):
            running, hertz, unc, _, _ = capture(args.build, CASES[case - 1], csv)
            errors.append((hertz / running - 1) * 1e6)
            uncs.append(unc / running * 1e6)
        print("case %d captured %d times: errors (ppm) %s" % (case, count, " ".join("%+.1f" % e for e in errors)))
        print("  mean %+.1f, standard deviation %.1f, largest %.1f; uncertainty (3 sd) %.0f .. %.0f ppm" % (
            statistics.mean(errors), statistics.pstdev(errors), max(abs(e) for e in errors), min(uncs), max(uncs)))


if __name__ == "__main__":
    sys.exit(main())
