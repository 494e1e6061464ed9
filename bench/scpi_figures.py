#!/usr/bin/env python3
"""The scope's SCPI figures on the virtual card:

- `lxi benchmark --raw -c 1000` requests per second (it asks *IDN?);
- `:WAV:DATA?` of both channels of a 65,520-sample record (BYTE, then WORD),
  against the same bytes sent by a bare loopback socket server in the same
  run, to the same client code (median of the repetitions);
- records per second through `:SINGle;*OPC?` and `:WAV:DATA?` of both
  channels, against the capture tool's continuous rate with the same
  settings (the capture tool's rate from two runs of different length, so
  start-up and file writing cancel).

    bench/scpi_figures.py build/release/rk350-scope build/release/rk350-capture [--repeat 30] [--records 100]

Every figure is measured here and now; on a machine shared with builds, run it
a few times. Only loopback addresses are used.
"""
import argparse
import os
import re
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "scope"))

from scope_client import Scope  # noqa: E402

# The settings of the record-rate comparison, as capture-tool options.
RATE_SETTINGS = [["--samples", "5000", "--rate", "1M"], ["--samples", "65520", "--rate", "10M"]]


class Client:
    """A raw SCPI client that reads definite-length blocks."""

    def __init__(self, port):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout=60)
        self.socket.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        self.buffer = bytearray()

    def _fill(self, n):
        while len(self.buffer) < n:
            chunk = self.socket.recv(1 << 20)
            if not chunk:
                raise ConnectionError("closed")
            self.buffer += chunk

    def _take(self, n):
        self._fill(n)
        data = bytes(self.buffer[:n])
        del self.buffer[:n]
        return data

    def send(self, text):
        self.socket.sendall(text.encode() + b"\n")

    def line(self):
        while b"\n" not in self.buffer:
            self._fill(len(self.buffer) + 1)
        end = self.buffer.index(b"\n")
        return self._take(end + 1)[:-1].decode()

    def blocks(self, count):
        """`count` blocks answered in one message (separated by ';'), then its newline."""
        out = []
        for i in range(count):
            assert self._take(1) == b"#"
            digits = int(self._take(1))
            out.append(self._take(int(self._take(digits))))
            assert self._take(1) == (b";" if i + 1 < count else b"\n")
        return out

    def close(self):
        self.socket.close()


def bare_server(payload):
    """A loopback server that answers every line with `payload`."""
    listener = socket.create_server(("127.0.0.1", 0))

    def serve():
        connection, _ = listener.accept()
        connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        with connection:
            pending = b""
            while True:
                data = connection.recv(4096)
                if not data:
                    return
                pending += data
                while b"\n" in pending:
                    _, pending = pending.split(b"\n", 1)
                    connection.sendall(payload)

    threading.Thread(target=serve, daemon=True).start()
    return listener.getsockname()[1]


def lxi_benchmark(port, count):
    result = subprocess.run(["lxi", "benchmark", "--raw", "-a", "127.0.0.1", "-p", str(port), "-c", str(count)],
                            capture_output=True, text=True, timeout=600)
    found = re.search(r"([\d.]+)\s*requests/second", result.stdout)
    return float(found.group(1)) if found else result.stdout.strip()


def transfer_times(ports, query, blocks, repeat):
    """Per port: median and best seconds of `query`; the ports take turns, so
    a burst of load on this shared machine falls on both alike."""
    clients = [Client(port) for port in ports]
    try:
        times = [[] for _ in ports]
        size = 0
        for _ in range(repeat + 1):
            for client, spent in zip(clients, times):
                start = time.perf_counter()
                client.send(query)
                size = sum(len(b) for b in client.blocks(blocks))
                spent.append(time.perf_counter() - start)
        return [(statistics.median(t[1:]), min(t[1:])) for t in times], size
    finally:
        for client in clients:
            client.close()


def waveform_figures(scope, repeat):
    client = Client(scope.scpi_port)
    client.send(":CHAN1:DISP ON;:CHAN2:DISP ON;:ACQ:POIN 65520;:ACQ:SRAT 10MHz;:SING;*OPC?")
    assert client.line() == "1"
    for form in ("BYTE", "WORD"):
        client.send(":WAV:FORM %s;:WAV:SOUR CHAN1;:WAV:DATA?;:WAV:SOUR CHAN2;:WAV:DATA?" % form)
        a, b = client.blocks(2)
        payload = b"#6%06d" % len(a) + a + b";" + b"#6%06d" % len(b) + b + b"\n"
        query = ":WAV:FORM %s;:WAV:SOUR CHAN1;:WAV:DATA?;:WAV:SOUR CHAN2;:WAV:DATA?" % form
        ((scpi, scpi_best), (bare, bare_best)), size = transfer_times([scope.scpi_port, bare_server(payload)], query,
                                                                      2, repeat)
        print("  :WAV:DATA? %s, 2 x 65,520 samples (%d bytes held): median %.2f ms, bare socket %.2f ms, ratio %.2f;"
              " best %.2f ms, bare %.2f ms, ratio %.2f"
              % (form, size, scpi * 1e3, bare * 1e3, scpi / bare, scpi_best * 1e3, bare_best * 1e3,
                 scpi_best / bare_best))
    client.close()


def scpi_record_rate(scope, settings, records):
    client = Client(scope.scpi_port)
    samples, rate = settings[1], settings[3]
    client.send("*RST;:CHAN2:DISP ON;:ACQ:POIN %s;:ACQ:SRAT %sHz;:WAV:FORM BYTE;:STOP;*OPC?" % (samples, rate))
    assert client.line() == "1"
    client.send(":SYST:ERR?")
    error = client.line()
    assert error.startswith("0,"), error
    start = time.perf_counter()
    for _ in range(records):
        client.send(":SING;*OPC?")
        assert client.line() == "1"
        client.send(":WAV:SOUR CHAN1;:WAV:DATA?;:WAV:SOUR CHAN2;:WAV:DATA?")
        client.blocks(2)
    elapsed = time.perf_counter() - start
    client.close()
    return records / elapsed


def capture_rate(capture, settings, records):
    def run(count):
        with tempfile.TemporaryDirectory() as directory:
            start = time.perf_counter()
            subprocess.run([capture, "--continuous", "--count", str(count), "--quiet", "--output",
                            os.path.join(directory, "c"), *settings], check=True, capture_output=True, timeout=600)
            return time.perf_counter() - start

    short, long = run(max(2, records // 5)), run(records + max(2, records // 5))
    return records / (long - short)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("scope")
    parser.add_argument("capture")
    parser.add_argument("--repeat", type=int, default=30)
    parser.add_argument("--records", type=int, default=100)
    parser.add_argument("--requests", type=int, default=1000)
    args = parser.parse_args()
    os.environ["RK350_SCOPE"] = args.scope
    print("load average %.1f" % os.getloadavg()[0])
    scope = Scope("--samples", "65520", "--rate", "10M")
    try:
        print("lxi benchmark --raw -c %d: %s requests/s" % (args.requests, lxi_benchmark(scope.scpi_port, args.requests)))
        waveform_figures(scope, args.repeat)
        for settings in RATE_SETTINGS:
            scpi = scpi_record_rate(scope, settings, args.records)
            tool = capture_rate(args.capture, settings, args.records)
            print("  records/s, both channels, %s: SCPI :SING;*OPC? + :WAV:DATA? %.1f; capture tool continuous %.1f; "
                  "ratio %.2f" % (" ".join(settings), scpi, tool, scpi / tool))
    finally:
        scope.close()


if __name__ == "__main__":
    main()
