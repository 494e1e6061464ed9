#!/usr/bin/env python3
"""The scope under load, on loopback, on the virtual card:

- the time a settings request takes (the POST leaves to the answer read)
  with nothing else open, and with 50 streams and 16 connections that
  trickle their headers open (median, 90th percentile, largest);
- the server's resident memory (VmRSS, and its peak VmHWM) before and after
  a 10 MB and a 200 MB chunked body, a 200 MB body with a length, and
  200 MB of headers.

    bench/scope_guard_figures.py build/release/rk350-scope [--posts 50]

Every figure is measured here and now; on a machine shared with builds, run
it a few times.
"""
import argparse
import os
import socket
import statistics
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "scope"))

from scope_client import Scope  # noqa: E402
from test_scope_guards import Drain, SlowHeaders, open_stream  # noqa: E402


def latencies(scope, posts):
    times = []
    for i in range(posts):
        start = time.monotonic()
        status, _ = scope.post({"generator": {"frequency": 1000 + i}})
        times.append(1000 * (time.monotonic() - start))
        assert status == 200
    times.sort()
    return "median %.1f ms, 90th percentile %.1f ms, largest %.1f ms" % (
        statistics.median(times), times[int(0.9 * len(times))], times[-1])


def memory(pid):
    with open("/proc/%d/status" % pid) as f:
        fields = dict(line.split(":", 1) for line in f)
    return "RSS %s, peak %s" % (fields["VmRSS"].strip(), fields["VmHWM"].strip())


def send_and_answer(scope, head, body_parts):
    """Sends the head, then the parts until the server stops taking them;
    the answer's status line, or how the connection ended."""
    s = socket.create_connection((scope.host, scope.port), timeout=30)
    sent = 0
    try:
        s.sendall(head)
        for part in body_parts:
            s.sendall(part)
            sent += len(part)
    except OSError as e:
        ended = type(e).__name__
    else:
        ended = "all sent"
    try:
        answer = s.recv(4096).split(b"\r\n", 1)[0].decode() or "closed"
    except OSError as e:
        answer = type(e).__name__
    s.close()
    return "%s after %.1f MB (%s)" % (answer, sent / 1e6, ended)


def big(scope, kind, megabytes):
    host = b"Host: %s:%d\r\n" % (scope.host.encode(), scope.port)
    block = b" " * 65536
    count = megabytes * 16
    if kind == "chunked":
        head = b"POST /api/settings HTTP/1.1\r\n" + host + b"Content-Type: application/json\r\n" \
               b"Transfer-Encoding: chunked\r\n\r\n"
        parts = (b"10000\r\n" + block + b"\r\n" for _ in range(count))
    elif kind == "length":
        head = b"POST /api/settings HTTP/1.1\r\n" + host + b"Content-Type: application/json\r\n" \
               b"Content-Length: %d\r\n\r\n" % (count * len(block))
        parts = (block for _ in range(count))
    else:
        head = b"GET /api/settings HTTP/1.1\r\n" + host
        parts = (b"X-Filler: " + b"h" * 1000 + b"\r\n" for _ in range(megabytes * 1000))
    return send_and_answer(scope, head, parts)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scope")
    parser.add_argument("--posts", type=int, default=50)
    args = parser.parse_args()
    os.environ["RK350_SCOPE"] = os.path.abspath(args.scope)
    scope = Scope()
    try:
        pid = scope.process.pid
        print("settings request, nothing else open: " + latencies(scope, args.posts))
        streams = [open_stream(scope) for _ in range(50)]
        drain = Drain(s for s, _ in streams)
        slow = SlowHeaders(scope, 16)
        try:
            print("settings request, 50 streams and 16 slow heads open: " + latencies(scope, args.posts))
        finally:
            slow.close()
            drain.close()
            for s, _ in streams:
                s.close()
        time.sleep(1)
        print("memory at rest: " + memory(pid))
        for kind, megabytes in [("chunked", 10), ("chunked", 200), ("length", 200), ("headers", 200)]:
            outcome = big(scope, kind, megabytes)
            print("%d MB %s: %s; then %s" % (megabytes, kind, outcome, memory(pid)))
    finally:
        scope.close()


if __name__ == "__main__":
    main()
