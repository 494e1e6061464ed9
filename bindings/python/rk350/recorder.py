"""Instrument.record: the engine's records into a recording, written by the
same recorder the capture tool uses (librk350_recorder, a small C interface
to it, built with the tools on Linux). Read the file with open_recording."""

import ctypes
import os
import time
from collections import namedtuple

import numpy as np

from ._library import find_helper

RecordingResult = namedtuple("RecordingResult", "path finished written lost bytes seconds ended")


class _Channel(ctypes.Structure):
    _fields_ = [("channel", ctypes.c_int32), ("codes", ctypes.POINTER(ctypes.c_uint8)),
                ("valid_first", ctypes.c_int32), ("valid_count", ctypes.c_int32), ("overrange", ctypes.c_int32),
                ("range", ctypes.c_double)]


class _Frame(ctypes.Structure):
    _fields_ = [("sequence", ctypes.c_uint64), ("host_time", ctypes.c_double), ("how", ctypes.c_uint32),
                ("trigger_index", ctypes.c_int64), ("sample_interval", ctypes.c_double),
                ("settings_version", ctypes.c_uint32), ("length", ctypes.c_uint32),
                ("channel_count", ctypes.c_uint32), ("channels", ctypes.POINTER(_Channel))]


_recorder = None


def _load():
    """librk350_recorder: RK350_RECORDER (a file), RK350_LIBRARY_DIR, the build
    trees and install places the driver library is looked for in."""
    global _recorder
    if _recorder is not None:
        return _recorder
    path = find_helper("librk350_recorder.so", "RK350_RECORDER")
    if path is None:
        raise OSError("cannot find librk350_recorder.so (built with the tools where HDF5 is installed); "
                      "set RK350_RECORDER to its file")
    lib = ctypes.CDLL(path)
    lib.rk350_recorder_open.restype = ctypes.c_void_p
    lib.rk350_recorder_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_char_p,
                                        ctypes.c_uint64, ctypes.c_uint64, ctypes.c_double]
    lib.rk350_recorder_offer.restype = ctypes.c_int32
    lib.rk350_recorder_offer.argtypes = [ctypes.c_void_p, ctypes.POINTER(_Frame)]
    lib.rk350_recorder_status.restype = None
    lib.rk350_recorder_status.argtypes = [ctypes.c_void_p] + [ctypes.POINTER(ctypes.c_uint64)] * 3 + [
        ctypes.POINTER(ctypes.c_int32)] * 2 + [ctypes.c_char_p, ctypes.c_uint32]
    lib.rk350_recorder_close.restype = None
    lib.rk350_recorder_close.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
    lib.rk350_recorder_free.restype = None
    lib.rk350_recorder_free.argtypes = [ctypes.c_void_p]
    _recorder = lib
    return lib


def _status(lib, handle):
    written, lost, size = ctypes.c_uint64(), ctypes.c_uint64(), ctypes.c_uint64()
    stopped, failed = ctypes.c_int32(), ctypes.c_int32()
    reason = ctypes.create_string_buffer(512)
    lib.rk350_recorder_status(handle, ctypes.byref(written), ctypes.byref(lost), ctypes.byref(size),
                              ctypes.byref(stopped), ctypes.byref(failed), reason, len(reason))
    return written.value, lost.value, size.value, bool(stopped.value), bool(failed.value), reason.value.decode()


def _lines(pairs):
    return "".join("%s=%s\n" % (k, str(v).replace("\n", " ")) for k, v in pairs.items()).encode()


def record(instrument, path, count=None, duration=None, max_size=None, split_size=None, split_duration=None):
    """Runs the engine and keeps every record it finishes in ``path``; see
    Instrument.record."""
    if count is None and duration is None:
        raise ValueError("record needs a count or a duration")
    lib = _load()
    identity = {"card": "RK350 %s at 0x%X, serial %s, calibrated %s; library %s (%s)" % (
        "virtual card" if instrument.flavour == "virtual" else "card", instrument.address, instrument.serial_number,
        instrument.calibration_date, instrument.version, instrument.lib._rk350_path)}
    settings = {"rate": instrument.sample_rate, "samples": instrument.record_length,
                "post-samples": instrument.record_length - instrument.pre_samples}
    handle = lib.rk350_recorder_open(os.fsencode(str(path)), _lines(identity), _lines(settings),
                                     b"recorded from Python", int(max_size or 0), int(split_size or 0),
                                     float(split_duration or 0))
    finished = 0
    start = time.monotonic()
    ended = "interrupted"
    try:
        for raw in instrument.continuous(count=count, raw=True):
            finished += 1
            codes = (np.asarray(raw) >> 8).astype(np.uint8)
            channels = [c for c in (1, 2) if int(raw.measure_mode) & c]
            slots = (_Channel * len(channels))()
            for slot, c in zip(slots, channels):
                first, held = raw.valid[c - 1]
                slot.channel, slot.valid_first, slot.valid_count = c, first, held
                slot.overrange, slot.range = int(bool(raw.overrange[c - 1])), raw.ranges[c - 1]
                slot.codes = codes[c - 1].ctypes.data_as(ctypes.POINTER(ctypes.c_uint8))
            frame = _Frame(finished, time.time(), int(raw.how or 0), raw.trigger_index, 1.0 / raw.sample_rate, 1,
                           codes.shape[1], len(channels), slots)
            lib.rk350_recorder_offer(handle, ctypes.byref(frame))  # copies the codes; a refusal counts as lost
            if _status(lib, handle)[3]:
                break
            if duration is not None and time.monotonic() - start >= duration:
                break
        ended = "the run's limit was reached"
    finally:
        lib.rk350_recorder_close(handle, ended.encode())
        written, lost, size, _, failed, reason = _status(lib, handle)
        lib.rk350_recorder_free(handle)
    if failed:
        raise OSError("the recording stopped: %s; %s holds the %d records before" % (reason, path, written))
    return RecordingResult(str(path), finished, written, lost, size, time.monotonic() - start, reason or ended)


__all__ = ["record", "RecordingResult"]
