"""The scope as a LAN instrument: SCPI over raw TCP, driven by the clients labs
use (pyvisa with its pure-Python backend, lxi-tools) and by a bare socket for
input no client would send."""
import csv
import io
import os
import subprocess
import threading
import time

import pytest

from avahi_daemon import PrivateAvahi
from scope_client import DEADLINE, Scope
from scpi_client import RawScpi, visa_errors, visa_socket


@pytest.fixture
def visa(scope):
    with visa_socket(scope.scpi_port) as instrument:
        yield instrument


errors = visa_errors


def csv_volts(scope, channel):
    """The shown record's volts of a channel from the page's CSV download."""
    status, data = scope.request("GET", "/api/record.csv")
    assert status == 200
    rows = [r for r in csv.reader(io.StringIO(data.decode())) if r and not r[0].startswith("#")]
    column = rows[0].index("CH%d_V" % channel) if "CH%d_V" % channel in rows[0] else 1 + (channel - 1)
    return [float(r[column]) if r[column] not in ("", "nan", "NaN") else None for r in rows[1:]]


def test_identity_and_settings_are_shared_with_the_page(scope, visa):
    identity = visa.query("*IDN?").split(",")
    assert identity[0] == "RK350" and identity[1] == "RK350 virtual card" and identity[2].isdigit()
    assert identity[3]  # the library's version

    # Long and short forms, any case, chained, with suffixes and units.
    visa.write(":channel1:range 4;:CHAN2:COUP AC;OFFS 100 mV;:trig:sour chan2;slop neg;lev 0.25V;:SOUR:FREQ 2.5kHz;"
               ":source:voltage 500mV;VOLT:OFFS 0.1;:FUNC SQU;:FUNC:SQU:DCYC 30%;:TRIG:TIM 0.5 s;:ACQ:POIN 8000")
    assert errors(visa) == []
    settings = scope.settings()["settings"]
    assert settings["ch1"]["range"] == 4
    assert settings["ch2"]["coupling"] == "ac" and settings["ch2"]["dcLevel"] == pytest.approx(0.1)
    assert settings["trigger"]["source"] == "ch2" and settings["trigger"]["slope"] == "falling"
    assert settings["trigger"]["level"] == 0.25 and settings["trigger"]["timeout"] == 500
    assert settings["generator"] == {**settings["generator"], "frequency": 2500, "amplitude": 0.5, "offset": 0.1,
                                     "type": "square", "symmetry": 30}
    assert settings["samples"] == 8000

    # The page's change shows over SCPI.
    status, _ = scope.post({"trigger": {"level": -0.125, "hysteresis": 0.05}, "ch1": {"on": False}})
    assert status == 200
    assert visa.query(":TRIG:LEV?;HYST?") == "-0.125;0.05"
    assert visa.query(":CHAN1:DISP?;:CHAN2:DISP?") == "0;1"
    assert visa.query(":TRIG:SOUR?;SLOP?;:FUNC?;:OUTP?;:CHAN2:COUP?") == "CHAN2;NEG;SQU;1;AC"
    visa.write(":TRIG:HYST DEF;:TRIG:TIM INF")
    assert visa.query(":TRIG:HYST?;TIM?") == "DEF;INF"
    visa.write("*RST")
    assert visa.query(":CHAN1:RANG?;:CHAN1:DISP?;:ACQ:POIN?;:FREQ?") == "2;1;5000;1000"

    # The common bench headers of an edge trigger are the same rows.
    visa.write(":TRIG:EDGE:SOUR CHAN2;:TRIGger:EDGE:SLOPe NEG;:TRIG:EDGE:LEV -0.5")
    assert visa.query(":TRIG:SOUR?;SLOP?;LEV?") == "CHAN2;NEG;-0.5"
    assert visa.query(":TRIG:EDGE:SOUR?;:TRIG:EDGE:SLOP?;:TRIG:EDGE:LEV?") == "CHAN2;NEG;-0.5"
    assert errors(visa) == []
    assert scope.settings()["settings"]["trigger"] == {**scope.settings()["settings"]["trigger"], "source": "ch2",
                                                      "slope": "falling", "level": -0.5}


