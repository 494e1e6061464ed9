#!/usr/bin/env python3
"""The SCPI server under many real clients, on the virtual card:

- CLIENTS connections each loop `:SING;*OPC?` then `:WAV:SEQ?;:WAV:DATA?`
  (ASCII) for SECONDS, while a page client posts a new trigger level every
  50 ms (--post-every); every "1" must be followed by a record published after that
  client's :SINGle (its sequence above every sequence any client had seen
  before the :SINGle was sent), every "0" by a -221 in its error queue;
- the scope's resident memory, sampled every half second;
- a lock holder that goes silent: the time until the page may change the
  settings again (the lock lapses after --scpi-lock-idle).

    bench/scpi_load.py build/release/rk350-scope [--clients 100] [--seconds 60] [--lock-idle 10] [--post-every 0.05]

Every figure is measured here and now; only loopback addresses are used.
"""
import argparse
import os
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "scope"))

from scope_client import Scope  # noqa: E402
from scpi_client import RawScpi  # noqa: E402


def rss_mib(pid):
    with open("/proc/%d/status" % pid) as status:
        return next(int(line.split()[1]) for line in status if line.startswith("VmRSS:")) / 1024


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scope")
    parser.add_argument("--clients", type=int, default=100)
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--lock-idle", type=float, default=10)
    parser.add_argument("--samples", type=int, default=2000)
    parser.add_argument("--post-every", type=float, default=0.05, help="seconds between page posts; 0: none")
    args = parser.parse_args()
    os.environ["RK350_SCOPE"] = args.scope
    scope = Scope("--scpi-lock-idle", str(args.lock_idle))
    pid = scope.process.pid
    scope.post({"samples": args.samples})
    lock = threading.Lock()
    seen = [0]  # the highest sequence any client read
    figures = {"own": 0, "refused": 0, "older": 0, "wrong": 0, "client errors": 0, "posts": 0}
    stop = threading.Event()

    def client_loop():
        try:
            client = RawScpi(scope.scpi_port)
            client.socket.settimeout(120)
            client.send(":WAV:FORM ASC")
            while not stop.is_set():
                with lock:
                    before = seen[0]
                done = client.query(":SING;*OPC?")
                if done == "1":
                    sequence, data = client.query(":WAV:SEQ?;:WAV:DATA?").split(";", 1)
                    with lock:
                        seen[0] = max(seen[0], int(sequence))
                        figures["own" if int(sequence) > before else "older"] += 1
                        if len(data.split(",")) != args.samples:
                            figures["wrong"] += 1
                else:
                    errors = client.errors()
                    with lock:
                        ok = done == "0" and [c for c, _ in errors] == [-221]
                        figures["refused" if ok else "wrong"] += 1
            client.close()
        except (OSError, AssertionError, ValueError) as e:
            with lock:
                figures["client errors"] += 1
            print("client:", repr(e), file=sys.stderr)

    def page_loop():
        level = 0
        while args.post_every > 0 and not stop.is_set():
            level = (level + 1) % 5
            scope.post({"trigger": {"level": level * 0.05}})
            with lock:
                figures["posts"] += 1
            time.sleep(args.post_every)

    peak = [rss_mib(pid)]
    start_rss = peak[0]

    def memory_loop():
        while not stop.is_set():
            peak[0] = max(peak[0], rss_mib(pid))
            time.sleep(0.5)

    threads = [threading.Thread(target=client_loop) for _ in range(args.clients)]
    threads += [threading.Thread(target=page_loop), threading.Thread(target=memory_loop)]
    started = time.monotonic()
    for t in threads:
        t.start()
    time.sleep(args.seconds)
    stop.set()
    for t in threads:
        t.join(180)
    elapsed = time.monotonic() - started
    hung = sum(t.is_alive() for t in threads)

    # A lock holder that goes silent.
    holder = RawScpi(scope.scpi_port)
    assert holder.query(":SYST:LOCK ON;:SYST:LOCK?") == "1"
    took = time.monotonic()
    while scope.post({"trigger": {"level": 0.0}})[0] != 200:
        time.sleep(0.1)
    released = time.monotonic() - took
    holder.close()
    status = scope.close()

    answered = figures["own"] + figures["refused"]
    print("clients %d, %.1f s: %d loops answered (%.1f a second): %d with the client's own record, "
          "%d refused with -221, %d older records, %d malformed, %d clients failed, %d threads hung"
          % (args.clients, elapsed, answered, answered / elapsed, figures["own"], figures["refused"],
             figures["older"], figures["wrong"], figures["client errors"], hung))
    print("page posts meanwhile: %d" % figures["posts"])
    print("scope memory: %.0f MiB before, %.0f MiB at most" % (start_rss, peak[0]))
    print("silent lock holder (--scpi-lock-idle %g): the page could change the settings after %.1f s"
          % (args.lock_idle, released))
    print("scope's exit status: %d" % status)
    return 0 if figures["older"] == 0 and figures["wrong"] == 0 and hung == 0 and status == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
