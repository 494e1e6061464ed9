"""Arbitrary waveforms in volts or in memory codes; nothing wrapped."""

import math
import re

import numpy as np
import pytest

import rk350


def free_running_sine(scope, amplitude=1.0, offset=0.0):
    scope.generator.configure("sine", frequency=1000, amplitude=amplitude, offset=offset)
    scope.channels[0].range = 2.0
    scope.set_record(5000, 5000)
    scope.trigger_source = "none"
    scope.trigger_timeout = 0


def test_a_float_sine_in_volts_comes_back(scope):
    free_running_sine(scope, amplitude=1.0)
    volts = 0.75 * np.sin(2 * np.pi * np.arange(1024) / 1024)
    codes = scope.generator.load(volts)
    assert scope.generator.signal_type == "arbitrary"
    assert codes.dtype == np.uint16 and codes.min() > 8000 and codes.max() < 57600
    ch1 = scope.block(timeout=10)[0]
    assert ch1.max() == pytest.approx(0.75, abs=0.05) and ch1.min() == pytest.approx(-0.75, abs=0.05)


@pytest.mark.parametrize("amplitude, offset, volts, codes", [
    (1.0, 0.0, [-1.0, 0.0, 1.0], [0, 32768, 65535]),
    (2.0, 1.0, [-1.0, 1.0, 3.0], [0, 32768, 65535]),
    (0.5, 0.0, [0.25], [49151]),
])
def test_volts_scale_with_the_amplitude_and_offset_the_generator_reports(scope, amplitude, offset, volts, codes):
    scope.generator.amplitude = amplitude
    scope.generator.offset = offset
    assert scope.generator.codes(volts).tolist() == codes


@pytest.mark.parametrize("samples, text", [
    ([0.0, 1.5], "outside the generator's swing"),            # beyond offset + amplitude
    ([0.0, math.nan], "finite"),
    (np.array([0, 70000]), "codes 0 .. 65535"),               # would wrap to 4464
    (np.array([-1, 100]), "codes 0 .. 65535"),                # would wrap to 65535
    ([], "1 to 65536 samples"),
    (np.zeros(65537), "1 to 65536 samples"),
    (np.zeros((2, 4)), "1 to 65536 samples"),
    (["a", "b"], "volts (floats) or memory codes"),
    ([True, False], "volts (floats) or memory codes"),
])
def test_a_waveform_that_does_not_fit_is_refused_and_nothing_changes(scope, samples, text):
    free_running_sine(scope, amplitude=1.0)
    with pytest.raises(ValueError, match=re.escape(text)):
        scope.generator.load(samples)
    assert scope.generator.signal_type == "sine"


def test_integer_codes_load_as_they_are(scope):
    free_running_sine(scope)
    ramp = np.linspace(0, 0xFFFF, 1024).astype(np.int64)
    assert scope.generator.load(ramp).tolist() == ramp.tolist()
    assert scope.generator.load(list(range(0, 65536, 64))).size == 1024


def test_volts_need_an_amplitude(scope):
    scope.generator.amplitude = 0.0
    with pytest.raises(ValueError, match="set the amplitude"):
        scope.generator.load([0.0, 0.1])


def test_the_newcomers_script(scope):
    # CH1 alone at the card's top rate, the generator's frequency by FFT.
    scope.measure_mode = "ch1"
    scope.sample_rate = 100e6
    assert scope.sample_rate == 100e6
    frequency = scope.generator.configure("sine", frequency=1e6, amplitude=1.0)
    scope.set_record(16384, 8192)
    record = scope.block(timeout=10)
    assert record.complete and record.channels == (1,)
    spectrum = np.abs(np.fft.rfft(record[0] - record[0].mean()))
    peak = np.fft.rfftfreq(record.shape[-1], record.sample_interval)[np.argmax(spectrum)]
    assert peak == pytest.approx(frequency, rel=1e-3 * 100e6 / 16384 / frequency + 1e-3)
    scope.generator.load(np.sin(np.linspace(0, 2 * np.pi, 1024, endpoint=False)))


@pytest.mark.parametrize("asked", [1000.0, 12345.6, 3.3, 7e6])
def test_the_generator_reports_the_frequency_the_card_runs(scope, asked):
    ran = scope.generator.configure("sine", frequency=asked, amplitude=1.0)
    running, card, _, _ = scope.card.generator_output()
    assert running and ran == scope.generator.run_frequency
    assert ran == pytest.approx(card, rel=1e-12) and ran != asked
    assert scope.generator.frequency == min(asked, 5e6)  # the setting, within the library's limit