@pytest.mark.parametrize("form, datatype, step", [("BYTE", "B", 128), ("WORD", "H", 32768)])
def test_waveform_blocks_hold_the_records_samples(scope, visa, form, datatype, step):
    visa.write(":CHAN2:DISP ON;:CHAN1:RANG 2;:SOUR:FREQ 2kHz;:ACQ:POIN 6000;:ACQ:PRET 20")
    assert visa.query(":SING;*OPC?") == "1"
    assert visa.query(":ACQ:STAT?") == "STOP"
    for channel in (1, 2):
        visa.write(":WAV:SOUR CHAN%d;:WAV:FORM %s" % (channel, form))
        preamble = [float(v) for v in visa.query(":WAV:PRE?").split(",")]
        form_code, kind, points, count, xinc, xorg, xref, yinc, yorg, yref = preamble
        assert (form_code, kind, count, xref, yorg, yref) == ({"BYTE": 0, "WORD": 1}[form], 0, 1, 0, 0, step)
        first, held = (int(v) for v in visa.query(":WAV:VAL?").split(","))
        assert points == held and xinc == 1e-6 and xorg == pytest.approx((first - 1200) * 1e-6)
        codes = visa.query_binary_values(":WAV:DATA?", datatype=datatype, is_big_endian=True, container=list)
        assert len(codes) == held
        volts = [(c - yref) * yinc + yorg for c in codes]
        library = csv_volts(scope, channel)
        assert len(library) == 6000
        assert all(v is None for v in library[:first] + library[first + held:])
        # Sample by sample: the 8-bit card's samples are whole codes, so both forms are exact.
        assert volts == library[first:first + held]
    assert errors(visa) == []


def test_ascii_waveform_and_measurements_match_the_page(scope, visa):
    visa.write(":SOUR:FREQ 5kHz;:SOUR:VOLT 0.75;:CHAN1:RANG 2;:WAV:SOUR CHAN1;:WAV:FORM ASC")
    assert visa.query(":DIG;*OPC?") == "1"
    status, record = scope.request("GET", "/api/record")
    assert status == 200
    block = visa.query(":WAV:DATA?")  # ASCii too comes as a definite-length block
    digits = int(block[1])
    assert block[0] == "#" and int(block[2:2 + digits]) == len(block) - 2 - digits
    values = [float(v) for v in block[2 + digits:].split(",")]
    first, held = record["channels"][0]["held"]
    assert values == record["channels"][0]["volts"][first:first + held]
    figures = record["channels"][0]["figures"]
    queries = {"FREQ": "frequency", "PER": "period", "VPP": "peakToPeak", "VMIN": "minimum", "VMAX": "maximum",
               "VAV": "mean", "VRMS": "rms", "VACR": "acRms", "DUTY": "dutyCycle", "RIS": "riseTime",
               "FALL": "fallTime", "OVER": "overshoot"}
    answers = visa.query(";".join(":MEAS:%s? CHAN1" % q for q in queries)).split(";")
    # SCPI gives each figure to the digits it holds: the frequency and the
    # period to the fit's uncertainty, the others to six significant digits.
    relative = figures["frequencyUncertainty"] / figures["frequency"]
    for (query, key), answer in zip(queries.items(), answers):
        expected = figures[key] if figures.get(key) is not None else 9.91e37
        within = relative * abs(expected) if key in ("frequency", "period") else 5e-6 * abs(expected)
        assert float(answer) == pytest.approx(expected, rel=0, abs=within), (query, answer, figures.get(key))
    assert float(answers[0]) == pytest.approx(5000, rel=1e-4)
    assert float(answers[1]) == pytest.approx(2e-4, rel=1e-4)
    # A DC input has no frequency: the standard's "not a number".
    scope.post({"ch2": {"on": True, "source": "dc:0:0:0.5"}})
    assert visa.query(":DIG;*OPC?") == "1"
    assert visa.query(":MEAS:FREQ? CHAN2") == "9.91E+37"
    assert float(visa.query(":MEAS:VAV? CHAN2")) == pytest.approx(0.5, abs=0.02)


