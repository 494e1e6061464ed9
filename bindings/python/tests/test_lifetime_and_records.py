"""One instrument per process, closed instruments, channel numbers, record
geometry, and what a record holds (NaN, valid range, overrange)."""

import numpy as np
import pytest

import rk350


def test_a_second_instrument_on_the_same_library_names_the_cause(lib):
    with rk350.Instrument(lib=lib):
        with pytest.raises(rk350.OneInstrumentError, match="one instrument per process.*close that one first"):
            rk350.Instrument(lib=lib).open()
    # Closed: the loaded library cannot start another.
    with pytest.raises(rk350.OneInstrumentError, match="private_copy=True"):
        rk350.Instrument(lib=lib).open()
    # The way out works.
    with rk350.Instrument(private_copy=True) as fresh:
        assert fresh.channel_count == 2


@pytest.mark.parametrize("address", [-1, 0x10000])
def test_an_address_that_does_not_fit_leaves_the_library_free(lib, address):
    with pytest.raises(ValueError, match="does not fit"):
        rk350.Instrument(lib=lib, address=address).open()
    with rk350.Instrument(lib=lib) as scope:  # nothing claimed the library
        assert scope.channel_count == 2


def test_a_closed_instrument_refuses_getters_and_setters(lib):
    scope = rk350.Instrument(lib=lib).open()
    scope.close()
    for read in (lambda: scope.sample_rate, lambda: scope.record_length, lambda: scope.channels[0].range,
                 lambda: scope.generator.present, lambda: scope.ready):
        with pytest.raises(rk350.InstrumentClosedError, match="not open"):
            read()
    with pytest.raises(rk350.NoInstrumentError):
        scope.sample_rate = 1e6


def test_channel_numbers_and_record_geometry(scope):
    assert scope.channel(2).number == 2
    for bad in (0, 3, -1):
        with pytest.raises(ValueError, match="channels 1 and 2"):
            scope.channel(bad)
    scope.set_record(4000, 3000)
    with pytest.raises(ValueError, match="post-trigger"):
        scope.record_length = 2000
    with pytest.raises(ValueError, match="post-trigger"):
        scope.post_samples = 5000
    assert (scope.record_length, scope.post_samples) == (4000, 3000)
    scope.set_record(1000, 200)
    assert (scope.record_length, scope.post_samples) == (1000, 200)


def sine_on_ch1(scope, freq, amplitude=1.0):
    scope.channels[0].range = 2.0
    scope.sample_rate = 1e6
    scope.set_record(5000, 1000)
    scope.trigger_source = "ch1"
    scope.channels[0].trigger_level = 0.0
    scope.generator.configure("sine", frequency=freq, amplitude=amplitude)


def test_records_are_complete_with_the_trigger_at_pre_samples(scope):
    assert scope.software_trigger
    sine_on_ch1(scope, 20e3)
    for take in (lambda: scope.block(timeout=5), scope.measure):
        v = take()
        assert v.complete and v.valid[0] == (0, 5000)
        assert not np.isnan(v[0]).any()
        assert v[0, 3999] < 0 <= v[0, 4000]


def test_card_trigger_leaves_nan_where_no_sample_was_taken(scope):
    scope.software_trigger = False
    sine_on_ch1(scope, 20e3, amplitude=3.0)
    v = scope.block(timeout=5)
    first, count = v.valid[0]
    assert first > 0 and first + count == 5000
    assert np.isnan(v[0, :first]).all() and not np.isnan(v[0, first:]).any()
    assert v.overrange[0] and not v.complete
    raw = scope.get_data(raw=True)
    assert (raw[0, :first] == 0x8000).all() and raw.valid == v.valid


def test_open_fail_open_on_a_library_passed_in(lib):
    wrong = rk350.Instrument(lib=lib, address=0x300)
    with pytest.raises(rk350.NoInstrumentError):
        wrong.open()
    # The failed InitInstrument was followed by ExitInstrument: the load is clean.
    with rk350.Instrument(lib=lib) as scope:
        assert scope.channel_count == 2
