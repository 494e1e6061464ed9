"""The names users type are the capture tool's; every misuse raises the
documented error and changes nothing."""

import math
import os
import re
import subprocess

import numpy as np
import pytest

import rk350
from rk350 import constants


def capture_tool(*arguments):
    """Output of the capture tool of this build (RK350_CAPTURE names it)."""
    tool = os.environ.get("RK350_CAPTURE")
    assert tool and os.path.isfile(tool), "RK350_CAPTURE must name the rk350-capture of this build (ctest sets it)"
    return subprocess.run([tool, *arguments], check=True, capture_output=True, text=True, timeout=60).stdout


def listed(show, title):
    """The `  name (code): ...` lines of one section of `--show`."""
    section = show.split(title, 1)[1].split("\n")
    names = {}
    for line in section[1:]:
        match = re.match(r"  (\w+) \((\d+)\):", line)
        if not line.startswith("  "):
            break
        if match:
            names[match.group(1)] = int(match.group(2))
    return names


def test_trigger_names_are_the_capture_tools():
    show = capture_tool("--show")
    assert listed(show, "trigger sources (--trigger):") == {
        name: int(code) for name, code in constants.VOCABULARY[rk350.TriggerSource].items()}
    assert listed(show, "trigger modes (--trigger-mode)") == {
        name: int(code) for name, code in constants.VOCABULARY[rk350.TriggerMode].items()}
    generator = re.search(r"function generator \(--gen\): ([a-z, ]+);", show).group(1).split(", ")
    assert generator == [n for n in constants.VOCABULARY[rk350.SignalType] if n != "arbitrary"]


def test_every_name_list_is_the_settings_tables():
    """The capture tool prints every choice of its settings table with the
    library's code; the binding's names are the same, code for code, and a
    list the table gains fails here until the binding has it."""
    show = capture_tool("--show")
    lists = {}
    for line in show.split("names and the library's codes:\n", 1)[1].splitlines():
        flags, names = re.fullmatch(r"  (--\S+(?:, --\S+)*): (.*)", line).groups()
        for flag in flags.split(", "):
            lists[flag] = {name: int(code) for name, code in re.findall(r"(\w+) \((\d+)\)", names)}

    def vocabulary(enum_class):
        return {name: int(code) for name, code in constants.VOCABULARY[enum_class].items()}

    expected = {
        "--trigger": vocabulary(rk350.TriggerSource),
        "--trigger-mode": vocabulary(rk350.TriggerMode),
        "--ch1-coupling": vocabulary(rk350.Coupling),
        "--ch2-coupling": vocabulary(rk350.Coupling),
        "--gen": vocabulary(rk350.SignalType),
        "--ch1-source": vocabulary(constants.SourceKind),
        "--ch2-source": vocabulary(constants.SourceKind),
        "--ext-source": vocabulary(constants.SourceKind),
        # The tool numbers the channels; the binding takes those spellings too.
        "--channels": {name: int(code) for name, code in constants.OTHER_SPELLINGS[rk350.MeasureMode].items()
                       if name.isdigit()},
    }
    assert lists == expected


def test_defaults_are_the_capture_tools():
    help_text = capture_tool("--help")

    def default(option):
        entry = re.search(r"^  --%s \S+\s+(.*?)(?=^  --|\Z)" % option, help_text, re.M | re.S).group(1)
        return re.search(r"\bdefault ([^);]+)", " ".join(entry.split())).group(1)

    assert default("rate") == "1M" and rk350.DEFAULTS["sample_rate"] == 1e6
    assert default("samples") == str(rk350.DEFAULTS["record_length"])
    pre = float(default("pre-trigger"))
    assert rk350.DEFAULTS["post_samples"] == round(rk350.DEFAULTS["record_length"] * (1 - pre / 100))
    assert float(default("ch1-range")) == rk350.DEFAULTS["range"]
    assert default("trigger") == rk350.DEFAULTS["trigger_source"]
    assert default("trigger-timeout") == "%gs" % rk350.DEFAULTS["trigger_timeout"]
    assert default("channels") == "12: both" and rk350.DEFAULTS["measure_mode"] == "ch12"