def test_an_arbitrary_waveform_comes_as_a_block(scope, visa):
    visa.write(":FUNC ARB")
    assert visa.query(":SYST:ERR?").startswith("-222,")  # nothing loaded yet
    ramp = [i * 65535 // 999 for i in range(1000)]
    visa.write_binary_values(":SOUR:ARB:DATA ", ramp, datatype="H", is_big_endian=True)
    assert visa.query(":SYST:ERR?;:FUNC?;:ARB:POIN?") == '0,"No error";ARB;1000'
    assert scope.settings()["settings"]["generator"]["type"] == "arbitrary"
    # With a waveform, the frequency is the rate its samples are played at.
    visa.write(":FREQ 1MHz;:VOLT 1;:VOLT:OFFS 0;:CHAN1:RANG 2;:ACQ:SRAT 1MHz;:ACQ:POIN 5000;:DIG")
    assert float(visa.query(":MEAS:VMAX?")) == pytest.approx(1, abs=0.05)
    assert float(visa.query(":MEAS:VMIN?")) == pytest.approx(-1, abs=0.05)
    visa.write(":WAV:FORM WORD")
    codes = visa.query_binary_values(":WAV:DATA?", datatype="H", is_big_endian=True, container=list)
    rises = sum(b > a for a, b in zip(codes, codes[1:]))
    falls = sum(b < a for a, b in zip(codes, codes[1:]))
    assert rises > 20 * falls > 0, (rises, falls)  # a sawtooth: slow rises, a few steep falls
    # The page's other types leave the waveform loaded.
    assert visa.query(":FUNC SIN;:FUNC ARB;:FUNC?;:SYST:ERR?") == 'ARB;0,"No error"'


def test_lxi_tools_drive_it(scope):
    def lxi(command):
        result = subprocess.run(["lxi", "scpi", "--raw", "-t", "30", "-a", "127.0.0.1", "-p", str(scope.scpi_port), command],
                                capture_output=True, text=True, timeout=DEADLINE)
        assert result.returncode == 0, result.stderr
        return result.stdout.strip()

    assert lxi("*IDN?").startswith("RK350,")
    lxi(":SOURce:FREQuency 1234")
    # lxi sends a command and leaves without waiting: the scope applies it soon after.
    deadline = time.monotonic() + DEADLINE
    while scope.settings()["settings"]["generator"]["frequency"] != 1234:
        assert time.monotonic() < deadline, "the command sent by lxi was not applied"
        time.sleep(0.05)
    assert lxi(":SOUR:FREQ?") == "1234"


# (bytes sent, the error expected, the text it names)
BAD_INPUT = [
    (b":BOGus:HEADer 1\n", -113, "Undefined header"),
    (b":CHANnel3:RANGe 2\n", -114, "suffix out of range"),
    (b":CHAN1:RANG 2 Hz\n", -131, "Invalid suffix"),
    (b":CHAN1:RANG 2 parsecs\n", -131, "Invalid suffix"),
    (b":ACQ:POIN 5 V\n", -138, "Suffix not allowed"),
    (b":CHAN1:RANG 1e300\n", -222, "lies above the largest"),
    (b":ACQ:POIN 70000\n", -222, "SetRecordLength(70000)"),
    (b":ACQ:POIN 12.5\n", -222, "whole number"),
    (b":ACQ:COUN -1\n", -222, "average"),
    (b":SOUR:FREQ 0\n", -222, "SetFuncGenFrequency(0 Hz)"),
    (b":TRIG:SOUR FOO\n", -224, "CHAN1, CHAN2, EXT"),
    (b":TRIG:SOUR XOR\n", 4, "ResultNotAvailable"),
    (b":CHAN1:RANG\n", -109, "Missing parameter"),
    (b":CHAN1:RANG 2,3\n", -108, "Parameter not allowed"),
    (b":CHAN1:RANG ON\n", -104, "Data type error"),
    (b":CHAN1:RANG 'two'\n", -104, "Data type error"),
    (b":CHAN1:RANG 2 3\n", -103, "Invalid separator"),
    (b":CHAN1:RANG 'open\n", -151, "not closed"),
    (b":CHAN1:RANG 1e999\n", -123, "Exponent"),
    (b":SOUR:ARB:DATA #13abc\n", -222, "two bytes each"),
    (b":SOUR:ARB:DATA #10\n", -222, "two bytes each"),
    (b":SOUR:ARB:DATA 12\n", -104, "block"),
    (b"*IDN\n", -113, "query only"),
    (b":WAV:DATA\n", -113, "query only"),
    (b"A" * (1 << 20) + b"\n", -363, "Input buffer overrun"),
    (b":CHAN1:RANG #7" + b"2000000" + b"\n" * 2000000 + b"\n", -223, "Too much data"),
    (bytes(c for c in range(256) if c not in b"\n#\"'") + b"\n", -101, "Invalid character"),
    (b"\x00\xff\xfe:CHAN1:RANG 4\n", -101, "Invalid character"),
]


def test_bad_input_gets_its_error_and_loses_nothing(scope):
    client = RawScpi(scope.scpi_port)
    try:
        client.send(":CHAN1:RANG 4;:TRIG:LEV 0.5")
        assert client.errors() == []
        before = scope.settings()
        for data, code, words in BAD_INPUT:
            client.send(data)
            entries = client.errors()
            assert [c for c, _ in entries] == [code], (data[:40], entries)
            assert words in entries[0][1], (data[:40], entries)
            assert client.query("*IDN?").startswith("RK350,")
        # A block that stops short of its length is dropped after a pause, with its error.
        client.send(b":CHAN1:RANG #15ab\n")
        time.sleep(3)
        assert [c for c, _ in client.errors()] == [-160]
        assert scope.settings() == before, "a refused command changed a setting"
        # The command before a fault in the same message still runs.
        client.send(":TRIG:LEV 0.25;:BOGUS")
        assert [c for c, _ in client.errors()] == [-113]
        assert client.query(":TRIG:LEV?") == "0.25"
        # The queue holds its oldest entries and says it overflowed.
        for _ in range(40):
            client.send(":BOGUS")
        assert client.query(":SYST:ERR:COUN?") == "32"
        assert client.errors()[-1] == (-350, "Queue overflow")
        client.send("*ESE 32;*CLS")
        client.send(":BOGUS")
        assert int(client.query("*STB?")) & 0x24 == 0x24
        assert int(client.query("*ESR?")) & 32 == 32
    finally:
        client.close()


def test_clients_are_served_side_by_side(scope):
    holder, other = RawScpi(scope.scpi_port), RawScpi(scope.scpi_port)
    try:
        holder.send(":SYST:LOCK ON")
        assert holder.query(":SYST:LOCK?") == "1" and other.query(":SYST:LOCK?") == "0"
        other.send(":CHAN1:RANG 4")
        assert [c for c, _ in other.errors()] == [-203]
        other.send(":SYST:LOCK ON")
        assert [c for c, _ in other.errors()] == [-203]
        assert other.query(":CHAN1:RANG?") == "2"  # queries still answer
        assert holder.query(":CHAN1:RANG 0.8;*OPC?") == "1"
        assert other.query(":CHAN1:RANG?") == "0.8"
        holder.close()  # the lock goes with its connection
        deadline = time.monotonic() + DEADLINE
        # Until the scope has seen the close, the lock refuses (-203) and that error ends the message,
        # so the lock is asked for and read back in messages of their own.
        while True:
            other.send(":SYST:LOCK ON")
            if other.query(":SYST:LOCK?") == "1":
                break
            assert time.monotonic() < deadline
        # A client that asks for much and reads nothing holds only itself.
        hog = RawScpi(scope.scpi_port)
        hog.send(":WAV:FORM ASC;" + ";".join([":WAV:DATA?"] * 200))
        for _ in range(5):
            assert other.query("*IDN?").startswith("RK350,")
        assert scope.request("GET", "/api/settings")[0] == 200
        assert other.query(":TRIG:LEV 0.1;:TRIG:LEV?") == "0.1"
        hog.close()
    finally:
        other.close()


def test_port_options(scope):
    result = subprocess.run([scope.process.args[0], "--port", "0", "--scpi-port", str(scope.scpi_port)],
                            capture_output=True, text=True, timeout=DEADLINE)
    assert result.returncode == 3 and "cannot serve SCPI" in result.stderr
    for option, value in [("--scpi-idle", "0"), ("--scpi-lock-idle", "inf"), ("--scpi-idle", "1e6")]:
        result = subprocess.run([scope.process.args[0], option, value], capture_output=True, text=True,
                                timeout=DEADLINE)
        assert result.returncode == 1 and "1 to 86400 seconds" in result.stderr, (option, value, result.stderr)
    quiet = Scope("--no-scpi")
    try:
        assert quiet.scpi_port is None
    finally:
        assert quiet.close() == 0


def test_announce_without_a_daemon_says_so_and_serves_on(tmp_path):
    # A system bus that nobody serves: no Avahi daemon answers.
    environment = {**os.environ, "DBUS_SYSTEM_BUS_ADDRESS": "unix:path=%s" % (tmp_path / "no-bus")}
    process = subprocess.Popen([os.environ["RK350_SCOPE"], "--port", "0", "--scpi-port", "0", "--announce"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, env=environment)
    try:
        process.stdout.readline()
        port = int(process.stdout.readline().rsplit(":", 1)[1])
        client = RawScpi(port)
        assert client.query("*IDN?").startswith("RK350,")
        client.close()
    finally:
        process.terminate()
        _, errors = process.communicate(timeout=DEADLINE)
    assert process.returncode == 0
    assert "not announced over mDNS: no Avahi daemon answers" in errors, errors


def test_announced_services_are_found_by_avahi_browse(monkeypatch):
    with PrivateAvahi() as avahi:
        monkeypatch.setenv("DBUS_SYSTEM_BUS_ADDRESS", avahi.address)
        scope = Scope("--announce")
        try:
            found = {}
            deadline = time.monotonic() + DEADLINE
            # Another test run's daemon on the loopback interface may announce its scope too.
            while not (scope.scpi_port in found.get("_scpi-raw._tcp", ())
                       and scope.port in found.get("_http._tcp", ())):
                assert time.monotonic() < deadline, (scope.scpi_port, scope.port, found)
                for service in ("_scpi-raw._tcp", "_http._tcp"):
                    browsed = subprocess.run(["avahi-browse", "-rtp", service], capture_output=True, text=True,
                                             timeout=DEADLINE).stdout
                    # Resolved: =;interface;protocol;name;type;domain;host;address;port;txt
                    for line in browsed.splitlines():
                        fields = line.split(";")
                        if fields[0] == "=" and fields[3].startswith("RK350\\032scope\\032on"):
                            found.setdefault(service, set()).add(int(fields[8]))
        finally:
            assert scope.close() == 0


def test_with_allow_remote_a_connection_sends_the_token_first():
    process = subprocess.Popen([os.environ["RK350_SCOPE"], "--port", "0", "--scpi-port", "0", "--allow-remote"],
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    try:
        token = process.stdout.readline().strip().rsplit("?token=", 1)[1]
        port = int(process.stdout.readline().rsplit(":", 1)[1])
        client = RawScpi(port)
        assert client.query("*IDN?").startswith("RK350,")
        client.send(":CHAN1:RANG 4")
        client.send(":CHAN1:RANG?")
        client.send(":SYST:TOK 'wrong'")
        assert [c for c, _ in client.errors()] == [-203, -203, -224]
        client.send(":SYST:TOK '%s'" % token)
        assert client.query(":CHAN1:RANG 4;:CHAN1:RANG?") == "4"
        assert client.errors() == []
        client.close()
    finally:
        process.terminate()
        process.communicate(timeout=DEADLINE)
    assert process.returncode == 0


def test_the_queries_of_one_message_read_one_record(scope, visa):
    visa.write(":RUN")
    seen = set()
    for _ in range(20):
        answer = visa.query(":WAV:SEQ?;:MEAS:VPP?;:WAV:PRE?;:WAV:SEQ?")
        first, _, _, last = answer.split(";")
        assert first == last
        seen.add(int(first))
        time.sleep(0.02)
    assert len(seen) > 1, "the record stays the same while the scope runs"
    first, last = visa.query(":WAV:SEQ?;:DIG;:WAV:SEQ?").split(";")
    assert int(last) > int(first)  # after :DIGitize, the record it took


@pytest.mark.parametrize("settings, status", [
    (":TRIG:SOUR CHAN1;LEV 0", "TRIG"),              # the generator looped back to CH1 crosses the level
    (":TRIG:SOUR CHAN2;LEV 0.5;TIM 0.05", "FORC"),  # CH2 is unplugged: the time-out forces the record
    (":TRIG:SOUR NONE", "FREE"),
])
def test_trigger_status_says_how_the_record_was_taken(scope, visa, settings, status):
    visa.write(settings)
    sequence, answer, error = visa.query(":DIG;:WAV:SEQ?;:TRIG:STAT?;:SYST:ERR?").split(";")
    assert (answer, error) == (status, '0,"No error"')
    # The page shows the same record (a single one stops the scope), and says the same of it.
    _, record = scope.request("GET", "/api/record")
    assert record["sequence"] == int(sequence)
    assert record["how"] in {"TRIG": (1, 2), "FORC": (3, 4), "FREE": (5,)}[status]


def test_the_lock_holds_off_the_page_too(scope):
    holder = RawScpi(scope.scpi_port)
    try:
        assert holder.query(":SYST:LOCK ON;:SYST:LOCK?") == "1"
        before = scope.settings()["settings"]
        for path, body in [("/api/settings", {"trigger": {"level": 0.1}}),
                           ("/api/settings", {"acquisition": "stop"}),
                           ("/api/generator/waveform", {"file": "0\n1\n"})]:
            status, answer = scope.request("POST", path, body)
            assert status == 423 and ":SYSTem:LOCK" in answer["error"], (path, status, answer)
        assert scope.settings()["settings"] == before
        # Looking is not changing: the settings, the record and the page's own statistics.
        assert scope.request("GET", "/api/record")[0] == 200
        assert scope.request("POST", "/api/measurements/reset", {})[0] == 200
        assert holder.query(":TRIG:LEV 0.2;:TRIG:LEV?") == "0.2"
        assert holder.query(":SYST:LOCK OFF;:SYST:LOCK?") == "0"
        assert scope.post({"trigger": {"level": 0.1}})[0] == 200
        assert holder.query(":SYST:LOCK ON;:SYST:LOCK?") == "1"
        assert scope.post({"trigger": {"level": 0.3}})[0] == 423
    finally:
        holder.close()
    # The lock goes with its connection.
    deadline = time.monotonic() + DEADLINE
    while scope.post({"trigger": {"level": 0.3}})[0] != 200:
        assert time.monotonic() < deadline
        time.sleep(0.01)
