"""The Pythonic instrument: settings as properties, measurements as numpy arrays."""

import ctypes
import datetime
import time

import numpy as np

from ._library import can_unload, load_library, reload_library, unload_library
from .errors import InstrumentClosedError, OneInstrumentError, RK350Error, error_for

TRIGGER_SOURCES = {"ch1": 0, "ch2": 1, "external": 4, "and": 6, "or": 7, "xor": 8, "none": 9}
SIGNAL_TYPES = {"sine": 0, "triangle": 1, "square": 2, "dc": 3, "noise": 4, "arbitrary": 5}
MEASURE_MODES = {"ch1": 1, "ch2": 2, "ch12": 3, "xy": 16}
_SOURCE_NAMES = {v: k for k, v in TRIGGER_SOURCES.items()}
_SIGNAL_NAMES = {v: k for k, v in SIGNAL_TYPES.items()}

_f64 = ctypes.c_double
_u8 = ctypes.c_uint8
_u16 = ctypes.c_uint16
_u32 = ctypes.c_uint32


def _code(value, table, what):
    if isinstance(value, str):
        try:
            return table[value.lower()]
        except KeyError:
            raise ValueError("unknown %s %r; one of %s" % (what, value, ", ".join(table))) from None
    return int(value)


def _setting(getter, setter=None, ctype=_f64, encode=None, decode=None, by_ref=False, set_ctype=None, doc=None):
    """A property over a getter export and, if given, a setter export.

    The getter answers through an out-pointer of ``ctype`` (``ctype=None``: it
    answers with its value). The setter takes ``encode(value)`` as a
    ``ctype`` (or ``set_ctype``) argument, through a pointer when ``by_ref``.
    The owning class supplies ``_read(name, ctype)`` and ``_write(name,
    value)`` (see _Settings), which add its channel number where the export
    takes one.
    """
    set_ctype = set_ctype or ctype

    def fget(self):
        value = self._read(getter, ctype)
        return decode(value) if decode else value

    def fset(self, value):
        plain = encode(value) if encode else value
        argument = set_ctype(plain)
        if isinstance(plain, int) and argument.value != plain:
            # ctypes would wrap it silently into a valid-looking code.
            raise ValueError("%s: %r does not fit the call's argument" % (setter, value))
        self._write(setter, ctypes.byref(argument) if by_ref else argument)

    return property(fget, fset if setter else None, doc=doc)


def _flag(on):
    return 1 if on else 0


class _Settings:
    """Reads and writes of the exports that take no channel number."""

    def _read(self, name, ctype):
        return self._api.read(name, ctype)

    def _write(self, name, value):
        self._api(name, value)


# The library holds one instrument per process (per loaded module). What
# each loaded module has served, by its handle: "open" while an Instrument
# uses it, "closed" once that instrument was closed.
_LIBRARY_USE = {}


def _key(lib):
    return getattr(lib, "_handle", id(lib))


def _claim_library(lib, address, reloads):
    state = _LIBRARY_USE.get(_key(lib))
    if state == "open":
        raise OneInstrumentError(
            "InitInstrument(0x%X)" % address,
            "the library holds one instrument per process, and another Instrument is open on it: close that "
            "one first, or give this one a library of its own with Instrument(private_copy=True)")
    if state == "closed" and reloads:
        raise OneInstrumentError(
            "InitInstrument(0x%X)" % address,
            "the library holds one instrument per process, and this process's instrument was closed; another "
            "load of the same library in this process keeps it from unloading (an Instrument not yet closed, "
            "or a load_library() result): close or delete those, or use Instrument(private_copy=True)")
    if state == "closed":
        raise OneInstrumentError(
            "InitInstrument(0x%X)" % address,
            "the library holds one instrument per process, and this process's instrument was closed; the "
            "loaded library cannot start another: use Instrument(private_copy=True) (a fresh copy of the "
            "library), an Instrument() that loads its own library where libraries unload (it unloads at close "
            "and loads afresh at open), or a new process")
    _LIBRARY_USE[_key(lib)] = "open"


def _release_library(lib):
    _LIBRARY_USE[_key(lib)] = "closed"


