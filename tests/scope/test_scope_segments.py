"""The records the scope keeps (--history N): read back one by one through
pyvisa's pure-Python backend (:WAVeform:SEGMent) and over /api/history, each
the record its sequence number names; one that fell out is an error, never
another record. Loopback only, every wait bounded."""
import csv
import io
import os
import subprocess
import time

import pytest
import pyvisa

from scope_client import DEADLINE, Scope, eventually
from scpi_client import RawScpi, error_queue


def open_visa(scope):
    manager = pyvisa.ResourceManager("@py")
    instrument = manager.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % scope.scpi_port,
                                       read_termination="\n", write_termination="\n", timeout=DEADLINE * 1000)
    return manager, instrument


def errors(instrument):
    return error_queue(instrument.query)


def kept_span(instrument):
    return tuple(int(v) for v in instrument.query(":ACQ:SEGM:RANG?").split(","))


@pytest.fixture
def kept():
    """A scope keeping 20 records, with all 20 taken, stopped; and a pyvisa session to it."""
    scope = Scope("--history", "20")
    manager, visa = open_visa(scope)
    visa.write(":CHAN2:DISP ON;:ACQ:POIN 2000;:TRIG:SOUR NONE")  # free run: each record at another phase
    version = scope.settings()["version"]
    eventually(lambda: int(visa.query(":ACQ:SEGM:COUN?")) == 20
               and scope.request("GET", "/api/history")[1]["records"][0]["settingsVersion"] >= version,
               "20 records of the new settings kept")
    visa.write(":STOP")
    yield scope, visa
    visa.close()
    manager.close()
    assert scope.close() == 0


def test_each_kept_record_reads_back_by_its_sequence_number(kept):
    scope, visa = kept
    oldest, newest = kept_span(visa)
    assert newest - oldest + 1 == 20 == int(visa.query(":ACQ:SEGM:COUN?"))
    status, history = scope.request("GET", "/api/history")
    assert status == 200 and history["capacity"] == 20 and history["limit"] == 1000
    listed = history["records"]
    assert [r["sequence"] for r in listed] == list(range(oldest, newest + 1))  # oldest first, none missing
    before = time.time()
    assert all(before - 120 < r["hostTime"] <= before for r in listed)
    assert all(a["hostTime"] <= b["hostTime"] for a, b in zip(listed, listed[1:]))

    seen = set()
    for entry in (listed[0], listed[7], listed[-1]):
        n = entry["sequence"]
        visa.write(":WAV:SEGM %d" % n)
        assert visa.query(":WAV:SEGM?") == str(n)
        assert visa.query(":WAV:SEQ?") == str(n)
        assert float(visa.query(":WAV:SEGM:TIME?")) == pytest.approx(entry["hostTime"], abs=1e-5)
        status_word = visa.query(":WAV:SEGM:STAT?")
        assert status_word == {"triggered": "TRIG", "forced": "FORC", "free run": "FREE", "unknown": "UNKN"}[
            entry["status"]] == visa.query(":TRIG:STAT?")
        code, record = scope.request("GET", "/api/history/record?sequence=%d" % n)
        assert code == 200 and record["sequence"] == n
        assert record["hostTime"] == pytest.approx(entry["hostTime"], abs=1e-5)
        for channel in (1, 2):
            visa.write(":WAV:SOUR CHAN%d;:WAV:FORM BYTE" % channel)
            preamble = [float(v) for v in visa.query(":WAV:PRE?").split(",")]
            yinc, yref = preamble[7], preamble[9]
            codes = visa.query_binary_values(":WAV:DATA?", datatype="B", container=list)
            trace = record["channels"][channel - 1]
            first, count = trace["held"]
            assert len(codes) == count
            expected = trace["volts"][first:first + count]
            assert [(c - yref) * yinc for c in codes] == pytest.approx(expected, abs=yinc / 2 + 1e-12)
            seen.add(tuple(codes))
        # The page's download of that record holds the same volts.
        code, data = scope.request("GET", "/api/record.csv?sequence=%d" % n)
        assert code == 200
        rows = [r for r in csv.reader(io.StringIO(data.decode())) if r and not r[0].startswith("#")]
        column = rows[0].index("CH1_V") if "CH1_V" in rows[0] else 1
        volts = [float(r[column]) for r in rows[1:] if r[column] not in ("", "nan", "NaN")]
        assert volts == pytest.approx([v for v in record["channels"][0]["volts"] if v is not None], abs=1e-9)
    assert len(seen) > 1, "the records read were all the same: the test would not tell one from another"
    assert errors(visa) == []
    # 0 reads the newest again.
    visa.write(":WAV:SEGM 0")
    assert visa.query(":WAV:SEGM?") == "0" and visa.query(":WAV:SEQ?") == str(newest)
    assert errors(visa) == []


