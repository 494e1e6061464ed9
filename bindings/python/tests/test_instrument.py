"""The binding against the virtual card: settings, measurements, generator."""

import datetime

import numpy as np
import pytest

import rk350


def rising_crossings(v, level=0.0):
    below = v[:-1] < level
    above = v[1:] >= level
    return np.flatnonzero(below & above)


def frequency(v, rate):
    """Frequency from the mean distance of rising mid-level crossings."""
    mid = (v.max() + v.min()) / 2
    idx = rising_crossings(v, mid)
    assert len(idx) >= 3, "fewer than two periods in the record"
    return rate * (len(idx) - 1) / (idx[-1] - idx[0])


def sine_setup(scope, freq=1000.0, amplitude=1.0, offset=0.0):
    scope.channels[0].range = 2.0
    scope.channels[1].range = 2.0
    scope.sample_rate = 1e6
    scope.record_length = 5000
    scope.post_samples = 3750
    scope.trigger_source = "ch1"
    scope.trigger_mode = 0
    scope.channels[0].trigger_level = 0.0
    scope.trigger_timeout = 1.0
    return scope.generator.configure("sine", frequency=freq, amplitude=amplitude, offset=offset)


def test_identity_of_the_virtual_card(scope):
    assert scope.channel_count == 2
    assert scope.max_sample_rate == 50e6
    assert scope.max_record_length == 65520
    assert isinstance(scope.serial_number, int)
    assert isinstance(scope.calibration_date, datetime.date)
    assert scope.available_ranges() == [0.1, 0.2, 0.4, 0.8, 2.0, 4.0, 8.0, 20.0, 40.0, 80.0]
    assert scope.generator.present
    assert scope.generator.max_amplitude == 10.0


def test_settings_round_trip_and_bad_values_change_nothing(scope):
    ch1 = scope.channels[0]
    ch1.range = 3.0  # the smallest range that holds 3 V
    assert ch1.range == 4.0
    ch1.range = 2.0
    ch1.dc_level = -4.0
    assert ch1.dc_level == -4.0
    with pytest.raises(rk350.InvalidValueError):
        ch1.dc_level = 4.01
    assert ch1.dc_level == -4.0
    with pytest.raises(rk350.InvalidValueError):
        ch1._api("SetAutoRanging", 1, 2)
    with pytest.raises(rk350.InvalidChannelError):
        rk350.Channel(ch1._api, 3).range = 2.0
    scope.sample_rate = 3e6
    assert scope.sample_rate == 2.5e6
    scope.trigger_source = "and"
    assert scope.trigger_source == "and"
    with pytest.raises(rk350.NotAvailableError):
        scope.trigger_source = "xor"
    assert scope.trigger_source == "and"
    # A number beyond the export's argument type is refused, not wrapped into
    # a valid code (257 would reach the library as 1 = CH2 / AC).
    for setting, owner in (("trigger_source", scope), ("coupling", ch1), ("trigger_mode", ch1)):
        before = getattr(owner, setting)
        with pytest.raises(ValueError, match="does not fit"):
            setattr(owner, setting, 257)
        assert getattr(owner, setting) == before, setting
    scope.trigger_timeout = None
    assert scope.trigger_timeout is None
    scope.trigger_timeout = 2.5
    assert scope.trigger_timeout == 2.5
    with pytest.raises(rk350.InvalidValueError):
        scope.record_length = 65521
    scope.set_record(1000, 1000)
    assert scope.pre_samples == 0


def test_block_measurement_shows_the_looped_back_sine(scope):
    sine_setup(scope, freq=1000.0, amplitude=1.0)
    volts = scope.block(force_after=2.0, timeout=20.0)
    assert volts.shape == (2, 5000) and volts.dtype == np.float64
    ch1 = volts[0]
    assert ch1.max() - ch1.min() == pytest.approx(2.0, abs=0.1)
    assert frequency(ch1, scope.sample_rate) == pytest.approx(1000.0, rel=0.01)
    # The trigger (0 V, rising) sits at index pre_samples.
    pre = scope.pre_samples
    assert abs(ch1[pre]) < 0.1
    assert ch1[pre + 20] > ch1[pre - 20]
    assert np.allclose(scope.times()[pre], 0.0)
    raw = scope.get_data(raw=True)
    assert raw.dtype == np.uint16
    assert np.allclose((raw[0].astype(float) - 0x8000) * 2.0 / 32768, ch1)


