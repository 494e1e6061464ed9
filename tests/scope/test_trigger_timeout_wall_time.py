"""The trigger time-out is wall time on every surface that runs the library's
timer engine: a DC input that never crosses the level gives a record forced
after the time-out (plus the pre-trigger part), not after the engine's ticks
(which ran about eight times faster)."""
import os
import subprocess
import time

import pytest

from scope_client import Scope, DEADLINE
from scpi_client import RawScpi

SECONDS = 1.5
PRE = 1250 / 1e6  # the default record: 5000 samples at 1 MHz, 25 % before the trigger
SLACK = 1.0       # per record: the host's polling and the record's own time, on a loaded machine
NO_CROSSING = ("--ch1-source", "dc:0.2", "--trigger-level", "0.5")


def assert_forced_after(elapsed, records=1):
    assert records * (SECONDS + PRE) <= elapsed < records * (SECONDS + PRE + SLACK), elapsed


def test_capture_tool_continuous():
    start = time.monotonic()
    run = subprocess.run([os.environ["RK350_CAPTURE"], "--continuous", "--count", "2", "--trigger-timeout", "1.5s",
                          "--quiet", "--output", "-", *NO_CROSSING],
                         capture_output=True, text=True, timeout=DEADLINE)
    assert run.returncode == 0, run.stderr
    assert_forced_after(time.monotonic() - start, records=2)
    assert "# taken: forced: no trigger within the time-out" in run.stdout


@pytest.fixture
def dc_scope():
    server = Scope(*NO_CROSSING)
    yield server
    assert server.close() == 0


def test_scope_scpi_single(dc_scope):
    scpi = RawScpi(dc_scope.scpi_port)
    try:
        assert scpi.query(":TRIG:TIM %g;*OPC?" % SECONDS) == "1"
        start = time.monotonic()
        assert scpi.query(":SING;*OPC?") == "1"
        assert_forced_after(time.monotonic() - start)
        assert scpi.query(":TRIG:STAT?") == "FORC"
        assert scpi.errors() == []
    finally:
        scpi.close()


def test_scope_page_settings_continuous(dc_scope):
    stream = dc_scope.stream()
    try:
        status, state = dc_scope.post({"trigger": {"timeout": "%gs" % SECONDS}})  # text as the command line takes it
        assert status == 200, state
        assert state["settings"]["trigger"]["timeout"] == SECONDS * 1000  # the JSON's unit: milliseconds
        stream.next_frame(state["version"])  # the first record of the new settings starts the clock
        start = time.monotonic()
        frame = stream.next_frame(state["version"])
        assert_forced_after(time.monotonic() - start)
        assert frame["taken"].startswith("forced"), frame["taken"]
    finally:
        stream.close()
