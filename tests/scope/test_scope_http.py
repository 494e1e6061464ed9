"""The scope over HTTP, without a browser: settings, refusals, the stream."""
import copy
import os
import subprocess

import pytest

from scope_client import Scope
from scpi_client import RawScpi

INVALID = ("ResultInvalidValue", "an argument lies outside its allowed set or range")
NOT_AVAILABLE = ("ResultNotAvailable", "the function or setting does not exist on this instrument")


def test_settings_round_trip_and_the_stream_follows(scope):
    before = scope.settings()
    patch = {
        "rate": 2.5e6, "samples": 8000, "preTrigger": 10, "average": 2,
        "ch1": {"range": 4, "coupling": "dc", "dcLevel": 0.5},
        "ch2": {"range": 0.8, "coupling": "ac", "dcLevel": 0.1, "source": "square:0.5:250:0"},
        "ext": {"source": "square:2.5:1000:2.5"},
        "trigger": {"source": "ch2", "slope": "falling", "level": 0.1, "hysteresis": 0.05, "timeout": 500},
        "generator": {"type": "square", "frequency": 5000, "amplitude": 0.5, "offset": 0.1, "symmetry": 30},
    }
    status, state = scope.post(patch)
    assert status == 200, state
    expected = copy.deepcopy(before["settings"])
    for key, value in patch.items():
        if isinstance(value, dict):
            expected[key].update(value)
        else:
            expected[key] = value
    assert state["settings"] == expected
    assert state["version"] == before["version"] + 1
    state.pop("run")  # what the armed run does, moment to moment
    assert scope.settings() == state
    assert state["reached"]["rate"] == 2.5e6
    assert state["reached"]["samples"] == 8000
    assert state["reached"]["preSamples"] == 800
    assert state["reached"]["ch2Range"] == 0.8

    stream = scope.stream()
    try:
        frame = stream.next_frame(state["version"])
    finally:
        stream.close()
    assert frame["samples"] == 8000 and frame["rate"] == 2.5e6
    assert frame["triggerIndex"] == 800 and frame["triggerChannel"] == "CH2" and frame["triggerLevel"] == 0.1
    ch1, ch2 = frame["channels"]
    assert (ch1["range"], ch2["range"]) == (4, 0.8)
    # The generator's 5 kHz square on CH1, the 250 Hz source on CH2 (two
    # periods in 3.2 ms; averaged records keep the shape).
    assert ch1["figures"]["frequency"] == pytest.approx(5000, rel=1e-3)
    assert ch2["figures"]["peakToPeak"] == pytest.approx(1.0, abs=0.05)
    assert len(ch1["volts"]) == 8000 and len(ch2["volts"]) == 8000

    # Back to one channel, and the stream says so.
    status, state = scope.post({"ch2": {"on": False}})
    assert status == 200 and state["reached"]["measureMode"] == 1
    stream = scope.stream()
    try:
        frame = stream.next_frame(state["version"])
    finally:
        stream.close()
    assert [c["name"] for c in frame["channels"]] == ["CH1"]


