#!/usr/bin/env python3
"""The recorder's figures on the virtual card: rk350-capture --continuous
--record for a while, per kind of record,

- records per second and MB/s written, against the engine's bound of one
  record per two ticks of its 6 ms timer (83.3 records/s); a record that
  takes longer on the card (5000 samples at 100 kHz: 50 ms) lowers the bound;
- records lost (the queue was full: the disk did not keep up); with none
  lost the recorder took every record the engine finished;
- the tool's CPU use (user + system time over wall time);
- the tool's resident memory (VmRSS) at the start, the middle and the end,
  and the largest seen, sampled every second.

    bench/recording_figures.py build/release/rk350-capture [--seconds 60] [--only NAME] [--dir DIR]

Every figure is measured here and now; on a machine shared with builds, run it
a few times. The recordings are written to DIR (a temporary directory by
default) and removed afterwards.
"""
import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

BOUND = 1 / (2 * 0.006)  # records per second: one record per two ticks of the 6 ms timer

KINDS = {
    "1000 samples, card trigger": ["--samples", "1000", "--card-trigger"],
    "1000 samples, software trigger": ["--samples", "1000"],
    "2 x 65520 samples, card trigger": ["--samples", "65520", "--rate", "50M", "--card-trigger",
                                        "--gen-freq", "100k"],
    "5000 samples at 100 kHz, software trigger": ["--samples", "5000", "--rate", "100k", "--gen-freq", "200"],
}


def rss_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
    except OSError:
        return None
    return None


TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
    except OSError:
        return None
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime + stime


def record(capture, options, seconds, directory):
    path = os.path.join(directory, "bench.h5")
    tool = subprocess.Popen([capture, "--quiet", "--continuous", "--record", path, "--duration", "%gs" % seconds]
                            + options, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    samples = []
    cpu = 0.0
    while tool.poll() is None:
        kib = rss_kib(tool.pid)
        if kib:
            samples.append(kib)
        cpu = cpu_seconds(tool.pid) or cpu
        time.sleep(1)
    out, err = tool.communicate()
    found = re.search(r"recorded (\d+) records, ([\d.]+) MB, (\d+) lost in ([\d.]+) s", out)
    for name in os.listdir(directory):
        os.remove(os.path.join(directory, name))
    if not found:
        sys.exit("rk350-capture did not record: " + out + err)
    records, megabytes, lost, elapsed = int(found[1]), float(found[2]), int(found[3]), float(found[4])
    return records, megabytes, lost, elapsed, samples, cpu


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("capture")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--only", help="run the kinds whose name contains this")
    parser.add_argument("--dir", help="where the recordings go (removed afterwards)")
    args = parser.parse_args()
    directory = args.dir or tempfile.mkdtemp(prefix="rk350-recording-bench-")
    os.makedirs(directory, exist_ok=True)
    print("machine: %d processors, load average %.1f %.1f %.1f" % ((os.cpu_count(),) + os.getloadavg()))
    print("| record | recorded | of the bound (83.3/s) | MB/s | lost | CPU | RSS start / middle / end (largest), MiB |")
    print("|---|---|---|---|---|---|---|")
    try:
        for name, options in KINDS.items():
            if args.only and args.only not in name:
                continue
            records, megabytes, lost, elapsed, rss, cpu = record(args.capture, options, args.seconds, directory)
            rate = records / elapsed
            mib = [k / 1024 for k in rss[1:]] or [float("nan")]  # the first sample: before the card was set up
            print("| %s | %.1f/s (%d in %.0f s) | %.0f %% | %.2f | %d | %.0f %% | %.1f / %.1f / %.1f (%.1f) |"
                  % (name, rate, records, elapsed, 100 * rate / BOUND, megabytes / elapsed, lost,
                     100 * cpu / elapsed, mib[0], mib[len(mib) // 2], mib[-1], max(mib)), flush=True)
    finally:
        if not args.dir:
            shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    main()
