"""The common bench dialect over the raw socket with pyvisa: scales and the
timebase position as the card really runs them, both channels of one record
in one block, numbered setups on disk (*SAV/*RCL) and :AUToscale on the
virtual card's signals."""
import json
import os

import pytest
import pyvisa

from scope_client import DEADLINE, Scope
from scpi_client import error_queue


@pytest.fixture
def state_dir(tmp_path, monkeypatch):
    """The user's state directory the scope keeps its setups in."""
    monkeypatch.setenv("XDG_STATE_HOME", str(tmp_path / "state"))
    monkeypatch.setenv("HOME", str(tmp_path / "home"))
    return tmp_path / "state"


@pytest.fixture
def scope(state_dir):
    server = Scope()
    yield server
    assert server.close() == 0, "rk350-scope did not stop cleanly"


def open_visa(scope):
    manager = pyvisa.ResourceManager("@py")
    instrument = manager.open_resource("TCPIP::127.0.0.1::%d::SOCKET" % scope.scpi_port, read_termination="\n",
                                       write_termination="\n", timeout=DEADLINE * 1000)
    return manager, instrument


@pytest.fixture
def visa(scope):
    manager, instrument = open_visa(scope)
    yield instrument
    instrument.close()
    manager.close()


def errors(instrument):
    return error_queue(instrument.query)


def done(instrument):
    """Once the commands sent before are carried out (the page then shows them)."""
    assert instrument.query("*OPC?") == "1"


def numbers(text):
    return [float(v) for v in text.split(";")]


def settings_without_acquisition(scope):
    settings = scope.settings()["settings"]
    settings.pop("acquisition")
    return settings


def test_timebase_scale_sets_the_rate_and_answers_what_the_card_runs(scope, visa):
    # 5000 samples over 10 divisions: 1 ms/div is 500 kHz, a rate the card has.
    visa.write(":ACQ:POIN 5000;:TIM:SCAL 1ms")
    assert errors(visa) == []
    assert numbers(visa.query(":TIM:SCAL?;:ACQ:SRAT?")) == [0.001, 500000]
    assert scope.settings()["reached"]["rate"] == 500000
    visa.write(":TIMebase:MAIN:SCALe 2E-4")  # the MAIN node is optional
    assert numbers(visa.query(":TIM:SCAL?;:ACQ:SRAT?")) == [0.0002, 2500000]

    # 330 µs/div asks 1.5152 MHz: the card rounds, the query says the real scale and the queue says both.
    visa.write(":TIM:SCAL 330us")
    scale, rate = numbers(visa.query(":TIM:SCAL?;:ACQ:SRAT?"))
    reached = scope.settings()["reached"]
    assert rate == reached["rate"] != pytest.approx(5000 / 3.3e-3)
    assert scale == pytest.approx(reached["samples"] / reached["rate"] / 10, rel=1e-11)
    queued = errors(visa)
    assert [code for code, _ in queued] == [1, 1]
    assert "rate runs at" in queued[0][1]
    assert queued[1][1] == "Value adjusted;timebase scale runs at %s s (asked for 0.00033 s)" % \
        visa.query(":TIM:SCAL?")

    for bad, code in ((":TIM:SCAL 0", -222), (":TIM:SCAL -1", -222), (":TIM:SCAL 1 V", -131), (":TIM:SCAL", -109),
                      (":TIM:SCAL 1E-320", -222)):  # an infinite rate
        before = scope.settings()["settings"]
        visa.write(bad)
        assert [c for c, _ in errors(visa)] == [code], bad
        assert scope.settings()["settings"] == before, bad


def test_timebase_position_is_the_screen_centre_after_the_trigger(scope, visa):
    visa.write(":ACQ:POIN 5000;:ACQ:SRAT 1e6;:ACQ:PRET 25")
    assert float(visa.query(":TIM:POS?")) == pytest.approx(1.25e-3)  # 5 ms record, trigger at 1.25 ms
    for position, share in ((0, 50), (-2.5e-3, 100), (2.5e-3, 0), (1e-3, 30)):
        visa.write(":TIM:POS %g" % position)
        assert errors(visa) == []
        assert float(visa.query(":ACQ:PRET?")) == pytest.approx(share)
        assert float(visa.query(":TIM:POS?")) == pytest.approx(position, abs=1e-12)
        reached = scope.settings()["reached"]
        assert reached["preSamples"] == pytest.approx(5000 * share / 100, abs=1)
    # Beyond half the record either side: refused, nothing changed.
    before = scope.settings()["settings"]
    visa.write(":TIM:POS 2.6ms")
    assert errors(visa) == [(-222, "Data out of range;within -0.0025 .. 0.0025 S (half the record either side of "
                                   "the trigger)")]
    assert scope.settings()["settings"] == before


