"""Loading, prototypes and errors: what holds without a card."""

import ctypes

import pytest

import rk350
from conftest import header_exports


def test_every_export_of_the_headers_has_a_prototype():
    declared = set(header_exports("rk350.h")) | set(header_exports("rk350_ext.h"))
    assert len(declared) > 110
    assert declared - set(rk350.PROTOTYPES) == set()
    assert set(rk350.PROTOTYPES) - declared == set()


def test_every_prototyped_export_is_in_both_flavours(lib):
    assert [name for name in rk350.PROTOTYPES if not hasattr(lib, name)] == []
    hardware = rk350.load_library("hardware", private_copy=True)
    assert [name for name in rk350.PROTOTYPES if not hasattr(hardware, name)] == []
    assert not hasattr(hardware, "RK350Sim_Reset")
    with pytest.raises(AttributeError):
        rk350.VirtualCard(hardware)


def test_library_is_found_by_environment(no_library_env, tmp_path):
    path = rk350.find_library("virtual")
    no_library_env.setenv("RK350_LIBRARY", path)
    assert rk350.find_library("hardware") == path  # an explicit file wins over the flavour
    no_library_env.setenv("RK350_LIBRARY", str(tmp_path / "missing.so"))
    with pytest.raises(rk350.LibraryNotFoundError):
        rk350.find_library("virtual")
    with pytest.raises(ValueError):
        rk350.find_library("quantum")


@pytest.mark.parametrize("code, cls, name", [
    (1, rk350.NoInstrumentError, "ResultNoInstrument"),
    (2, rk350.NotInitialisedError, "ResultNotInitialised"),
    (4, rk350.NotAvailableError, "ResultNotAvailable"),
    (8, rk350.NoGeneratorError, "ResultNoGenerator"),
    (16, rk350.InvalidChannelError, "ResultInvalidChannel"),
    (32, rk350.InvalidValueError, "ResultInvalidValue"),
])
def test_result_codes_map_to_exceptions_named_like_the_library(lib, code, cls, name):
    assert lib.RK350_ResultName(code).decode() == name
    assert cls.result_name == name
    assert issubclass(cls, rk350.RK350Error)
    api = rk350.instrument._Api(lib)
    with pytest.raises(cls) as caught:
        api.check(code, "SomeCall")
    assert caught.value.code == code
    assert name in str(caught.value) and "SomeCall" in str(caught.value)
    assert caught.value.text == lib.RK350_ResultText(code).decode()


def test_unknown_code_is_the_base_error(lib):
    api = rk350.instrument._Api(lib)
    with pytest.raises(rk350.RK350Error) as caught:
        api.check(3, "Combined")
    assert type(caught.value) is rk350.RK350Error
    assert caught.value.code == 3


def test_before_init_the_guarded_calls_raise_no_instrument(lib):
    instrument = rk350.Instrument(lib=lib)
    with pytest.raises(rk350.NoInstrumentError):
        instrument.channels[0].range = 2.0
    with pytest.raises(rk350.NoInstrumentError):
        instrument.generator.frequency = 1000
    with pytest.raises(rk350.NoInstrumentError):
        instrument.block(timeout=1)
    # Getters too: no instrument, no value.
    with pytest.raises(rk350.NoInstrumentError, match="not open"):
        instrument.sample_rate
    with pytest.raises(rk350.NoInstrumentError):
        instrument.record_length
    # Calls without a guard answer at once.
    assert lib.GetSquareWaveGenFrequency() == 0
    assert lib.SetFuncGenMode(0) == 4
    assert lib.RK350_Version().decode().count(".") == 2


def test_invalid_names_are_caught_before_the_library(lib):
    instrument = rk350.Instrument(lib=lib)
    with pytest.raises(ValueError):
        instrument.trigger_source = "ch7"
    with pytest.raises(ValueError):
        instrument.generator.signal_type = "sawtooth"
    with pytest.raises(ValueError):
        instrument.generator.load([])


def test_private_copies_have_their_own_state(lib):
    other = rk350.load_library("virtual", private_copy=True)
    buf = ctypes.c_uint32(1234)
    # A square wave frequency accepted by neither (no instrument): both stay 0.
    assert lib.SetSquareWaveGenFrequency(ctypes.byref(buf)) == 1
    assert lib.GetSquareWaveGenFrequency() == 0 and other.GetSquareWaveGenFrequency() == 0
    rk350.VirtualCard(lib).base_address = 0x300
    assert rk350.VirtualCard(other).base_address == 0x288


def test_every_virtual_card_control_has_a_prototype(lib):
    from rk350 import sim
    declared = {name[len("RK350Sim_"):] for name in header_exports("rk350_sim.h")}
    assert declared - set(sim.PROTOTYPES) == set()
    assert all(hasattr(lib, "RK350Sim_" + name) for name in declared)