# (request body, result name and meaning, words the error names)
BAD_REQUESTS = [
    ('{"rate": ', INVALID, "not JSON"),
    (b'{"rate": "\xff\xfe"}', INVALID, "not JSON"),
    ("[1, 2]", INVALID, "JSON object"),
    ('"run"', INVALID, "JSON object"),
    ({"bogus": 1}, INVALID, "unknown setting 'bogus'"),
    ({"trigger": {"lvl": 0.2}}, INVALID, "unknown setting 'trigger.lvl'"),
    ({"ch3": {"range": 2}}, INVALID, "unknown setting 'ch3'"),
    ({"rate": "fast"}, INVALID, "rate: invalid value 'fast': not a number of Hz"),
    ({"rate": -1}, INVALID, "rate -1"),
    ({"rate": 0}, INVALID, "rate 0"),
    ({"samples": 12.5}, INVALID, "samples 12.5 is not a whole number"),
    ({"preTrigger": 101}, INVALID, "preTrigger 101"),
    ({"average": 0}, INVALID, "average 0"),
    ({"ch1": {"range": True}}, INVALID, "ch1.range is not a number"),
    ({"ch2": {"coupling": "gnd"}}, INVALID, "ch2.coupling \"gnd\" is none of dc, ac"),
    ({"ch1": {"on": "yes"}}, INVALID, "ch1.on is not true or false"),
    ({"ch1": {"on": False}, "ch2": {"on": False}}, INVALID, "at least one channel"),
    ({"ch2": {"source": "bogus:1"}}, INVALID, "ch2.source \"bogus:1\" is not a source"),
    ({"trigger": {"source": "ch3"}}, INVALID, "trigger.source \"ch3\" is none of ch1, ch2, ext"),
    ({"trigger": {"timeout": -5}}, INVALID, "trigger.timeout -5"),
    ({"generator": {"type": "sawtooth"}}, INVALID, "generator.type \"sawtooth\""),
    ({"acquisition": "pause"}, INVALID, "acquisition \"pause\" is none of run, stop, single"),
    ({"acquisition": ["run"]}, INVALID, "acquisition an array is none of"),
    ('{"acquisition": %s%s}' % ("[" * 30000, "]" * 30000), INVALID, "nests deeper than any setting"),
    ("[" * 30000 + "]" * 30000, INVALID, "nests deeper than any setting"),
    ('{"title": "[[[[[[[[[[[[[[[[[[[[", "x": "\\"[[[[[[[[[[[[[["}', INVALID, "unknown setting 'title'"),
    # Values the card itself refuses: the library's answer, and nothing of
    # the request stays (the generator keeps its frequency).
    ({"generator": {"frequency": 3000}, "ch1": {"dcLevel": 900}}, INVALID, "SetDcLevel(CH1, 900 V)"),
    ({"rate": 250e3, "trigger": {"source": "xor"}}, NOT_AVAILABLE, "SetTriggerSource(8)"),
    # The library judges the values; the scope adds no limits of its own.
    ({"samples": 70000}, INVALID, "SetRecordLength(70000): ResultInvalidValue"),
    ({"trigger": {"hysteresis": -0.1}}, INVALID, "SetTriggerHys(CH1, -0.1 V): ResultInvalidValue"),
    ({"generator": {"amplitude": 11}}, INVALID, "SetFuncGenAmplitude(11 V): ResultInvalidValue"),
]


def test_bad_input_is_refused_whole_and_the_view_keeps_running(scope):
    stream = scope.stream()
    try:
        first = stream.next_frame()
        before = scope.settings()
        for body, (name, meaning), words in BAD_REQUESTS:
            status, answer = scope.post(body)
            assert status == 400, (body, answer)
            assert (answer["result"], answer["meaning"]) == (name, meaning), body
            assert words in answer["error"], (body, answer["error"])
            assert scope.settings() == before, body
        later = stream.next_frame()
        assert later["sequence"] > first["sequence"]
        assert later["settingsVersion"] == before["version"]
        assert later["rate"] == 1e6
        assert later["channels"][0]["figures"]["frequency"] == pytest.approx(1000, rel=1e-3)
    finally:
        stream.close()
    status, _ = scope.request("GET", "/api/nothing")
    assert status == 404
    status, _ = scope.post('{"rate": "%s"}' % ("9" * 100000))  # beyond any settings request
    assert status == 413
    assert scope.settings() == before


def test_two_pages_see_the_trace_and_the_last_setting_wins(scope):
    first, second = scope.stream(), scope.stream()
    try:
        assert first.next_frame()["channels"] and second.next_frame()["channels"]
        assert scope.post({"generator": {"frequency": 2000}})[0] == 200
        status, state = scope.post({"generator": {"frequency": 4000}})
        assert status == 200
        for stream in (first, second):
            frame = stream.next_frame(state["version"])
            assert frame["channels"][0]["figures"]["frequency"] == pytest.approx(4000, rel=1e-3)
    finally:
        first.close()
        second.close()
    assert scope.settings()["settings"]["generator"]["frequency"] == 4000


def test_stop_single_and_run(scope):
    stream = scope.stream()
    stream.next_frame()
    stream.close()
    status, state = scope.post({"acquisition": "stop"})
    assert status == 200 and state["settings"]["acquisition"] == "stop"
    _, held = scope.request("GET", "/api/record")
    status, state = scope.post({"acquisition": "single"})
    assert status == 200
    stream = scope.stream()
    try:
        single = stream.next_frame(state["version"])
    finally:
        stream.close()
    assert single["sequence"] > held["sequence"]
    assert scope.settings()["settings"]["acquisition"] == "stop"
    _, latest = scope.request("GET", "/api/record")
    assert latest["sequence"] == single["sequence"]  # nothing after the single record
    assert scope.post({"acquisition": "run"})[0] == 200


