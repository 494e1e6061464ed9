#!/usr/bin/env python3
"""The scope's figures on the virtual card, 5,000 samples x 2 channels at 1 MHz:

- records per second delivered to a client of the stream, and drawn by the
  page in headless Chromium;
- the time from a settings change (the POST leaves) to the first streamed
  record taken with it (median, 90th percentile, largest);
- the server's CPU use (user + system time of its process over wall time)
  while stopped with no client, and while streaming to one client.

    bench/scope_figures.py build/release/rk350-scope [--seconds 10] [--changes 30] [--no-browser]

Every figure is measured here and now; on a machine shared with builds, run it
a few times. Only loopback addresses are used.
"""
import argparse
import os
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "scope"))

from scope_client import Scope  # noqa: E402

TICKS = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICKS  # utime + stime


def cpu_share(pid, seconds, during=None):
    start_cpu, start = cpu_seconds(pid), time.monotonic()
    result = during(seconds) if during else time.sleep(seconds)
    return (cpu_seconds(pid) - start_cpu) / (time.monotonic() - start), result


def stream_rate(scope, seconds):
    stream = scope.stream()
    try:
        stream.next_frame()
        count, start = 0, time.monotonic()
        while time.monotonic() - start < seconds:
            stream.next_frame()
            count += 1
        return count / (time.monotonic() - start)
    finally:
        stream.close()


def change_latencies(scope, changes):
    stream = scope.stream()
    latencies = []
    try:
        stream.next_frame()
        for i in range(changes):
            start = time.perf_counter()
            status, state = scope.post({"generator": {"frequency": 1000 + 500 * (i % 2 + 1)}})
            assert status == 200, state
            stream.next_frame(state["version"])
            latencies.append(time.perf_counter() - start)
    finally:
        stream.close()
    return latencies


def page_rate(scope, seconds):
    from browser import Browser
    browser = Browser()
    try:
        browser.open(scope.url)
        browser.wait_for(lambda: int(browser.evaluate("document.body.dataset.frames || 0")) > 3, "drawn records")
        first, start = int(browser.evaluate("document.body.dataset.frames")), time.monotonic()
        time.sleep(seconds)
        return (int(browser.evaluate("document.body.dataset.frames")) - first) / (time.monotonic() - start)
    finally:
        browser.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("scope", help="the rk350-scope program (a Release build)")
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--changes", type=int, default=30)
    parser.add_argument("--no-browser", action="store_true", help="leave out the page's drawing rate")
    arguments = parser.parse_args()
    os.environ["RK350_SCOPE"] = os.path.abspath(arguments.scope)

    scope = Scope("--rate", "1M", "--samples", "5000", "--channels", "12", "--ch2-source", "square:0.5:250")
    try:
        pid = scope.process.pid
        print("5000 samples x 2 channels at 1 MHz on the virtual card, %.0f s per figure" % arguments.seconds)
        share, rate = cpu_share(pid, arguments.seconds, lambda s: stream_rate(scope, s))
        print("stream: %.1f records/s to one client; server CPU while streaming: %.0f %% of one core"
              % (rate, 100 * share))
        if not arguments.no_browser:
            print("page (headless Chromium): %.1f records/s drawn" % page_rate(scope, arguments.seconds))
        latencies = sorted(change_latencies(scope, arguments.changes))
        print("setting change to the first record taken with it (%d changes): median %.1f ms, 90th percentile "
              "%.1f ms, largest %.1f ms" % (len(latencies), 1e3 * statistics.median(latencies),
                                            1e3 * latencies[int(0.9 * (len(latencies) - 1))], 1e3 * latencies[-1]))
        share, _ = cpu_share(pid, arguments.seconds)
        print("server CPU running with no client: %.0f %% of one core" % (100 * share))
        assert scope.post({"acquisition": "stop"})[0] == 200
        share, _ = cpu_share(pid, arguments.seconds)
        print("server CPU stopped, no client (idle): %.1f %% of one core" % (100 * share))
    finally:
        scope.close()


if __name__ == "__main__":
    main()
