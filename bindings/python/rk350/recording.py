"""Reading the recordings the capture tool writes (rk350-capture --continuous
--record run.h5): each record as a Record with its metadata. h5py is needed
only here (Debian python3-h5py); the rest of the binding goes without it.

    with rk350.open_recording("run.h5") as recording:
        for record in recording:            # Records in volts, NaN where no sample was taken
            print(record.sequence, record.host_time, record.how, record.max(axis=1))

The file's layout is described in docs/recording.md.
"""

import math

import numpy as np

from .constants import MeasureMode, RecordTrigger
from .record import Record


def _h5py():
    try:
        import h5py
    except ImportError as e:  # pragma: no cover - depends on the machine
        raise ImportError("reading recordings needs h5py (Debian: apt-get install python3-h5py)") from e
    return h5py


class Recording:
    """An open recording: ``len()``, indexing and iteration give Records
    (shape (2, record_length), volts; a channel not recorded is NaN) with
    ``valid``, ``overrange``, ``ranges``, ``sample_rate``, ``trigger_index``,
    ``how`` and ``measure_mode`` set, and besides them ``sequence`` (1 for the
    run's first record; a gap is a record lost), ``host_time`` (seconds since
    1970, UTC) and ``settings_version``. ``attributes`` holds the card's
    identity and how the run ended, ``settings`` the card's settings by the
    settings table's names, ``lost`` the records the recorder could not keep.
    """

    def __init__(self, path):
        self.path = str(path)
        self._file = _h5py().File(self.path, "r")
        if self._file.attrs.get("format") != "rk350-recording":
            self._file.close()
            raise ValueError("%s is not an RK350 recording" % self.path)
        self.attributes = {k: _text(v) for k, v in self._file.attrs.items()}
        self.settings = {k: _text(v) for k, v in self._file["settings"].attrs.items()}
        self.channels = tuple(c for c in (1, 2) if "CH%d" % c in self._file)
        self.record_length = int(self._file.attrs["record_length"])
        # A run that was killed may hold codes beyond the last complete row
        # of the table: the table counts the records.
        self._rows = self._file["records"][:]

    @property
    def lost(self):
        """Records lost while this file was written (None when the run never closed it)."""
        lost = self._file.attrs.get("records_lost")
        return None if lost is None else int(lost)

    def __len__(self):
        return len(self._rows)

    def __getitem__(self, index):
        if isinstance(index, slice):
            return [self[i] for i in range(*index.indices(len(self)))]
        index = range(len(self))[index]
        row = self._rows[index]
        data = np.full((2, self.record_length), math.nan)
        valid, overrange, ranges = [(0, 0), (0, 0)], [False, False], [math.nan, math.nan]
        for c in self.channels:
            group = self._file["CH%d" % c]
            info = group["records"][index]
            first, count = int(info["valid_first"]), int(info["valid_count"])
            codes = group["codes"][index].astype(np.float64)
            volts = (codes - 128) * float(info["volts_per_code"])
            data[c - 1, first:first + count] = volts[first:first + count]
            valid[c - 1] = (first, count)
            overrange[c - 1] = bool(info["overrange"])
            ranges[c - 1] = float(info["range"])
        mode = sum(MeasureMode.CH1 if c == 1 else MeasureMode.CH2 for c in self.channels)
        how = int(row["trigger"])
        record = Record.create(data, valid=tuple(valid), overrange=tuple(overrange),
                               sample_rate=1.0 / float(row["sample_interval"]),
                               trigger_index=int(row["trigger_index"]), ranges=tuple(ranges),
                               measure_mode=MeasureMode(mode), how=RecordTrigger(how) if how else None, raw=False)
        record.sequence = int(row["sequence"])
        record.host_time = float(row["host_time"])
        record.settings_version = int(row["settings_version"])
        return record

    def __iter__(self):
        for i in range(len(self)):
            yield self[i]

    def close(self):
        self._file.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def __repr__(self):
        return "<Recording %s: %d records of %d samples, channels %s>" % (
            self.path, len(self), self.record_length, self.channels)


def _text(value):
    return value.decode() if isinstance(value, bytes) else value


def open_recording(path):
    """Opens a recording for reading (see Recording)."""
    return Recording(path)