class _Api:
    """Calls exports and turns result codes into exceptions."""

    def __init__(self, lib):
        self.lib = lib
        self.open = False

    def text(self, code):
        name = self.lib.RK350_ResultText(code)
        return name.decode() if name else None

    def check(self, code, call):
        if code:
            raise error_for(code, call, self.text(code))

    def require_open(self, call):
        if not self.open:
            raise InstrumentClosedError(call)

    def __call__(self, name, *args):
        self.require_open(name)
        self.check(getattr(self.lib, name)(*args), name)

    def value(self, name, *args):
        """An export that answers with its value instead of a result code."""
        self.require_open(name)
        return getattr(self.lib, name)(*args)

    def read(self, name, ctype, *args):
        """A getter export: through an out-pointer of ctype, or (ctype None) its value."""
        if ctype is None:
            return self.value(name, *args)
        value = ctype()
        self(name, *args, ctypes.byref(value))
        return value.value


class Record(np.ndarray):
    """A measured record, shape (2, record_length): volts (NaN at positions
    that hold no sample) or raw counts (0x8000 there).

    ``valid[c]`` is the (first, count) of positions of channel c + 1 that hold
    samples, ``overrange[c]`` whether one of them lies at the end of the range
    (the signal may be clipped), as the library reports them.
    """

    def __array_finalize__(self, obj):
        self.valid = getattr(obj, "valid", ((0, 0), (0, 0)))
        self.overrange = getattr(obj, "overrange", (False, False))

    @property
    def complete(self):
        """Every position of every channel read holds a sample."""
        read = [count for _, count in self.valid if count > 0]
        return bool(read) and all(count == self.shape[-1] for count in read)


class Channel:
    """Settings of one input channel (numbered from 1)."""

    def __init__(self, api, number):
        self._api = api
        self.number = number

    def __repr__(self):
        return "<Channel %d>" % self.number

    def _read(self, name, ctype):
        return self._api.read(name, ctype, self.number)

    def _write(self, name, value):
        self._api(name, self.number, value)

    range = _setting("GetSensitivity", "SetSensitivity", by_ref=True,
                     doc="Full scale in volts. Setting chooses the nearest offered range.")
    auto_ranging = _setting("GetAutoRanging", "SetAutoRanging", _u8, encode=_flag, decode=bool)
    coupling = _setting("GetCoupling", "SetCoupling", _u8, encode=int, doc="Coupling code, 0 or 1.")
    dc_level = _setting("GetDcLevel", "SetDcLevel", encode=float,
                        doc="Input offset in volts, within twice the range.")
    trigger_level = _setting("GetTriggerLevel", "SetTriggerLevel", encode=float,
                             doc="Trigger level in volts (stored in comparator counts: it scales with the range).")
    trigger_hysteresis = _setting("GetTriggerHys", "SetTriggerHys", encode=float)
    trigger_mode = _setting("GetTriggerModeCh", "SetTriggerModeCh", _u8, encode=int)


class Generator(_Settings):
    """The function generator (on the virtual card looped back to channel 1)."""

    def __init__(self, api):
        self._api = api

    @property
    def present(self):
        return self._api.value("GetFunctionGenStatus") == 0

    max_amplitude = _setting("GetFuncGenMaxAmplitude")
    signal_type = _setting("GetFuncGenSignalType", "SetFuncGenSignalType", _u16,
                           encode=lambda kind: _code(kind, SIGNAL_TYPES, "signal type"), decode=_SIGNAL_NAMES.get,
                           doc="'sine', 'triangle', 'square', 'dc', 'noise' or 'arbitrary' (set also by number).")
    frequency = _setting("GetFuncGenFrequency", "SetFuncGenFrequency", by_ref=True)

    def set_frequency(self, hertz):
        """Sets the frequency and returns the one in effect (limited to 5 MHz while running)."""
        value = _f64(hertz)
        self._api("SetFuncGenFrequency", ctypes.byref(value))
        return value.value

    amplitude = _setting("GetFuncGenAmplitude", "SetFuncGenAmplitude", encode=float,
                         doc="Peak volts: a sine of amplitude A and offset O swings from O - A to O + A.")
    offset = _setting("GetFuncGenDCOffset", "SetFuncGenDCOffset", encode=float)
    symmetry = _setting("GetFuncGenSymmetry", "SetFuncGenSymmetry", encode=float, doc="Percent, 0 .. 100.")
    output = _setting("GetFuncGenOutputOn", "SetFuncGenOutputOn", _u16, encode=_flag, decode=bool)

    def configure(self, signal_type="sine", frequency=1000.0, amplitude=1.0, offset=0.0, symmetry=50.0, output=True):
        """Sets everything at once; returns the frequency in effect."""
        self.signal_type = signal_type
        self.amplitude = amplitude
        self.offset = offset
        self.symmetry = symmetry
        self.output = output
        return self.set_frequency(frequency)

    def load(self, samples):
        """Loads an arbitrary waveform (unsigned 16-bit samples) and selects it."""
        data = np.ascontiguousarray(samples, dtype=np.uint16)
        if data.ndim != 1 or not 1 <= data.size <= 65536:
            raise ValueError("a waveform holds 1 to 65536 samples")
        self._api("FillFuncGenMemory", data.size, data.ctypes.data_as(ctypes.POINTER(_u16)))
        self.signal_type = "arbitrary"

    def square_wave(self, hertz):
        """The square wave generator: 2.5 V square at this frequency, output on."""
        value = _u32(int(hertz))
        self._api("SetSquareWaveGenFrequency", ctypes.byref(value))
        return value.value


