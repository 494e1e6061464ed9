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


def test_a_failed_open_leaves_nothing_behind():
    # A wrong address, then the right one: in the same process, no restart.
    wrong = rk350.Instrument(address=0x300)
    with pytest.raises(rk350.NoInstrumentError):
        wrong.open()
    assert not wrong.is_open
    wrong.address = 0x288
    with wrong:
        assert wrong.channel_count == 2
    with rk350.Instrument() as fresh:
        assert fresh.channel_count == 2


def test_a_refused_second_instrument_keeps_no_one_from_opening_later():
    first, second = rk350.Instrument(), rk350.Instrument()
    first.open()
    with pytest.raises(rk350.OneInstrumentError, match="close that one first"):
        second.open()
    first.close()
    # The refused one let go of its load: the library left with the first.
    assert not _library._still_loaded(first.lib._rk350_path)
    with rk350.Instrument() as third:
        assert third.channel_count == 2
    with second:
        assert second.channel_count == 2


def test_every_entry_point_kept_from_a_closed_instrument_raises_library_unloaded():
    scope = rk350.Instrument().open()
    lib = scope.lib
    kept = [lib.GetRecordLength, lib.SetRecordLength, lib.RK350Sim_GetTime, lib.RK350_Version]
    card, channel, generator = scope.card, scope.channels[0], scope.generator
    scope.close()
    calls = [lambda: kept[0](), lambda: kept[1](1000), lambda: kept[2](), lambda: kept[3](),
             lambda: lib.GetRecordLength(), lambda: lib["ExitInstrument"](), lambda: card.time,
             lambda: card.set_source(2, "dc", offset=1.0), lambda: channel.range, lambda: generator.amplitude,
             lambda: scope.record_length, lambda: scope.block()]
    for call in calls:
        with pytest.raises(rk350.LibraryUnloadedError, match="unloaded when its Instrument closed"):
            call()
    # Still the closed-instrument error callers catch already.
    assert issubclass(rk350.LibraryUnloadedError, rk350.InstrumentClosedError)
