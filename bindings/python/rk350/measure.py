"""Record.measure: the figures the capture tool's summary shows, computed by
the same measurement module (librk350_measure, a small C interface to it,
built with the tools on Linux), not by a second implementation here."""

import ctypes
import math
from collections import namedtuple

import numpy as np

from ._library import find_helper

Figure = namedtuple("Figure", "value unit label uncertainty text reason")
Figure.__doc__ = """One figure of a channel's record: ``value`` in ``unit`` (None when the
record does not have it, ``reason`` then says why where the module knows),
``uncertainty`` (three standard deviations; None where the module gives
none), ``text`` as the capture tool's summary shows it ("10.000 kHz")."""


class _Figure(ctypes.Structure):
    _fields_ = [("key", ctypes.c_char_p), ("label", ctypes.c_char_p), ("unit", ctypes.c_char_p),
                ("measured", ctypes.c_int32), ("value", ctypes.c_double), ("uncertainty", ctypes.c_double),
                ("reason", ctypes.c_char_p), ("text", ctypes.c_char * 48)]


_measure = None


def _load():
    global _measure
    if _measure is None:
        path = find_helper("librk350_measure.so", "RK350_MEASURE")
        if path is None:
            raise OSError("cannot find librk350_measure.so (built with the tools); set RK350_MEASURE to its file")
        lib = ctypes.CDLL(path)
        lib.rk350_measure_count.restype = ctypes.c_uint32
        lib.rk350_measure_count.argtypes = []
        lib.rk350_measure.restype = ctypes.c_int32
        lib.rk350_measure.argtypes = [ctypes.POINTER(ctypes.c_double), ctypes.c_uint32, ctypes.c_double,
                                      ctypes.c_double, ctypes.POINTER(_Figure), ctypes.c_uint32]
        _measure = lib
    return _measure


def _volts(record, row, channel):
    """One channel's volts, NaN where no sample is held (raw counts converted
    as the library converts them: (code - 128) / 128 x range)."""
    data = np.asarray(row, dtype=float)
    if not record.raw:
        return np.ascontiguousarray(data)
    volts = (np.floor(data / 256) - 128) / 128 * record.ranges[channel - 1]
    first, count = record.valid[channel - 1]
    held = np.zeros(len(volts), dtype=bool)
    held[first:first + count] = True
    return np.ascontiguousarray(np.where(held, volts, math.nan))


def measure_channel(volts, sample_interval, full_scale):
    """The figures of one channel's volts (NaN: no sample), a dict by key."""
    lib = _load()
    volts = np.ascontiguousarray(volts, dtype=np.float64)
    full_scale = 0.0 if full_scale is None or not math.isfinite(full_scale) else float(full_scale)
    figures = (_Figure * lib.rk350_measure_count())()
    n = lib.rk350_measure(volts.ctypes.data_as(ctypes.POINTER(ctypes.c_double)), len(volts),
                          float(sample_interval), full_scale, figures, len(figures))
    if n < 0:
        raise ValueError("these samples cannot be measured (sample interval %r s, range %r V)"
                         % (sample_interval, full_scale))
    result = {}
    for f in figures[:n]:
        result[f.key.decode()] = Figure(
            f.value if f.measured else None, f.unit.decode(), f.label.decode(),
            f.uncertainty if f.measured and math.isfinite(f.uncertainty) else None,
            f.text.decode() if f.measured else None, f.reason.decode() if f.reason else None)
    return result


def measure_record(record):
    """See Record.measure."""
    if not math.isfinite(record.sample_rate) or record.sample_rate <= 0:
        raise ValueError("a record without its sample rate cannot be measured")
    interval = 1.0 / record.sample_rate
    if record.ndim == 1:
        channel = record.channels[0]
        return measure_channel(_volts(record, record, channel), interval, record.ranges[channel - 1])
    if record.ndim != 2:
        raise ValueError("a record of shape %s is no channel's record" % (record.shape,))
    return {c: measure_channel(_volts(record, record[c - 1], c), interval, record.ranges[c - 1])
            for c in record.channels}


__all__ = ["Figure", "measure_channel", "measure_record"]