def test_channel_scale_picks_the_range_and_answers_the_real_scale(scope, visa):
    # ±R over 8 divisions: R / 4 per division.
    for channel, asked, range_, shown in ((1, 0.1, 0.4, 0.1), (2, 0.3, 2, 0.5), (1, 20, 80, 20), (2, 0.025, 0.1, 0.025)):
        visa.write(":CHAN%d:SCAL %g" % (channel, asked))
        assert float(visa.query(":CHAN%d:RANG?" % channel)) == range_
        assert float(visa.query(":CHAN%d:SCAL?" % channel)) == shown
        assert scope.settings()["settings"]["ch%d" % channel]["range"] == range_
        queued = errors(visa)
        if shown == asked:
            assert queued == []
        else:  # the range rounded up, and the scale with it
            assert queued == [(1, "Value adjusted;ch%d.range runs at %g V (asked for %g V)" % (channel, range_,
                                                                                             asked * 4)),
                              (1, "Value adjusted;ch%d scale runs at %g V (asked for %g V)" % (channel, shown,
                                                                                             asked))]
    before = scope.settings()["settings"]
    for bad, code in ((":CHAN3:SCAL 1", -114), (":CHAN1:SCAL 100", -222), (":CHAN1:SCAL 0", -222),
                      (":CHAN1:SCAL 1 S", -131), (":CHAN1:SCAL 1E308", -222)):
        visa.write(bad)
        assert [c for c, _ in errors(visa)] == [code], bad
    assert scope.settings()["settings"] == before


@pytest.mark.parametrize("form, datatype", [("BYTE", "B"), ("WORD", "H")])
def test_both_channels_in_one_block_equal_two_single_reads(scope, visa, form, datatype):
    visa.write(":CHAN2:DISP ON;:SOUR:FREQ 3kHz;:ACQ:POIN 4000;:WAV:FORM %s" % form)
    scope.post({"ch2": {"source": "square:0.5:250:0.2"}})
    assert visa.query(":DIG;*OPC?") == "1"
    both = visa.query_binary_values(":WAV:DATA:ALL?", datatype=datatype, is_big_endian=True, container=list)
    single = []
    for channel in (1, 2):
        visa.write(":WAV:SOUR CHAN%d" % channel)
        points = int(float(visa.query(":WAV:PRE?").split(",")[2]))
        codes = visa.query_binary_values(":WAV:DATA?", datatype=datatype, is_big_endian=True, container=list)
        assert len(codes) == points
        single.append(codes)
    assert len(single[0]) > 0 and single[0] != single[1]
    assert both == single[0] + single[1]
    # In ASCii: one list of volts, CH1's then CH2's.
    visa.write(":WAV:FORM ASC")
    raw = visa.query(":WAV:DATA:ALL?")
    digits = int(raw[1])
    volts = [float(v) for v in raw[2 + digits:].split(",")]
    separate = []
    for channel in (1, 2):
        text = visa.query(":WAV:SOUR CHAN%d;:WAV:DATA?" % channel)
        separate += [float(v) for v in text[2 + int(text[1]):].split(",")]
    assert volts == separate
    # One channel on: the block is that channel's.
    visa.write(":CHAN1:DISP OFF;:WAV:FORM %s" % form)
    assert visa.query(":DIG;*OPC?") == "1"
    alone = visa.query_binary_values(":WAV:DATA:ALL?", datatype=datatype, is_big_endian=True, container=list)
    visa.write(":WAV:SOUR CHAN2")
    assert alone == visa.query_binary_values(":WAV:DATA?", datatype=datatype, is_big_endian=True, container=list)
    assert errors(visa) == []


def test_saved_setups_come_back_whole(scope, visa, state_dir):
    visa.write(":CHAN1:RANG 0.8;:CHAN2:COUP AC;:TRIG:SOUR CHAN2;:TRIG:LEV 0.3;:ACQ:SRAT 250k;:ACQ:POIN 3000;"
               ":SOUR:FREQ 2.5kHz")
    done(visa)
    saved = settings_without_acquisition(scope)
    visa.write("*SAV 3")
    assert errors(visa) == []
    path = state_dir / "rk350" / "scope-setups" / "3.json"
    assert json.loads(path.read_text()) == saved
    assert sorted(os.listdir(path.parent)) == ["3.json"]  # nothing left beside it

    visa.write("*RST")
    done(visa)
    assert settings_without_acquisition(scope) != saved
    visa.write("*RCL 3")
    assert errors(visa) == []
    assert settings_without_acquisition(scope) == saved
    assert visa.query(":TRIG:SOUR?;:CHAN1:RANG?;:ACQ:POIN?") == "CHAN2;0.8;3000"

    # An empty slot and a number out of range: errors, nothing changed.
    visa.write("*RST")
    done(visa)
    before = scope.settings()["settings"]
    for bad, code in (("*RCL 5", -200), ("*RCL 10", -222), ("*SAV -1", -222), ("*RCL 1.5", -222)):
        visa.write(bad)
        assert [c for c, _ in errors(visa)] == [code], bad
    assert scope.settings()["settings"] == before

    # A setup the library refuses in part is refused whole: the rate it holds is not taken either.
    edited = dict(saved, rate=10000.0, ch1=dict(saved["ch1"], range=1000))
    (path.parent / "4.json").write_text(json.dumps(edited))
    (path.parent / "5.json").write_text("{not json")
    visa.write("*RCL 4")
    queued = errors(visa)
    assert [c for c, _ in queued] == [-222] and "1 kV" in queued[0][1]
    visa.write("*RCL 5")
    assert [c for c, _ in errors(visa)] == [-200]
    assert scope.settings()["settings"] == before

    # Another scope (a new process) finds the setups under the same directory.
    other = Scope()
    try:
        manager, instrument = open_visa(other)
        instrument.write("*RCL 3")
        assert errors(instrument) == []
        assert settings_without_acquisition(other) == saved
        instrument.close()
        manager.close()
    finally:
        assert other.close() == 0