def test_open_applies_the_defaults(scope):
    assert (scope.measure_mode, scope.sample_rate, scope.record_length, scope.post_samples) == ("ch12", 1e6, 5000, 3750)
    assert [c.range for c in scope.channels] == [2.0, 2.0]
    assert (scope.trigger_source, scope.trigger_mode, scope.trigger_timeout) == ("ch1", "rising", 1.0)
    assert scope.software_trigger


def test_defaults_false_keeps_the_librarys(lib):
    with rk350.Instrument(lib=lib, defaults=False) as scope:
        assert scope.record_length == 512 and scope.sample_rate == 25e6


@pytest.mark.parametrize("owner, setting, value, shown", [
    ("scope", "trigger_source", "ext", "ext"),
    ("scope", "trigger_source", "external", "ext"),   # the binding's earlier name
    ("scope", "trigger_source", rk350.TriggerSource.NO_TRIG, "none"),
    ("scope", "trigger_source", "free", "none"),
    ("scope", "trigger_mode", "falling", "falling"),
    ("scope", "trigger_mode", 3, 3),
    ("ch1", "trigger_mode", "Falling", "falling"),
    ("ch1", "coupling", "ac", "ac"),
    ("ch1", "coupling", rk350.Coupling.DC, "dc"),
    ("ch2", "coupling", 1, "ac"),
    ("scope", "measure_mode", "ch1", "ch1"),
    ("scope", "measure_mode", "12", "ch12"),
    ("scope", "measure_mode", rk350.MeasureMode.CH2, "ch2"),
    ("generator", "signal_type", "triangle", "triangle"),
    ("generator", "signal_type", rk350.SignalType.NOISE, "noise"),
])
def test_names_and_codes_are_accepted(scope, owner, setting, value, shown):
    target = {"scope": scope, "ch1": scope.channels[0], "ch2": scope.channels[1], "generator": scope.generator}[owner]
    setattr(target, setting, value)
    assert getattr(target, setting) == shown


# (what is set, value, exception, text the message holds)
MISUSES = [
    ("trigger_source", "external2", ValueError, "ch1, ch2, ext, and, or, xor, none"),
    ("trigger_source", 257, ValueError, "does not fit"),
    ("trigger_source", -1, ValueError, "does not fit"),
    ("trigger_source", 2.5, ValueError, "name or a code"),
    ("trigger_mode", "up", ValueError, "rising, falling"),
    ("trigger_mode", 12, rk350.InvalidValueError, "SetTriggerMode"),
    ("ch1.coupling", "gnd", ValueError, "dc, ac"),
    ("ch1.coupling", 2, rk350.InvalidValueError, "SetCoupling"),
    ("measure_mode", "ch3", ValueError, "ch1, ch2, ch12, xy"),
    ("record_length", 1000.5, ValueError, "not a whole number"),
    ("record_length", 2**32 + 1000, ValueError, "does not fit"),
    ("record_length", "5000", ValueError, "not a whole number"),
    ("record_length", 65521, rk350.InvalidValueError, "SetRecordLength"),
    ("post_samples", -1, ValueError, "does not fit"),
    ("sample_rate", 0, ValueError, "above 0"),
    ("sample_rate", -1e6, ValueError, "above 0"),
    ("sample_rate", math.nan, ValueError, "above 0"),
    ("sample_rate", math.inf, ValueError, "above 0"),
    ("trigger_timeout", -0.001, ValueError, "0 s or more"),
    ("trigger_timeout", math.nan, ValueError, "0 s or more"),
    ("trigger_timeout", 5e6, ValueError, "longest time-out"),
    ("ch1.range", 0, ValueError, "above 0"),
    ("ch1.range", -2, ValueError, "above 0"),
    ("ch1.range", math.nan, ValueError, "above 0"),
    ("ch1.dc_level", 4.5, rk350.InvalidValueError, "SetDcLevel"),
    ("generator.signal_type", "sawtooth", ValueError, "sine, triangle, square, dc, noise, arbitrary"),
    ("generator.signal_type", 70000, ValueError, "does not fit"),
    ("generator.amplitude", 10.5, rk350.InvalidValueError, "SetFuncGenAmplitude"),
    ("generator.frequency", 0, rk350.InvalidValueError, "SetFuncGenFrequency"),
]


