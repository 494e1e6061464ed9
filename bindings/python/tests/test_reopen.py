"""An Instrument that loads its own library unloads it at close() and loads it
afresh at open(): a new instrument (and a new virtual card) each time, with
no private copy of the file. These tests load the library's own file, so no
other test of this process may keep a load of that file."""

import pytest

import rk350
from rk350 import _library


def test_close_and_open_again_start_a_fresh_instrument_and_card():
    scope = rk350.Instrument()
    default_rate = None
    for cycle in range(5):
        scope.open()
        if default_rate is None:
            default_rate = scope.sample_rate
        # Every cycle starts from the defaults, whatever the last one set.
        assert scope.sample_rate == default_rate, cycle
        assert scope.card.base_address == 0x288, cycle
        scope.sample_rate = 1e6
        scope.card.base_address = 0x300  # the next InitInstrument(0x288) would find no card
        stale_card = scope.card
        scope.close()
    # What was taken from a closed instrument does not call into the unloaded
    # library: it says what happened.
    with pytest.raises(rk350.LibraryUnloadedError, match="unloaded when its Instrument closed"):
        stale_card.base_address
    with pytest.raises(rk350.InstrumentClosedError):
        scope.sample_rate
    assert not _library._still_loaded(scope.lib._rk350_path)


def test_a_second_instrument_opens_after_the_first_closed():
    first, second = rk350.Instrument(), rk350.Instrument()
    with first:
        first.generator.configure("sine", frequency=1000, amplitude=1.0)
    # `second` loaded the same module before `first` spent it; it loads afresh.
    with second:
        assert second.channel_count == 2
        assert not second.generator.output


def test_another_load_of_the_file_keeps_it_and_the_error_says_so():
    holder = rk350.load_library("virtual")
    scope = rk350.Instrument()
    scope.open().close()
    with pytest.raises(rk350.OneInstrumentError, match="keeps it from unloading"):
        scope.open()
    assert not scope.is_open
    # Once that other load is released the library unloads and opens fresh.
    rk350.unload_library(holder)
    with scope:
        assert scope.channel_count == 2
    with pytest.raises(rk350.LibraryUnloadedError):
        holder.InitInstrument(0x288)


def test_a_library_passed_in_is_never_unloaded_by_the_instrument(lib):
    with rk350.Instrument(lib=lib):
        pass
    assert lib.GetSquareWaveGenFrequency() == 0  # still callable: the caller owns it
    with pytest.raises(rk350.OneInstrumentError, match="loads its own library"):
        rk350.Instrument(lib=lib).open()


def test_where_libraries_do_not_unload_the_way_out_is_a_private_copy(monkeypatch):
    import rk350.instrument
    monkeypatch.setattr(rk350.instrument, "can_unload", lambda: False)
    scope = rk350.Instrument(private_copy=True)
    scope.open().close()
    assert scope.lib.GetSquareWaveGenFrequency() == 0  # kept loaded, still callable
    with pytest.raises(rk350.OneInstrumentError, match="private_copy=True"):
        scope.open()