def test_without_xdg_state_home_setups_go_under_home(tmp_path, monkeypatch):
    monkeypatch.delenv("XDG_STATE_HOME", raising=False)
    monkeypatch.setenv("HOME", str(tmp_path))
    server = Scope()
    try:
        manager, instrument = open_visa(server)
        instrument.write("*SAV 0")
        assert errors(instrument) == []
        assert (tmp_path / ".local" / "state" / "rk350" / "scope-setups" / "0.json").is_file()
        instrument.close()
        manager.close()
    finally:
        assert server.close() == 0


def assert_periods_on_screen(scope, visa, hertz):
    """About three periods over the ten divisions: the rate asked for that, and the card's rates are discrete."""
    scale = float(visa.query(":TIM:SCAL?"))
    reached = scope.settings()["reached"]
    assert scale == pytest.approx(reached["samples"] / reached["rate"] / 10, rel=1e-11)
    assert 1.5 <= scale * 10 * hertz <= 6


def test_autoscale_sets_ranges_rate_and_trigger_from_the_signals(scope, visa):
    # CH1: the generator, 0.3 V at 5 kHz; CH2: a square from -2 V to 4 V at 250 Hz. Start far off.
    scope.post({"ch2": {"source": "square:3:250:1"}})
    visa.write(":SOUR:VOLT 0.3;:SOUR:FREQ 5kHz;:CHAN1:RANG 80;:CHAN2:RANG 0.1;:ACQ:SRAT 10k;:ACQ:POIN 5000;"
               ":TRIG:SOUR CHAN2;:TRIG:LEV -0.09")
    assert errors(visa) == []
    visa.write(":AUToscale")
    assert visa.query("*OPC?") == "1"
    queued = errors(visa)
    assert all(code == 1 for code, _ in queued), queued  # at most the rate's rounding
    assert float(visa.query(":CHAN1:RANG?")) == 0.4  # holds 0.3 V with headroom
    assert float(visa.query(":CHAN2:RANG?")) == 8  # holds 4 V with headroom
    # The trigger stays on CH2, which has a period, midway between its levels; three periods on screen.
    assert visa.query(":TRIG:SOUR?") == "CHAN2"
    assert float(visa.query(":TRIG:LEV?")) == pytest.approx(1.0, abs=0.1)
    assert_periods_on_screen(scope, visa, 250)
    assert visa.query(":DIG;:TRIG:STAT?") == "TRIG"
    assert float(visa.query(":MEAS:FREQ? CHAN2")) == pytest.approx(250, rel=0.01)
    assert float(visa.query(":MEAS:VMAX? CHAN1")) == pytest.approx(0.3, abs=0.02)

    # The trigger on CH1 stays there: its signal has a period too.
    visa.write(":TRIG:LEV 0;:TRIG:SOUR CHAN1;:AUT")
    assert [code for code, _ in errors(visa)] in ([], [1])
    assert visa.query(":TRIG:SOUR?") == "CHAN1"
    assert float(visa.query(":TRIG:LEV?")) == pytest.approx(0.0, abs=0.02)
    assert_periods_on_screen(scope, visa, 5000)


def test_autoscale_without_a_signal_keeps_the_settings(scope, visa):
    visa.write(":OUTP OFF;:CHAN1:RANG 0.8;:ACQ:SRAT 100k;:TRIG:LEV 0.2;:STOP")
    done(visa)
    before = scope.settings()["settings"]
    visa.write(":AUT")
    queued = errors(visa)
    assert queued == [(-200, "Execution error;autoscale: no signal on any measured channel; the settings are kept")]
    assert scope.settings()["settings"] == before