@pytest.mark.parametrize("setting, value, error, text", MISUSES, ids=["%s=%r" % m[:2] for m in MISUSES])
def test_each_misuse_raises_its_error_and_changes_nothing(scope, setting, value, error, text):
    path = setting.split(".")
    target = {"ch1": scope.channels[0], "generator": scope.generator}.get(path[0], scope) if len(path) > 1 else scope
    name = path[-1]
    before = getattr(target, name)
    with pytest.raises(error, match=re.escape(text)):
        setattr(target, name, value)
    assert getattr(target, name) == before


def test_the_range_rule_is_the_capture_tools(scope):
    # The smallest range holding the request, the largest above them all.
    ranges = scope.available_ranges()
    for asked, chosen in ((0.05, 0.1), (0.1, 0.1), (0.10000000001, 0.1), (0.3, 0.4), (1.0, 2.0), (2.0, 2.0),
                          (3.0, 4.0), (79.9, 80.0), (200.0, 80.0)):
        assert rk350.range_at_least(ranges, asked) == chosen
        scope.channels[1].range = asked
        assert scope.channels[1].range == chosen, asked


def test_trigger_timeout_forever_and_rounding(scope):
    for seconds, ms in ((None, -1), (math.inf, -1), (0, 0), (0.0001, 1), (0.0015, 2), (2.5, 2500)):
        scope.trigger_timeout = seconds
        assert scope.lib.GetTriggerTimeOut() == ms, seconds


def test_raw_exports_refuse_integers_beyond_their_type(scope):
    lib = scope.lib
    before = lib.GetRecordLength()
    for call, args in (("SetRecordLength", (2**32 + 1000,)), ("SetRecordLength", (-1,)),
                       ("SetTriggerSource", (257,)), ("SetCoupling", (257, 1)), ("SetTriggerTimeOut", (-1,)),
                       ("InitInstrument", (0x10288,)), ("DoMeasure", (2**31,))):
        with pytest.raises(ValueError, match="does not fit"):
            getattr(lib, call)(*args)
    assert lib.GetRecordLength() == before
    assert lib.SetRecordLength(np.uint32(1000)) == 0  # numpy integers pass


def test_measure_mode_ch1_at_100_mhz(scope):
    scope.measure_mode = "ch1"
    scope.sample_rate = 100e6
    assert scope.measure_mode == "ch1" and scope.sample_rate == 100e6


@pytest.mark.parametrize("assign, call, running", [
    (lambda s: setattr(s, "sample_rate", 3e6), "SetSampleFrequencyF", "2500000 Hz"),
    (lambda s: (s.generator.configure("sine"), setattr(s.generator, "frequency", 6e6)), "SetFuncGenFrequency",
     "5000000 Hz"),
    (lambda s: setattr(s.channels[0], "range", 3), "SetSensitivity", "4 V"),
])
def test_values_the_card_runs_otherwise_are_warned_about(scope, assign, call, running):
    with pytest.warns(rk350.ValueAdjustedWarning, match=r"%s: the card runs %s \(asked for" % (call, running)):
        assign(scope)


def test_values_met_as_asked_are_not_warned_about(scope):
    import warnings
    with warnings.catch_warnings():
        warnings.simplefilter("error")
        scope.sample_rate = 250e3
        scope.generator.frequency = 1234
        scope.channels[0].range = 4


@pytest.mark.parametrize("target, name", [(lambda s: s, "sample_rat"), (lambda s: s.generator, "frequncy"),
                                          (lambda s: s.channels[0], "rnage")])
def test_unknown_attributes_are_refused(scope, target, name):
    with pytest.raises(AttributeError, match="did you mean"):
        setattr(target(scope), name, 1)
    assert not hasattr(target(scope), name)