def test_synchronous_measurement(scope):
    sine_setup(scope, freq=2000.0, amplitude=0.5, offset=0.25)
    volts = scope.measure()
    ch1 = volts[0][scope.pre_samples:]  # taken after the start, whenever the trigger came
    assert ch1.mean() == pytest.approx(0.25, abs=0.05)
    assert ch1.max() - ch1.min() == pytest.approx(1.0, abs=0.08)
    assert frequency(ch1, scope.sample_rate) == pytest.approx(2000.0, rel=0.01)


def test_continuous_mode_delivers_records_while_messages_are_pumped(scope):
    sine_setup(scope, freq=5000.0, amplitude=1.5)
    records = list(scope.continuous(count=3, timeout=10))
    assert len(records) == 3
    for volts in records:
        assert volts[0].max() - volts[0].min() == pytest.approx(3.0, abs=0.15)


def test_square_wave_generator(scope):
    sine_setup(scope)
    assert scope.generator.square_wave(1000) == 1000
    assert scope.generator.signal_type == "square"
    assert scope.generator.amplitude == 2.5
    scope.channels[0].range = 4.0
    ch1 = scope.block(force_after=2.0, timeout=20.0)[0]
    assert ch1.max() == pytest.approx(2.5, abs=0.15)
    assert ch1.min() == pytest.approx(-2.5, abs=0.15)


def test_arbitrary_waveform_comes_back(scope):
    sine_setup(scope)
    # 1024 samples play in the short memory, repeating at the generator's
    # frequency (1 kHz): a sawtooth rising over each period.
    ramp = np.linspace(0, 0xFFFF, 1024).astype(np.uint16)
    scope.generator.load(ramp)
    assert scope.generator.signal_type == "arbitrary"
    ch1 = scope.block(force_after=0.5, timeout=20.0)[0][scope.pre_samples:]
    assert ch1.max() - ch1.min() == pytest.approx(2.0, abs=0.15)
    assert np.mean(ch1[20:] > ch1[:-20]) > 0.9  # rising nearly all the time


def test_generator_errors_are_named(scope):
    with pytest.raises(rk350.InvalidValueError):
        scope.generator.amplitude = 10.5
    with pytest.raises(rk350.InvalidValueError):
        scope.generator.frequency = 0
    with pytest.raises(rk350.NotAvailableError):
        scope.lib.SetFuncGenMode(0) and scope._api.check(scope.lib.SetFuncGenMode(0), "SetFuncGenMode")


def test_virtual_card_is_reachable(scope):
    card = scope.card
    assert card.base_address == 0x288
    assert 0 <= card.register(37) <= 255
    # Feed CH2 from a built-in source and see the card's decoded front end.
    sine_setup(scope)
    scope.channels[1].range = 0.8
    card.set_source(2, "square", amplitude=0.5, frequency=2000)
    ch2 = scope.block(force_after=0.5, timeout=20)[1][scope.pre_samples:]
    assert ch2.max() == pytest.approx(0.5, abs=0.03) and ch2.min() == pytest.approx(-0.5, abs=0.03)
    full_scale, ac, channel, offset = card.input_path(2)
    assert full_scale == pytest.approx(0.8) and not ac and channel == 2
    running, frequency, amplitude, offset = card.generator_output()
    assert running and frequency == pytest.approx(1000, rel=1e-3) and amplitude == pytest.approx(1.0, abs=0.02)


def test_card_variants_faults_and_traces(lib):
    card = rk350.VirtualCard(lib)
    card.set_eeprom_variant(5)  # no generator
    card.call("StartEepromTrace")
    with rk350.Instrument(lib=lib) as scope:
        card.call("StopEepromTrace")
        assert not scope.generator.present
        with pytest.raises(rk350.NoGeneratorError):
            scope.generator.configure("sine")
        assert "$var wire 1" in card.eeprom_trace()
        image = card.read_eeprom()
        assert len(image) == 4096
        # A card whose status port is stuck answers no measurement, without a hang.
        card.set_fault(1)
        with pytest.raises(rk350.RK350Error):
            scope.measure()
    with pytest.raises(rk350.InvalidValueError):
        card.set_fault(7)