class Instrument(_Settings):
    """One RK350 card.

    >>> with Instrument() as scope:            # the virtual card at 0x288
    ...     scope.sample_rate = 1e6
    ...     volts = scope.block()              # shape (2, record_length)

    ``flavour`` is "virtual" (default) or "hardware"; ``library`` names the
    file to load instead of searching (see ``find_library``). The library
    holds one instrument per process. An Instrument that loads its own library
    (no ``lib=``) unloads it at close() and loads it afresh at the next open(),
    where the platform unloads libraries (Linux); elsewhere, and for a library
    passed as ``lib=``, a new instrument needs a fresh library
    (``private_copy=True`` loads one).
    """

    def __init__(self, address=0x288, flavour="virtual", library=None, private_copy=False, lib=None,
                 software_trigger=True):
        self.address = address
        self.flavour = flavour
        self._owns_library = lib is None
        self._unloaded = False
        self.lib = lib if lib is not None else load_library(flavour, library, private_copy)
        self._api = _Api(self.lib)
        self.channels = (Channel(self._api, 1), Channel(self._api, 2))
        self.generator = Generator(self._api)
        self._software_trigger = software_trigger

    # ---- lifecycle
    def open(self):
        """InitInstrument; the software trigger (complete records) is switched on
        unless the Instrument was made with ``software_trigger=False``."""
        if self._api.open:
            return self
        if self._owns_library and can_unload() and _LIBRARY_USE.get(_key(self.lib)) == "closed":
            # Another Instrument closed the instrument of this library.
            if unload_library(self.lib):
                _LIBRARY_USE.pop(_key(self.lib), None)
            self._unloaded = True
        if self._unloaded:
            self.lib = self._api.lib = reload_library(self.lib)
            self._unloaded = False
        _claim_library(self.lib, self.address, self._owns_library and can_unload())
        code = self.lib.InitInstrument(self.address)
        if code:
            _LIBRARY_USE.pop(_key(self.lib), None)
            self._api.check(code, "InitInstrument(0x%X)" % self.address)
        self._api.open = True
        self.software_trigger = self._software_trigger
        return self

    def close(self):
        if self._api.open:
            self.lib.ExitInstrument()
            self._api.open = False
            if self._owns_library and can_unload():
                # Unloaded, the library leaves no spent state behind: the next
                # open() loads it afresh and starts a new instrument.
                if unload_library(self.lib):
                    _LIBRARY_USE.pop(_key(self.lib), None)
                else:
                    _release_library(self.lib)
                self._unloaded = True
            else:
                _release_library(self.lib)

    @property
    def is_open(self):
        return self._api.open

    @property
    def software_trigger(self):
        """Complete records: the library finds the trigger in a free-running
        record (RK350_SetSoftwareTrigger); False uses the card's own trigger."""
        value = _u32()
        self._api("RK350_GetSoftwareTrigger", ctypes.byref(value))
        return bool(value.value)

    @software_trigger.setter
    def software_trigger(self, on):
        self._api("RK350_SetSoftwareTrigger", 1 if on else 0)

    def __enter__(self):
        return self.open()

    def __exit__(self, *exc):
        self.close()

    @property
    def card(self):
        """Control of the virtual card (virtual flavour only)."""
        from .sim import VirtualCard
        return VirtualCard(self.lib)

    def channel(self, number):
        """Channel 1 or 2."""
        if number not in (1, 2):
            raise ValueError("the RK350 has channels 1 and 2, not %r" % (number,))
        return self.channels[number - 1]

    # ---- identity
    @property
    def version(self):
        return self._api.value("RK350_Version").decode()

    serial_number = _setting("GetSerialNumber", ctype=ctypes.c_int32)

    @property
    def calibration_date(self):
        value = _u32()
        self._api("GetCalibrationDate", ctypes.byref(value))
        packed = value.value
        return datetime.date(packed & 0xFFFF, (packed >> 16) & 0xFF, packed >> 24)

    channel_count = _setting("GetNrChannels", ctype=_u16)
    max_sample_rate = _setting("GetMaxSampleFrequencyF", ctype=None)
    max_record_length = _setting("GetMaxRecordLength", ctype=None)

    def available_ranges(self):
        values = (_f64 * 20)()
        self._api("GetAvailableSensitivities", values)
        return sorted(v for v in values if v > 0)

    # ---- timebase and record
    sample_rate = _setting("GetSampleFrequencyF", "SetSampleFrequencyF", None, by_ref=True, set_ctype=_f64,
                           doc="Hz; setting rounds to a rate the card reaches (read it back).")

    @property
    def record_length(self):
        return self._api.value("GetRecordLength")

    @record_length.setter
    def record_length(self, samples):
        samples = int(samples)
        if samples < self.post_samples:
            raise ValueError("a record of %d samples cannot hold the %d post-trigger samples: lower post_samples "
                             "first, or set both with set_record(length, post)" % (samples, self.post_samples))
        self._api("SetRecordLength", samples)

    @property
    def post_samples(self):
        return self._api.value("GetPostSamples")

    @post_samples.setter
    def post_samples(self, samples):
        samples = int(samples)
        if samples > self.record_length:
            raise ValueError("%d post-trigger samples do not fit a record of %d samples: raise record_length "
                             "first, or set both with set_record(length, post)" % (samples, self.record_length))
        self._api("SetPostSamples", samples)

    def set_record(self, length, post):
        """Record length and post-trigger samples together, in an order the library accepts."""
        length, post = int(length), int(post)
        if post > length:
            raise ValueError("%d post-trigger samples do not fit a record of %d samples" % (post, length))
        if length >= self.post_samples:
            self.record_length = length
            self.post_samples = post
        else:
            self.post_samples = post
            self.record_length = length

    @property
    def pre_samples(self):
        return self.record_length - self.post_samples

    measure_mode = _setting("GetMeasureMode", "SetMeasureMode", _u8,
                            encode=lambda mode: _code(mode, MEASURE_MODES, "measure mode"))
    resolution = _setting("GetResolution", ctype=_u8)

    # ---- trigger
    trigger_source = _setting("GetTriggerSource", "SetTriggerSource", _u8,
                              encode=lambda source: _code(source, TRIGGER_SOURCES, "trigger source"),
                              decode=lambda code: _SOURCE_NAMES.get(code, code),
                              doc="'ch1', 'ch2', 'external', 'and', 'or', 'xor', 'none' (or the number).")
    trigger_mode = _setting("GetTriggerMode", "SetTriggerMode", _u8, encode=int)

    @property
    def trigger_timeout(self):
        """Seconds, or None to wait for a trigger without limit."""
        ms = self._api.value("GetTriggerTimeOut")
        return None if ms == -1 else ms / 1000.0

    @trigger_timeout.setter
    def trigger_timeout(self, seconds):
        self._api("SetTriggerTimeOut", 0xFFFFFFFF if seconds is None else int(round(seconds * 1000)))

    # ---- measurement
    def process_messages(self):
        """Runs the library's timer and posted messages once (POSIX needs this)."""
        return self._api.value("RK350_ProcessMessages")

    def wait(self, seconds):
        """Sleeps while pumping messages, so the timer-driven engine runs."""
        end = time.monotonic() + seconds
        while True:
            self.process_messages()
            left = end - time.monotonic()
            if left <= 0:
                return
            time.sleep(min(left, 0.002))

    def start(self):
        self._api("ADC_Start")

    def abort(self):
        self._api("ADC_Abort")

    def force_trigger(self):
        self._api("ADC_ForceTrig")

    @property
    def ready(self):
        return bool(self._api.value("ADC_Ready"))

    @property
    def triggered(self):
        """0 none, 2 channel 1, 4 channel 2, 6 both."""
        return self._api.value("ADC_Triggered")

    def _record(self, data, raw):
        """The data as a Record with what the library says it holds."""
        record = data.view(Record)
        valid, overrange = [], []
        for channel in (1, 2):
            first, count, flag = ctypes.c_int32(), ctypes.c_int32(), _u32()
            self._api("RK350_GetValidRange", channel, ctypes.byref(first), ctypes.byref(count))
            self._api("RK350_GetOverrange", channel, ctypes.byref(flag))
            first, count = max(0, first.value), max(0, count.value)
            valid.append((first, count))
            overrange.append(bool(flag.value))
            if not raw:
                record[channel - 1, :first] = np.nan
                record[channel - 1, first + count:] = np.nan
        record.valid = tuple(valid)
        record.overrange = tuple(overrange)
        return record

    def _fetch(self, raw_export, volts_export, raw):
        """Both channels through an export that fills two buffers of record_length."""
        ctype, dtype = (_u16, np.uint16) if raw else (_f64, np.float64)
        data = np.zeros((2, max(0, self.record_length)), dtype=dtype)
        ptr = ctypes.POINTER(ctype)
        self._api(raw_export if raw else volts_export, data[0].ctypes.data_as(ptr), data[1].ctypes.data_as(ptr))
        return self._record(data, raw)

    def get_data(self, raw=False):
        """The current block record of both channels, a Record of shape (2, record_length)."""
        return self._fetch("ADC_GetData", "ADC_GetDataVolt", raw)

    def block(self, timeout=None, force_after=None, raw=False):
        """One block measurement: start, wait until the record is complete, fetch.

        ``force_after`` seconds without a trigger force one; ``timeout`` bounds
        the whole wait (TimeoutError). Returns volts (or raw counts),
        shape (2, record_length), trigger at index ``pre_samples``.
        """
        self.start()
        begin = time.monotonic()
        forced = False
        while not self.ready:
            self.process_messages()
            elapsed = time.monotonic() - begin
            if force_after is not None and not forced and elapsed > force_after and not self.triggered:
                self.force_trigger()
                forced = True
            if timeout is not None and elapsed > timeout:
                self.abort()
                raise TimeoutError("no complete record within %g s" % timeout)
            time.sleep(0.0005)
        return self.get_data(raw)

    def measure(self, raw=False):
        """Synchronous measurement (StartMeasurement): returns when one record is read."""
        self._api("StartMeasurement")
        return self.measurement(raw)

    def measurement(self, raw=False):
        """The record the engine last read (GetMeasurement), a Record of shape (2, record_length)."""
        return self._fetch("GetMeasurementRaw", "GetMeasurement", raw)

    def times(self):
        """Seconds of each sample relative to the trigger instant."""
        return (np.arange(self.record_length) - self.pre_samples) / self.sample_rate

    def do_measure(self, mode):
        """DoMeasure: -1 continuous, 0 stop, other values one shot."""
        self._api("DoMeasure", int(mode))

    def take_measurement_ready(self):
        """True once per record the engine finished (RK350_TakeMeasurementReady)."""
        return bool(self._api.value("RK350_TakeMeasurementReady"))

    def continuous(self, count=None, timeout=None):
        """Runs the timer-driven engine and yields every record it finishes.

        Messages are pumped while waiting, so the engine runs on POSIX too.
        Stops after ``count`` records, or raises TimeoutError when no record
        came within ``timeout`` seconds; the engine is stopped when the
        generator is closed.
        """
        self.take_measurement_ready()
        self.do_measure(-1)
        try:
            taken = 0
            last = time.monotonic()
            while count is None or taken < count:
                self.process_messages()
                if self.take_measurement_ready():
                    yield self.measurement()
                    taken += 1
                    last = time.monotonic()
                elif timeout is not None and time.monotonic() - last > timeout:
                    raise TimeoutError("no record within %g s" % timeout)
                else:
                    time.sleep(0.001)
        finally:
            if self._api.open:
                self.lib.DoMeasure(0)


__all__ = ["Instrument", "Channel", "Generator", "Record", "RK350Error", "TRIGGER_SOURCES", "SIGNAL_TYPES", "MEASURE_MODES"]
