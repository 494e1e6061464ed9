"""A measured record with what it was taken with, its times and its files."""

import decimal
import math
import operator

import numpy as np

from .constants import MeasureMode, RecordTrigger

# What a record knows about itself, with the value of a record that knows
# nothing (a plain array viewed as a Record).
_METADATA = {
    "valid": ((0, 0), (0, 0)),
    "overrange": (False, False),
    "sample_rate": math.nan,
    "trigger_index": 0,
    "ranges": (math.nan, math.nan),
    "measure_mode": MeasureMode.CH12,
    "how": None,
    "raw": False,
}


class Record(np.ndarray):
    """A measured record, shape (2, record_length): volts (NaN at positions
    that hold no sample) or raw counts (0x8000 there), with what it was taken
    with:

    - ``valid[c]``: the (first, count) of positions of channel c + 1 that
      hold samples; ``overrange[c]``: whether one of them lies at the end of
      the range (the signal may be clipped), as the library reports them;
    - ``sample_rate`` (Hz) and ``sample_interval`` (s), ``trigger_index`` (the
      position of the trigger instant: the pre-trigger samples), ``t0`` (the
      time of position 0, 0 s at the trigger);
    - ``ranges``: each channel's full scale in volts; ``measure_mode`` and
      ``channels``: the channels read;
    - ``how``: how the card took it (a RecordTrigger: triggered, forced,
      free run), or None where the library does not say;
    - ``raw``: counts instead of volts.

    Slices stay true: ``r[0]`` is channel 1's record (its measure mode says
    so), ``r[:, a:b:s]`` and ``r[0, a:b:s]`` carry the rate divided by the
    step, the trigger index and valid ranges in the slice's positions (the
    trigger index may then be fractional, or outside the slice), so
    ``times()``, ``complete`` and ``to_csv()`` describe the slice. Any other
    index (a position, a list, a mask, a reversed slice) gives a plain numpy
    array, and reductions (``np.nanmax(r[0])``, ``r.mean(axis=1)``) give
    plain numbers and arrays.
    """

    def __array_finalize__(self, obj):
        for name, default in _METADATA.items():
            setattr(self, name, getattr(obj, name, default))

    def __array_wrap__(self, obj, context=None, *args):
        # A result of another shape (a reduction) is no record of these samples.
        if obj.shape != self.shape:
            plain = obj.view(np.ndarray)
            return plain[()] if plain.ndim == 0 else plain
        return np.ndarray.__array_wrap__(self, obj, context, *args)

    def __getitem__(self, key):
        result = np.ndarray.__getitem__(self, key)
        if not isinstance(result, Record):
            return result
        metadata = self._sliced_metadata(key)
        if metadata is None:
            return result.view(np.ndarray)
        for name, value in metadata.items():
            setattr(result, name, value)
        return result

    def _sliced_metadata(self, key):
        """The metadata of ``self[key]``, or None where none fits."""
        key = key if isinstance(key, tuple) else (key,)
        if self.ndim == 2 and len(key) <= 2:
            channel, positions = (key + (slice(None),) * 2)[:2]
        elif self.ndim == 1 and len(key) == 1:
            channel, positions = slice(None), key[0]
        else:
            return None
        metadata = self.metadata
        if channel != slice(None):
            try:
                index = operator.index(channel)
            except TypeError:
                return None
            if isinstance(channel, bool) or not -2 <= index < 2:
                return None
            metadata["measure_mode"] = MeasureMode(index % 2 + 1)
        if not isinstance(positions, slice):
            return None
        start, stop, step = positions.indices(self.shape[-1])
        if step < 0:
            return None
        length = len(range(start, stop, step))

        def position(i):  # the slice's position of the record's position i, rounded up, within the slice
            return min(length, max(0, -(-(i - start) // step)))

        metadata["valid"] = tuple((position(first), position(first + count) - position(first)) if count > 0
                                  else (0, 0) for first, count in self.valid)
        metadata["sample_rate"] = self.sample_rate / step
        ti = (self.trigger_index - start) / step
        metadata["trigger_index"] = int(ti) if ti == int(ti) else ti
        return metadata

    @classmethod
    def create(cls, data, **metadata):
        """A Record over ``data`` with the given metadata (names as above)."""
        record = np.asarray(data).view(cls)
        for name, value in metadata.items():
            if name not in _METADATA:
                raise TypeError("a Record has no %r" % name)
            setattr(record, name, value)
        return record

    @property
    def metadata(self):
        """The metadata as a dict (what ``create`` takes)."""
        return {name: getattr(self, name) for name in _METADATA}

    @property
    def sample_interval(self):
        return 1.0 / self.sample_rate

    @property
    def t0(self):
        """Seconds of position 0 relative to the trigger instant."""
        return -self.trigger_index / self.sample_rate

    @property
    def channels(self):
        """The channel numbers the measure mode read (1, 2)."""
        mode = int(self.measure_mode)
        return tuple(c for c in (1, 2) if mode & c) or (1,)

    @property
    def complete(self):
        """Every position of every channel read holds a sample."""
        read = [count for _, count in self.valid if count > 0]
        return bool(read) and all(count == self.shape[-1] for count in read)

    @property
    def triggered(self):
        """True when a trigger condition took the record, False when it was
        forced or free-running, None where the library does not say."""
        if self.how is None:
            return None
        return self.how in (RecordTrigger.TRIGGERED_CARD, RecordTrigger.TRIGGERED_SOFTWARE)

    def times(self):
        """Seconds of each position relative to the trigger instant, from the
        record's own sample rate and trigger index (not the current settings)."""
        return (np.arange(self.shape[-1]) - self.trigger_index) / self.sample_rate

    def measure(self):
        """The figures of the capture tool's summary, by the same measurement
        module (librk350_measure): for a one-channel record (``r[0]``) a dict
        by key (``"frequency"``, ``"period"``, ``"peakToPeak"``, ``"minimum"``,
        ``"maximum"``, ``"mean"``, ``"rms"``, ``"acRms"``, ``"dutyCycle"``,
        ``"riseTime"``, ``"fallTime"``, ``"overshoot"``) of Figures (value,
        unit, label, uncertainty, text, reason); for a two-row record a dict
        of those by channel number (the channels read). Only the record's own
        held samples count: a slice measures the samples it holds. A figure
        the record does not have has the value None, never a number."""
        from .measure import measure_record
        return measure_record(self)

    # ---- files
    def save_npz(self, path):
        """Writes the data, the times and the metadata to a numpy .npz file
        (``Record.load_npz`` reads it back)."""
        meta = self.metadata
        np.savez(path, data=np.asarray(self), times=self.times(), valid=np.asarray(meta["valid"]),
                 overrange=np.asarray(meta["overrange"]), sample_rate=meta["sample_rate"],
                 trigger_index=meta["trigger_index"], ranges=np.asarray(meta["ranges"], dtype=float),
                 measure_mode=int(meta["measure_mode"]), how=-1 if meta["how"] is None else int(meta["how"]),
                 raw=meta["raw"])

    @classmethod
    def load_npz(cls, path):
        with np.load(path) as f:
            how = int(f["how"])
            return cls.create(f["data"], valid=tuple(tuple(int(v) for v in pair) for pair in f["valid"]),
                              overrange=tuple(bool(v) for v in f["overrange"]), sample_rate=float(f["sample_rate"]),
                              trigger_index=int(f["trigger_index"]), ranges=tuple(float(v) for v in f["ranges"]),
                              measure_mode=MeasureMode(int(f["measure_mode"])),
                              how=None if how < 0 else RecordTrigger(how), raw=bool(f["raw"]))

    def csv_notes(self):
        """The '# ' lines of the CSV, as the capture tool writes its own."""
        rate = np.format_float_positional(self.sample_rate, trim="-")
        notes = ["sample rate: %s Hz" % rate,
                 "record: %d samples, %s before the trigger; time_s is 0 at the trigger"
                 % (self.shape[-1], format_number(self.trigger_index))]
        for c in self.channels:
            first, count = self.valid[c - 1]
            notes.append("CH%d: range \u00b1%s V, samples at %d .. %d%s" % (
                c, format_number(self.ranges[c - 1]), first, first + count - 1,
                ", overrange (the signal may be clipped)" if self.overrange[c - 1] else ""))
        notes.append("taken: %s" % ("not reported by the library" if self.how is None else self.how.name.lower()))
        notes.append("values: the converters' 8-bit codes; volts = (code - 128) / 128 x range" if self.raw
                     else "values: volts")
        return notes

    def to_csv(self, path):
        """Writes the CSV the capture tool writes: a header ``time_s,CH1_V,CH2_V``
        (``_code`` with raw counts, as 8-bit codes), '# ' notes, one row per
        position; a position without a sample is an empty cell."""
        if self.ndim != 2:
            raise ValueError("a CSV is written from a whole record, shape (2, n), not %s" % (self.shape,))
        channels = self.channels
        unit = "_code" if self.raw else "_V"
        data = np.asarray(self)
        columns = []
        for c in channels:
            first, count = self.valid[c - 1]
            row = data[c - 1]
            cells = [str(int(v) >> 8) if self.raw else format_number(float(v)) for v in row]
            for i in range(len(cells)):
                if not first <= i < first + count or (not self.raw and math.isnan(row[i])):
                    cells[i] = ""
            columns.append(cells)
        times = [format_number(t) for t in self.times()]
        with open(path, "w", newline="") as out:
            out.write("time_s," + ",".join("CH%d%s" % (c, unit) for c in channels) + "\n")
            for note in self.csv_notes():
                out.write("# " + note + "\n")
            for i, t in enumerate(times):
                out.write(t + "," + ",".join(column[i] for column in columns) + "\n")


def format_number(value):
    """The shortest text that reads back as the value, fixed or scientific
    whichever is shorter (fixed on a tie), as the capture tool writes numbers:
    0.25, 1e-06, 1.5e+07."""
    if math.isnan(value) or math.isinf(value):
        return repr(value)
    if value == 0:
        return "0"
    sign, digits, exponent = decimal.Decimal(repr(float(value))).normalize().as_tuple()
    text = "".join(str(d) for d in digits)
    count = len(text)
    power = exponent + count - 1
    scientific = text[0] + ("." + text[1:] if count > 1 else "") + "e%s%02d" % ("-" if power < 0 else "+", abs(power))
    if exponent >= 0:
        fixed = text + "0" * exponent
    elif -exponent < count:
        fixed = text[:count + exponent] + "." + text[count + exponent:]
    else:
        fixed = "0." + "0" * (-exponent - count) + text
    return ("-" if sign else "") + (scientific if len(scientific) < len(fixed) else fixed)
