#!/usr/bin/env python3
"""The scope's recording on the virtual card: the records per second the
scope shows (`:WAVeform:SEQuence?` over a while) without a recording and
while one runs, and what the recording wrote (records, lost, bytes), read
through SCPI.

    bench/scope_recording_figures.py build/release/rk350-scope [--seconds 10] [scope options ...]

e.g. `--samples 65520 --rate 50M`. Every figure is measured here and now; on a
machine shared with builds, run it a few times. The recording is written to a
temporary directory and removed afterwards.
"""
import argparse
import shutil
import socket
import subprocess
import tempfile
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("scope")
    parser.add_argument("--seconds", type=float, default=10.0)
    arguments, scope_options = parser.parse_known_args()
    directory = tempfile.mkdtemp(prefix="rk350-scope-recording-")
    scope = subprocess.Popen([arguments.scope, "--port", "0", "--scpi-port", "0", "--no-vxi11", "--record-dir",
                              directory, *scope_options], stdout=subprocess.PIPE, text=True)
    try:
        scope.stdout.readline()  # the page's address
        port = int(scope.stdout.readline().rsplit(":", 1)[1])
        connection = socket.create_connection(("127.0.0.1", port), timeout=60)
        lines = connection.makefile("rwb")

        def query(text):
            lines.write((text + "\n").encode())
            lines.flush()
            return lines.readline().decode().strip()

        def shown_per_second(wait):
            first, start = int(query(":WAV:SEQ?")), time.monotonic()
            wait()
            return (int(query(":WAV:SEQ?")) - first) / (time.monotonic() - start)

        time.sleep(1)
        idle = shown_per_second(lambda: time.sleep(arguments.seconds))

        def record():
            lines.write(b':REC:STAR "figures.h5",0,%g\n' % arguments.seconds)
            lines.flush()
            while query(":REC:STAT?") == "1":
                time.sleep(0.2)
        recording = shown_per_second(record)
        print("%s: %.1f records/s shown without a recording, %.1f while recording; %s s recorded: %s records, "
              "%s lost, %.1f MB" % (" ".join(scope_options) or "default settings", idle, recording, arguments.seconds,
                                     query(":REC:COUN?"), query(":REC:LOST?"), int(query(":REC:SIZE?")) / 1e6))
    finally:
        scope.terminate()
        scope.wait()
        shutil.rmtree(directory, ignore_errors=True)


if __name__ == "__main__":
    main()
