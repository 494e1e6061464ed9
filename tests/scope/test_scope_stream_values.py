"""The records the scope streams hold the values ADC_GetDataVoltCh gives for
the same settings: the library's block readout, run here through ctypes on
a virtual card of this process."""
import ctypes
import os
import shutil
import tempfile
import time

import pytest

from scope_client import DEADLINE

c_double_p = ctypes.POINTER(ctypes.c_double)


class SimSource(ctypes.Structure):
    _fields_ = [("kind", ctypes.c_int32), ("amplitude", ctypes.c_double), ("frequency", ctypes.c_double),
                ("offset", ctypes.c_double), ("phase", ctypes.c_double), ("stepTime", ctypes.c_double),
                ("noise", ctypes.c_double)]


def library():
    """A copy of the virtual-card library of its own: a fresh card each time
    (an instrument is initialised once per loaded library)."""
    directory = tempfile.mkdtemp()
    copy = os.path.join(directory, "librk350_virtual_copy.so")
    shutil.copy(os.environ["RK350_VIRTUAL_LIBRARY"], copy)
    lib = ctypes.CDLL(copy)
    shutil.rmtree(directory)
    lib.SetDcLevel.argtypes = [ctypes.c_uint8, ctypes.c_double]
    lib.SetTriggerLevel.argtypes = [ctypes.c_uint8, ctypes.c_double]
    lib.SetFuncGenAmplitude.argtypes = [ctypes.c_double]
    lib.SetFuncGenDCOffset.argtypes = [ctypes.c_double]
    lib.SetFuncGenSymmetry.argtypes = [ctypes.c_double]
    lib.RK350Sim_SetInputSource.argtypes = [ctypes.c_uint8, ctypes.POINTER(SimSource)]
    return lib


def block_record(lib, ranges, rate, samples, post, trigger, sources=None, generator_hz=None):
    """Volts and held ranges of both channels from one block measurement."""
    def ok(result, call):
        assert result == 0, "%s answered %d" % (call, result)

    ok(lib.InitInstrument(0x288), "InitInstrument")
    try:
        for channel, source in (sources or {}).items():
            ok(lib.RK350Sim_SetInputSource(channel, ctypes.byref(source)), "RK350Sim_SetInputSource")
        if generator_hz is not None:
            ok(lib.SetFuncGenSignalType(0), "SetFuncGenSignalType")
            ok(lib.SetFuncGenAmplitude(1.0), "SetFuncGenAmplitude")
            ok(lib.SetFuncGenSymmetry(50.0), "SetFuncGenSymmetry")
            ok(lib.SetFuncGenOutputOn(1), "SetFuncGenOutputOn")
            ok(lib.SetFuncGenFrequency(ctypes.byref(ctypes.c_double(generator_hz))), "SetFuncGenFrequency")
        ok(lib.SetMeasureMode(3), "SetMeasureMode")
        ok(lib.RK350_SetSoftwareTrigger(1), "RK350_SetSoftwareTrigger")
        for channel, full_scale in ((1, ranges[0]), (2, ranges[1])):
            ok(lib.SetSensitivity(channel, ctypes.byref(ctypes.c_double(full_scale))), "SetSensitivity")
        ok(lib.SetSampleFrequencyF(ctypes.byref(ctypes.c_double(rate))), "SetSampleFrequencyF")
        ok(lib.SetRecordLength(samples), "SetRecordLength")
        ok(lib.SetPostSamples(post), "SetPostSamples")
        ok(lib.SetTriggerSource(trigger), "SetTriggerSource")
        ok(lib.SetTriggerLevel(1, 0.0), "SetTriggerLevel")
        ok(lib.ADC_Start(), "ADC_Start")
        end = time.monotonic() + DEADLINE
        while not lib.ADC_Ready():
            assert time.monotonic() < end, "the block measurement did not finish"
        result = []
        for channel in (1, 2):
            volts = (ctypes.c_double * samples)()
            ok(lib.ADC_GetDataVoltCh(channel, volts), "ADC_GetDataVoltCh")
            first, count = ctypes.c_int32(), ctypes.c_int32()
            ok(lib.RK350_GetValidRange(channel, ctypes.byref(first), ctypes.byref(count)), "RK350_GetValidRange")
            result.append((list(volts), [first.value, count.value]))
        return result
    finally:
        lib.ExitInstrument()


def streamed(scope, patch):
    status, state = scope.post(patch)
    assert status == 200, state
    stream = scope.stream()
    try:
        return stream.next_frame(state["version"])
    finally:
        stream.close()


def test_dc_levels_are_the_same_volts(scope):
    frame = streamed(scope, {"ch1": {"range": 2, "source": "dc:0:0:0.7"}, "ch2": {"range": 4, "source": "dc:0:0:-1.3"},
                             "trigger": {"source": "none"}, "preTrigger": 0, "samples": 5000})
    dc = [SimSource(kind=1, offset=0.7), SimSource(kind=1, offset=-1.3)]
    block = block_record(library(), (2.0, 4.0), 1e6, 5000, 5000, 9, sources={1: dc[0], 2: dc[1]})
    for trace, (volts, held) in zip(frame["channels"], block):
        assert trace["held"] == held == [0, 5000], trace["name"]
        assert trace["volts"] == volts, trace["name"]
    assert frame["channels"][0]["volts"][0] == 0.703125 and frame["channels"][1]["volts"][0] == -1.3125


def test_the_generator_sine_around_the_trigger(scope):
    frame = streamed(scope, {"generator": {"frequency": 1000, "amplitude": 1, "type": "sine"}, "preTrigger": 25})
    volts, held = block_record(library(), (2.0, 2.0), 1e6, 5000, 3750, 0, generator_hz=1000.0)[0]
    trace = frame["channels"][0]
    assert trace["held"] == held == [0, 5000]
    # Both records start at the trigger's sample; the sine's phase between
    # two samples differs from run to run, so the values agree within two
    # of the converter's steps (2 V / 128 each).
    step = 2.0 / 128
    assert max(abs(a - b) for a, b in zip(trace["volts"], volts)) <= 2 * step + 1e-12
    assert trace["volts"][frame["triggerIndex"]] == pytest.approx(0.0, abs=step)