def test_a_record_that_fell_out_is_an_error_not_another_record():
    scope = Scope("--history", "3")
    manager, visa = open_visa(scope)
    try:
        eventually(lambda: int(visa.query(":ACQ:SEGM:COUN?")) == 3, "three records kept")
        visa.write(":STOP")
        oldest, newest = kept_span(visa)
        visa.write(":WAV:SEGM %d" % newest)
        assert visa.query(":WAV:SEQ?") == str(newest)
        visa.write(":RUN")
        eventually(lambda: kept_span(visa)[0] > newest, "the selected record falling out")
        # Every record query now fails with -230 and answers nothing: a raw
        # socket sees that nothing came before the next answer.
        raw = RawScpi(scope.scpi_port)
        try:
            raw.send(":WAV:SEGM %d" % newest)
            assert raw.query(":SYST:ERR?").startswith("-222,")  # selecting it again is refused
        finally:
            raw.close()
        for query in (":WAV:DATA?", ":WAV:PRE?", ":WAV:SEQ?", ":WAV:SEGM:TIME?", ":WAV:SEGM:STAT?", ":MEAS:VPP?"):
            visa.write(query + ";*OPC?")  # the refusal drops the rest of the message
            visa.write("*IDN?")
            assert visa.read().startswith("RK350,"), query
            found = errors(visa)
            assert len(found) == 1 and found[0][0] == -230 and "record %d is no longer kept" % newest in found[0][1], \
                (query, found)
        assert visa.query(":WAV:SEGM?") == str(newest)  # the selection stays until changed
        code, answer = scope.request("GET", "/api/history/record?sequence=%d" % newest)
        assert code == 404 and "not kept" in answer["error"]
        code, _ = scope.request("GET", "/api/record.csv?sequence=%d" % newest)
        assert code == 404
        visa.write(":WAV:SEGM 0")
        assert int(visa.query(":WAV:SEQ?")) > newest
        assert errors(visa) == []
    finally:
        visa.close()
        manager.close()
        assert scope.close() == 0


def test_without_history_no_record_is_kept_and_the_choice_is_refused(scope):
    manager, visa = open_visa(scope)
    try:
        assert visa.query(":ACQ:SEGM:COUN?;:ACQ:SEGM:RANG?;:WAV:SEGM?") == "0;0,0;0"
        visa.write(":WAV:SEGM 1")
        found = errors(visa)
        assert len(found) == 1 and found[0][0] == -222 and "--history N" in found[0][1]
        for bad, code in (("-1", -224), ("2.5", -224), ("1e300", -224), ("CHAN1", -104), ("", -109)):
            visa.write(":WAV:SEGM %s" % bad)
            assert [c for c, _ in errors(visa)] == [code], bad
        assert visa.query(":WAV:SEGM?") == "0"
        assert int(visa.query(":WAV:SEQ?")) >= 1  # the newest, as before
        status, history = scope.request("GET", "/api/history")
        assert status == 200 and history == {"capacity": 0, "limit": 1000, "records": []}
        for query in ("sequence=1", "sequence=x", "sequence=0", "sequence=-1", ""):
            code, _ = scope.request("GET", "/api/history/record?" + query)
            assert code == (404 if query == "sequence=1" else 400), query
    finally:
        visa.close()
        manager.close()


@pytest.mark.parametrize("value", ["1001", "-1", "2.5", "lots"])
def test_a_history_beyond_the_cap_is_refused_at_start(value):
    run = subprocess.run([os.environ["RK350_SCOPE"], "--port", "0", "--no-scpi", "--history", value],
                         capture_output=True, text=True, timeout=DEADLINE)
    assert run.returncode == 1 and "--history: give 0 to 1000 records" in run.stderr, run.stderr