def test_downloads_hold_the_shown_record(scope):
    _, frame = scope.request("GET", "/api/record")
    status, csv = scope.request("GET", "/api/record.csv")
    assert status == 200
    lines = csv.decode().splitlines()
    assert lines[0] == "time_s,CH1_V,CH2_V"
    rows = [line for line in lines[1:] if not line.startswith("#")]
    assert len(rows) == frame["samples"]
    status, session = scope.request("GET", "/api/record.sr")
    assert status == 200 and session[:2] == b"PK"


def test_options_give_the_starting_settings_and_remote_needs_consent():
    scope = Scope("--rate", "250k", "--samples", "2000", "--gen", "triangle", "--trigger", "none")
    try:
        settings = scope.settings()["settings"]
        assert (settings["rate"], settings["samples"]) == (250e3, 2000)
        assert settings["generator"]["type"] == "triangle" and settings["trigger"]["source"] == "none"
        assert settings["preTrigger"] == 0  # running free, as the capture tool does
        stream = scope.stream()
        assert stream.next_frame()["samples"] == 2000
        stream.close()
    finally:
        assert scope.close() == 0
    scope = Scope("--rate", "2.5M", "--time", "2ms")
    try:
        assert scope.settings()["settings"]["samples"] == 5000
        status, state = scope.post({"rate": 3e6})  # the card rounds to a rate it reaches
        assert status == 200 and state["settings"]["rate"] == state["reached"]["rate"]
        assert 2e6 < state["reached"]["rate"] < 4e6
        assert scope.post({"samples": 1000})[1]["reached"]["samples"] == 1000
    finally:
        assert scope.close() == 0
    refused = subprocess.run([os.environ["RK350_SCOPE"], "--listen", "0.0.0.0", "--port", "0"],
                             capture_output=True, text=True, timeout=30)
    assert refused.returncode == 1 and "--allow-remote" in refused.stderr


# A value the library refuses, given on the command line and posted as JSON:
# both show the library's own message (call, result name and meaning).
LIBRARY_REFUSALS = [
    (["--samples", "70k"], {"samples": 70000}, ":ACQ:POIN 70000", "SetRecordLength(70000): ResultInvalidValue"),
    (["--gen-amplitude", "11"], {"generator": {"amplitude": 11}}, ":VOLT 11",
     "SetFuncGenAmplitude(11 V): ResultInvalidValue"),
    (["--ch1-dc-level", "900"], {"ch1": {"dcLevel": 900}}, ":CHAN1:OFFS 900",
     "SetDcLevel(CH1, 900 V): ResultInvalidValue"),
    (["--trigger-hysteresis", "-0.1"], {"trigger": {"hysteresis": -0.1}}, ":TRIG:HYST -0.1",
     "SetTriggerHys(CH1, -0.1 V): ResultInvalidValue"),
    (["--ch1-coupling", "5"], {"ch1": {"coupling": 5}}, ":CHAN1:COUP 5", "SetCoupling(CH1): ResultInvalidValue"),
]


def test_the_library_judges_values_alike_for_the_command_line_the_page_and_scpi(scope, tmp_path):
    scpi = RawScpi(scope.scpi_port)
    for arguments, patch, command, message in LIBRARY_REFUSALS:
        status, answer = scope.post(patch)
        assert status == 400 and message in answer["error"], (patch, answer)
        assert (answer["result"], answer["meaning"]) == INVALID
        scpi.send(command)
        [(code, text)] = scpi.errors()
        assert code == -222 and text.startswith("Data out of range;") and message in text, (command, text)
        tool = subprocess.run([os.environ["RK350_CAPTURE"], *arguments, "--quiet", "--output", str(tmp_path / "x")],
                              capture_output=True, text=True, timeout=60)
        assert tool.returncode == 2 and message in tool.stderr and INVALID[1] in tool.stderr, (arguments, tool.stderr)
    scpi.close()
    # Within its reach the library sets the value; the settings say what the
    # card runs at (a range rounded up, the generator's frequency at its limit).
    status, state = scope.post({"ch1": {"range": 3}, "generator": {"frequency": 1e9}})
    assert status == 200, state
    assert state["settings"]["ch1"]["range"] == 4 and state["reached"]["ch1Range"] == 4
    assert state["settings"]["generator"]["frequency"] == 5e6
