"""The Pythonic instrument: settings as properties, measurements as numpy arrays."""

import ctypes
import datetime
import difflib
import math
import time
import warnings

import numpy as np

from ._library import PROTOTYPES, can_unload, load_library, reload_library, still_loaded, unload_library
from .constants import (VOCABULARY, Coupling, MeasureMode, RecordTrigger, SignalType, TriggerMode, TriggerSource,
                        code_of, name_of)
from .errors import (InstrumentClosedError, LibraryUnloadedError, OneInstrumentError, RK350Error, ValueAdjustedWarning,
                     error_for)
from .record import Record

# Name -> code, kept for callers of the earlier dictionaries.
TRIGGER_SOURCES = dict(VOCABULARY[TriggerSource], external=TriggerSource.EXTERNAL)
SIGNAL_TYPES = dict(VOCABULARY[SignalType])
MEASURE_MODES = dict(VOCABULARY[MeasureMode])

# What open() sets, as the capture tool's defaults: 1 MHz, 5000 samples with
# a quarter before the trigger, both channels at +/-2 V, the trigger on CH1
# rising through 0 V, forced after 1 s without one.
DEFAULTS = {
    "measure_mode": "ch12",
    "sample_rate": 1e6,
    "record_length": 5000,
    "post_samples": 3750,
    "range": 2.0,
    "trigger_source": "ch1",
    "trigger_mode": "rising",
    "trigger_level": 0.0,
    "trigger_timeout": 1.0,
}

_f64 = ctypes.c_double
_u16 = ctypes.c_uint16
_u32 = ctypes.c_uint32
_USE_TRIGGER_TIMEOUT = object()
# What the host adds to the card's run time before it calls the card
# unresponsive: message pumping and scheduling on a busy machine.
_POLLING_DELAY = 1.0


def _integer(value, call):
    """An integer, also from an integral float (5e3); a fraction, a bool or
    text is refused instead of truncated."""
    if isinstance(value, bool):
        raise ValueError("%s: a number of samples/counts, not %r" % (call, value))
    if hasattr(value, "__index__"):
        return value.__index__()
    if isinstance(value, (float, np.floating)) and math.isfinite(value) and value == int(value):
        return int(value)
    raise ValueError("%s: %r is not a whole number" % (call, value))


def _real(value, call):
    """A float; text and bools are refused."""
    if isinstance(value, (str, bytes, bool)):
        raise ValueError("%s: a number, not %r" % (call, value))
    return float(value)


def _positive(value, call):
    """A finite number above 0 (a rate of 0 would be ignored)."""
    number = _real(value, call)
    if not (number > 0 and math.isfinite(number)):
        raise ValueError("%s: a rate is a finite number of hertz above 0, not %r" % (call, value))
    return number


def _vocabulary(enum_class):
    return lambda value, call: code_of(enum_class, value)


def _out_type(name):
    """The C type a getter export writes through its last (pointer) argument,
    or None when it answers with its value."""
    argtypes = PROTOTYPES[name][1]
    return argtypes[-1]._type_ if argtypes and _is_pointer(argtypes[-1]) else None


def _is_pointer(ctype):
    return isinstance(getattr(ctype, "_type_", None), type)


def _warn_if_adjusted(call, asked, running, unit):
    """The card runs another value than asked: say so (ValueAdjustedWarning),
    as the capture tool and the scope do."""
    if not math.isclose(asked, running, rel_tol=1e-9, abs_tol=0.0):
        warnings.warn(ValueAdjustedWarning("%s: the card runs %.10g %s (asked for %.10g %s)"
                                           % (call, running, unit, asked, unit)), stacklevel=4)


def _setting(getter, setter=None, encode=_real, decode=None, doc=None, adjusts_unit=None):
    """A property over a getter export and, if given, a setter export, typed
    by their prototypes: the setter takes ``encode(value, call)`` as its last
    argument (through a pointer where the export takes one) and the library
    judges it; a number that does not fit the argument's C type is refused
    (ctypes would wrap it into a valid-looking code). With ``adjusts_unit``
    the value in effect is read back and a different one warned about.
    """
    out_type = _out_type(getter)

    def fget(self):
        value = self._read(getter, out_type)
        return decode(value) if decode else value

    def fset(self, value):
        argtype = PROTOTYPES[setter][1][-1]
        by_ref = _is_pointer(argtype)
        ctype = argtype._type_ if by_ref else argtype
        plain = encode(value, setter)
        argument = ctype(plain)
        if isinstance(plain, int) and argument.value != plain:
            raise ValueError("%s: %r does not fit the call's argument (%s)" % (setter, value, ctype.__name__))
        self._write(setter, ctypes.byref(argument) if by_ref else argument)
        if adjusts_unit is not None:
            _warn_if_adjusted(setter, plain, fget(self), adjusts_unit)

    return property(fget, fset if setter else None, doc=doc)


def _flag(on, call):
    return 1 if on else 0


class _Settings:
    """Reads and writes of the exports that take no channel number.

    Only the settings and the attributes a class names in ``_fields`` may be
    assigned: a misspelt setting (``scope.sample_rat = 5e6``) raises
    AttributeError instead of being kept and ignored."""

    _fields = ()

    def __setattr__(self, name, value):
        if name.startswith("_") or name in self._fields or hasattr(type(self), name):
            object.__setattr__(self, name, value)
            return
        names = [n for n in dir(type(self)) if not n.startswith("_")] + list(self._fields)
        close = difflib.get_close_matches(name, names, n=1)
        raise AttributeError("%s has no setting %r%s" % (type(self).__name__, name,
                                                        " (did you mean %r?)" % close[0] if close else ""))

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
            if self.lib.unloaded:
                raise LibraryUnloadedError(call)
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


class Channel:
    """Settings of one input channel (numbered from 1)."""

    _fields = ("number",)
    __setattr__ = _Settings.__setattr__

    def __init__(self, api, number):
        self._api = api
        self.number = number

    def __repr__(self):
        return "<Channel %d>" % self.number

    def _read(self, name, ctype):
        return self._api.read(name, ctype, self.number)

    def _write(self, name, value):
        self._api(name, self.number, value)

    @property
    def range(self):
        """Full scale in volts (+/- this much)."""
        return self._read("GetSensitivity", _f64)

    @range.setter
    def range(self, volts):
        """The smallest offered range that holds the request (the largest
        above it), as the capture tool chooses: never one that clips what
        was asked where the card has one."""
        volts = _real(volts, "SetSensitivity")
        if not volts > 0 or not math.isfinite(volts):
            raise ValueError("SetSensitivity: a range is a full scale above 0 V, not %r" % volts)
        value = _f64(range_at_least(_available_ranges(self._api), volts))
        self._write("SetSensitivity", ctypes.byref(value))
        _warn_if_adjusted("SetSensitivity", volts, self.range, "V")

    auto_ranging = _setting("GetAutoRanging", "SetAutoRanging", encode=_flag, decode=bool)
    coupling = _setting("GetCoupling", "SetCoupling", encode=_vocabulary(Coupling),
                        decode=lambda code: name_of(Coupling, code), doc="'dc' or 'ac' (or the code 0, 1).")
    dc_level = _setting("GetDcLevel", "SetDcLevel", doc="Input offset in volts, within twice the range.")
    trigger_level = _setting("GetTriggerLevel", "SetTriggerLevel",
                             doc="Trigger level in volts (stored in comparator counts: it scales with the range).")
    trigger_hysteresis = _setting("GetTriggerHys", "SetTriggerHys")
    trigger_mode = _setting("GetTriggerModeCh", "SetTriggerModeCh", encode=_vocabulary(TriggerMode),
                            decode=lambda code: name_of(TriggerMode, code),
                            doc="'rising', 'falling', or the mode number 2 .. 6.")


def _available_ranges(api):
    values = (_f64 * 20)()
    api("GetAvailableSensitivities", values)
    return sorted(v for v in values if v > 0)


def range_at_least(ranges, volts):
    """The smallest of the ranges that holds +/- volts, else the largest (the
    capture tool's rule)."""
    holding = [r for r in ranges if r >= volts * (1 - 1e-9)]
    return min(holding) if holding else max(ranges, default=volts)


class Generator(_Settings):
    """The function generator (on the virtual card looped back to channel 1)."""

    def __init__(self, api):
        self._api = api

    @property
    def present(self):
        return self._api.value("GetFunctionGenStatus") == 0

    max_amplitude = _setting("GetFuncGenMaxAmplitude")
    signal_type = _setting("GetFuncGenSignalType", "SetFuncGenSignalType", encode=_vocabulary(SignalType),
                           decode=lambda code: name_of(SignalType, code),
                           doc="'sine', 'triangle', 'square', 'dc', 'noise' or 'arbitrary' (or a SignalType).")
    frequency = _setting("GetFuncGenFrequency", "SetFuncGenFrequency", adjusts_unit="Hz",
                         doc="Hz; the library answers with the frequency in effect (5 MHz at most for the "
                             "standard waveforms while the output runs); another than asked is warned about "
                             "(ValueAdjustedWarning).")

    run_frequency = _setting("RK350_GetFuncGenRunFrequency",
                             doc="Hz as the card runs it (999.942 Hz for 1 kHz): the repetition frequency the "
                                 "phase increment reaches, or for a long arbitrary waveform the clock its samples "
                                 "play at.")

    def set_frequency(self, hertz):
        """Sets the frequency and returns the one the card runs."""
        self.frequency = hertz
        return self.run_frequency

    amplitude = _setting("GetFuncGenAmplitude", "SetFuncGenAmplitude",
                         doc="Peak volts: a sine of amplitude A and offset O swings from O - A to O + A.")
    offset = _setting("GetFuncGenDCOffset", "SetFuncGenDCOffset")
    symmetry = _setting("GetFuncGenSymmetry", "SetFuncGenSymmetry", doc="Percent, 0 .. 100.")
    output = _setting("GetFuncGenOutputOn", "SetFuncGenOutputOn", encode=_flag, decode=bool)

    def configure(self, signal_type="sine", frequency=1000.0, amplitude=1.0, offset=0.0, symmetry=50.0, output=True):
        """Sets everything at once; returns the frequency the card runs."""
        self.signal_type = signal_type
        self.amplitude = amplitude
        self.offset = offset
        self.symmetry = symmetry
        self.output = output
        return self.set_frequency(frequency)

    def codes(self, volts):
        """The memory codes (0 .. 65535, lowest to highest level) of output
        voltages, scaled with the amplitude and offset the generator reports:
        offset - amplitude is code 0, offset + amplitude code 65535. A voltage
        outside that swing, or not finite, is refused."""
        volts = np.asarray(volts, dtype=np.float64)
        amplitude, offset = self.amplitude, self.offset
        if not np.isfinite(volts).all():
            raise ValueError("a waveform's volts are finite numbers")
        if amplitude <= 0:
            raise ValueError("the generator's amplitude is %g V: set the amplitude (peak volts) before loading a "
                             "waveform in volts" % amplitude)
        wave = (volts - offset) / amplitude
        beyond = np.abs(wave) > 1 + 1e-9
        if beyond.any():
            worst = volts[np.argmax(np.abs(wave))]
            raise ValueError("%g V lies outside the generator's swing %g .. %g V (offset %g V, amplitude %g V): "
                             "raise the amplitude or change the offset first"
                             % (worst, offset - amplitude, offset + amplitude, offset, amplitude))
        return np.rint((np.clip(wave, -1, 1) + 1) * 32767.5).astype(np.uint16)

    def load(self, samples):
        """Loads an arbitrary waveform and selects it: floats are volts at the
        output (see ``codes``), integers are memory codes 0 .. 65535; anything
        else, or a code outside that range, is refused. 1 to 65536 samples."""
        data = np.asarray(samples)
        if data.ndim != 1 or not 1 <= data.size <= 65536:
            raise ValueError("a waveform is a sequence of 1 to 65536 samples, not shape %s" % (data.shape,))
        if data.dtype.kind == "f":
            codes = self.codes(data)
        elif data.dtype.kind in "iu":
            if data.min() < 0 or data.max() > 0xFFFF:
                raise ValueError("a waveform's integer samples are memory codes 0 .. 65535, not %d .. %d (give "
                                 "floats for volts)" % (data.min(), data.max()))
            codes = data.astype(np.uint16)
        else:
            raise ValueError("a waveform holds volts (floats) or memory codes (integers), not %s" % data.dtype)
        codes = np.ascontiguousarray(codes)
        self._api("FillFuncGenMemory", codes.size, codes.ctypes.data_as(ctypes.POINTER(_u16)))
        self.signal_type = "arbitrary"
        return codes

    def square_wave(self, hertz):
        """The square wave generator: 2.5 V square at this frequency, output on."""
        value = _u32(_integer(hertz, "SetSquareWaveGenFrequency"))
        if value.value != _integer(hertz, "SetSquareWaveGenFrequency"):
            raise ValueError("SetSquareWaveGenFrequency: %r does not fit the call's argument" % hertz)
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

    _fields = ("address", "flavour", "lib", "channels", "generator")

    def __init__(self, address=0x288, flavour="virtual", library=None, private_copy=False, lib=None,
                 software_trigger=True, defaults=True):
        self.address = address
        self.flavour = flavour
        self._owns_library = lib is None
        self._unloaded = False
        self.lib = lib if lib is not None else load_library(flavour, library, private_copy)
        self._api = _Api(self.lib)
        self.channels = (Channel(self._api, 1), Channel(self._api, 2))
        self.generator = Generator(self._api)
        self._software_trigger = software_trigger
        self._defaults = defaults

    # ---- lifecycle
    def open(self):
        """InitInstrument, then the settings of ``DEFAULTS`` (the capture
        tool's; ``Instrument(defaults=False)`` keeps the library's own) and the
        software trigger (complete records; ``software_trigger=False`` keeps
        the card's own trigger).

        A failed open leaves nothing behind: the library is told
        ExitInstrument, this Instrument lets go of its load, and the next
        open() (at the right address, or after the other Instrument closed)
        starts afresh.
        """
        if self._api.open:
            return self
        if self._owns_library and can_unload() and _LIBRARY_USE.get(_key(self.lib)) == "closed":
            # Another Instrument closed the instrument of this library.
            unload_library(self.lib)
            self._unloaded = True
        if self._unloaded:
            if not still_loaded(self.lib):
                _LIBRARY_USE.pop(_key(self.lib), None)  # the spent module has left
            self.lib = self._api.lib = reload_library(self.lib)
            self._unloaded = False
        try:
            _claim_library(self.lib, self.address, self._owns_library and can_unload())
        except OneInstrumentError:
            self._let_go()
            raise
        try:
            code = self.lib.InitInstrument(self.address)
        except BaseException:
            # An address the call cannot take (ctypes refuses it before the
            # library sees it): the claim goes, the library stays free.
            _LIBRARY_USE.pop(_key(self.lib), None)
            raise
        if code:
            # The library's rule: ExitInstrument after a failed InitInstrument,
            # else no later InitInstrument of this load succeeds.
            self.lib.ExitInstrument()
            _LIBRARY_USE.pop(_key(self.lib), None)
            self._api.check(code, "InitInstrument(0x%X)" % self.address)
        self._api.open = True
        try:
            self.software_trigger = self._software_trigger
            if self._defaults:
                self.apply_defaults()
        except BaseException:
            self.close()
            raise
        return self

    def _let_go(self):
        """Drops this Instrument's own load of the library (it holds no
        instrument), so that it keeps no other Instrument's module alive; the
        next open() loads it again."""
        if self._owns_library and can_unload():
            if unload_library(self.lib):
                _LIBRARY_USE.pop(_key(self.lib), None)
            self._unloaded = True

    def apply_defaults(self):
        """Sets ``DEFAULTS``: the settings the capture tool starts from."""
        self.measure_mode = DEFAULTS["measure_mode"]
        self.sample_rate = DEFAULTS["sample_rate"]
        self.set_record(DEFAULTS["record_length"], DEFAULTS["post_samples"])
        for channel in self.channels:
            channel.range = DEFAULTS["range"]
        self.trigger_source = DEFAULTS["trigger_source"]
        self.trigger_mode = DEFAULTS["trigger_mode"]
        for channel in self.channels:
            channel.trigger_level = DEFAULTS["trigger_level"]
        self.trigger_timeout = DEFAULTS["trigger_timeout"]

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

    serial_number = _setting("GetSerialNumber")

    @property
    def calibration_date(self):
        value = _u32()
        self._api("GetCalibrationDate", ctypes.byref(value))
        packed = value.value
        return datetime.date(packed & 0xFFFF, (packed >> 16) & 0xFF, packed >> 24)

    channel_count = _setting("GetNrChannels")
    max_sample_rate = _setting("GetMaxSampleFrequencyF")
    max_record_length = _setting("GetMaxRecordLength")

    def available_ranges(self):
        """The full scales the card offers, in volts."""
        return _available_ranges(self._api)

    # ---- timebase and record
    sample_rate = _setting("GetSampleFrequencyF", "SetSampleFrequencyF", encode=lambda hz, call: _positive(hz, call),
                           adjusts_unit="Hz",
                           doc="Hz; setting rounds to a rate the card reaches (read it back; another than asked "
                               "is warned about: ValueAdjustedWarning).")

    @property
    def record_length(self):
        return self._api.value("GetRecordLength")

    @record_length.setter
    def record_length(self, samples):
        samples = _integer(samples, "SetRecordLength")
        if samples < self.post_samples:
            raise ValueError("a record of %d samples cannot hold the %d post-trigger samples: lower post_samples "
                             "first, or set both with set_record(length, post)" % (samples, self.post_samples))
        self._api("SetRecordLength", samples)

    @property
    def post_samples(self):
        return self._api.value("GetPostSamples")

    @post_samples.setter
    def post_samples(self, samples):
        samples = _integer(samples, "SetPostSamples")
        if samples > self.record_length:
            raise ValueError("%d post-trigger samples do not fit a record of %d samples: raise record_length "
                             "first, or set both with set_record(length, post)" % (samples, self.record_length))
        self._api("SetPostSamples", samples)

    def set_record(self, length, post):
        """Record length and post-trigger samples together, in an order the library accepts."""
        length, post = _integer(length, "SetRecordLength"), _integer(post, "SetPostSamples")
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

    measure_mode = _setting("GetMeasureMode", "SetMeasureMode", encode=_vocabulary(MeasureMode),
                            decode=lambda code: name_of(MeasureMode, code),
                            doc="'ch1', 'ch2', 'ch12' (both) or 'xy' (or a MeasureMode). Above half the maximum "
                                "rate only 'ch1' reaches the full rate: both converters sample CH1 in turn.")
    resolution = _setting("GetResolution")

    # ---- trigger
    trigger_source = _setting("GetTriggerSource", "SetTriggerSource", encode=_vocabulary(TriggerSource),
                              decode=lambda code: name_of(TriggerSource, code),
                              doc="'ch1', 'ch2', 'ext', 'and', 'or', 'xor', 'none' (or a TriggerSource).")
    trigger_mode = _setting("GetTriggerMode", "SetTriggerMode", encode=_vocabulary(TriggerMode),
                            decode=lambda code: name_of(TriggerMode, code),
                            doc="'rising', 'falling', or the mode number 2 .. 6, for both channels.")

    @property
    def trigger_timeout(self):
        """Seconds, or None to wait for a trigger without limit."""
        ms = self._api.value("GetTriggerTimeOut")
        return None if ms == -1 else ms / 1000.0

    @trigger_timeout.setter
    def trigger_timeout(self, seconds):
        """None (or math.inf) waits for ever; 0 takes a record without waiting
        for a trigger; a positive time is kept to the millisecond, at least 1 ms."""
        if isinstance(seconds, (str, bytes)):
            raise ValueError("SetTriggerTimeOut: a time-out is a number of seconds (2, 0.5, 1.5e-3) or None, "
                             "not %r" % (seconds,))
        if seconds is None or _real(seconds, "SetTriggerTimeOut") == math.inf:
            self._api("SetTriggerTimeOut", 0xFFFFFFFF)
            return
        seconds = _real(seconds, "SetTriggerTimeOut")
        if not seconds >= 0:
            raise ValueError("SetTriggerTimeOut: a time-out is 0 s or more (None waits for ever), not %r" % seconds)
        ms = max(1, round(seconds * 1000)) if seconds > 0 else 0
        if ms > 0xFFFFFFFE:
            raise ValueError("SetTriggerTimeOut: %r s is beyond the longest time-out, %g s (None waits for ever)"
                             % (seconds, 0xFFFFFFFE / 1000))
        self._api("SetTriggerTimeOut", ms)

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

    def _settings_now(self):
        """What a record taken now is taken with."""
        return {"sample_rate": self.sample_rate, "trigger_index": self.pre_samples,
                "ranges": tuple(channel.range for channel in self.channels),
                "measure_mode": MeasureMode(self._read("GetMeasureMode", ctypes.c_uint8))}

    def record_trigger(self):
        """How the record last read was taken (a RecordTrigger; None for a
        code this binding does not know) (RK350_GetRecordTrigger)."""
        how = self._read("RK350_GetRecordTrigger", ctypes.c_uint32)
        try:
            return RecordTrigger(how)
        except ValueError:
            return None

    def _record(self, data, raw, taken_with):
        """The data as a Record with what the library says it holds and the
        settings it was taken with."""
        valid, overrange = [], []
        for channel in (1, 2):
            first, count, flag = ctypes.c_int32(), ctypes.c_int32(), _u32()
            self._api("RK350_GetValidRange", channel, ctypes.byref(first), ctypes.byref(count))
            self._api("RK350_GetOverrange", channel, ctypes.byref(flag))
            first, count = max(0, first.value), max(0, count.value)
            valid.append((first, count))
            overrange.append(bool(flag.value))
            if not raw:
                data[channel - 1, :first] = np.nan
                data[channel - 1, first + count:] = np.nan
        return Record.create(data, valid=tuple(valid), overrange=tuple(overrange), how=self.record_trigger(),
                             raw=raw, **taken_with)

    def _fetch(self, raw_export, volts_export, raw, taken_with=None):
        """Both channels through an export that fills two buffers of record_length."""
        taken_with = taken_with or self._settings_now()
        ctype, dtype = (_u16, np.uint16) if raw else (_f64, np.float64)
        data = np.zeros((2, max(0, self.record_length)), dtype=dtype)
        ptr = ctypes.POINTER(ctype)
        self._api(raw_export if raw else volts_export, data[0].ctypes.data_as(ptr), data[1].ctypes.data_as(ptr))
        return self._record(data, raw, taken_with)

    def get_data(self, raw=False):
        """The current block record of both channels, a Record of shape
        (2, record_length), with the settings of the last start()."""
        return self._fetch("ADC_GetData", "ADC_GetDataVolt", raw, self._started_with)

    _started_with = None

    def start(self):
        """ADC_Start: arms a block measurement with the current settings."""
        taken_with = self._settings_now()
        self._api("ADC_Start")
        self._started_with = taken_with

    def block(self, timeout=None, force_after=_USE_TRIGGER_TIMEOUT, raw=False):
        """One block measurement: start, wait until the record is complete, fetch.

        Without a trigger within ``force_after`` seconds (by default the
        ``trigger_timeout``; None waits for a trigger for ever) a record is
        forced, and a card that has not completed the record by the run time
        the library reports (plus a second for the host) raises TimeoutError;
        ``timeout`` bounds the whole wait (TimeoutError). Returns a
        Record of volts (or raw counts), shape (2, record_length), the
        trigger at index ``pre_samples``; ``record.how`` says whether it was
        triggered or forced where the library reports it.
        """
        if force_after is _USE_TRIGGER_TIMEOUT:
            force_after = self.trigger_timeout
        self.start()
        begin = time.monotonic()
        forced_at = None
        while not self.ready:
            self.process_messages()
            now = time.monotonic()
            elapsed = now - begin
            if force_after is not None and forced_at is None and elapsed >= force_after and not self.triggered:
                self.force_trigger()
                forced_at = now
                run_time = self.armed_run_time()
            if timeout is not None and elapsed > timeout:
                self.abort()
                raise TimeoutError("no complete record within %g s" % timeout)
            if forced_at is not None and run_time is not None and now - forced_at > run_time + _POLLING_DELAY:
                self.abort()
                raise TimeoutError("the card did not complete the record %g s after it was forced (its run takes "
                                   "%g s): is it answering?" % (now - forced_at, run_time))
            time.sleep(0.0005)
        return self.get_data(raw)

    def armed_run_time(self):
        """Seconds of card time the armed acquisition takes from its trigger,
        or its forcing, until the record can be read (RK350_GetArmedRunTime)."""
        return self._read("RK350_GetArmedRunTime", _f64)

    def measure(self, raw=False):
        """Synchronous measurement (StartMeasurement): returns when one record
        is read; the library forces one after ``trigger_timeout``."""
        taken_with = self._settings_now()
        self._api("StartMeasurement")
        return self._fetch("GetMeasurementRaw", "GetMeasurement", raw, taken_with)

    def measurement(self, raw=False):
        """The record the engine last read (GetMeasurement), a Record of shape (2, record_length)."""
        return self._fetch("GetMeasurementRaw", "GetMeasurement", raw)

    def times(self):
        """Seconds of each sample relative to the trigger instant, for the
        current settings (``record.times()`` gives a record's own)."""
        return (np.arange(self.record_length) - self.pre_samples) / self.sample_rate

    def do_measure(self, mode):
        """DoMeasure: -1 continuous, 0 stop, other values one shot."""
        self._api("DoMeasure", int(mode))

    def take_measurement_ready(self):
        """True once per record the engine finished (RK350_TakeMeasurementReady)."""
        return bool(self._api.value("RK350_TakeMeasurementReady"))

    def continuous(self, count=None, timeout=None, raw=False):
        """Runs the timer-driven engine and yields every record it finishes
        (volts, or raw counts with ``raw``).

        Messages are pumped while waiting, so the engine runs on POSIX too.
        Without a trigger within ``trigger_timeout`` seconds (after the
        pre-trigger part) a record is forced, as in ``block``: the engine
        itself would count the time-out in its ticks, not in seconds, so its
        own waits for ever meanwhile and this generator forces the record
        (``record.how`` is then ``RecordTrigger.FORCED_CALL``).
        Stops after ``count`` records, or raises TimeoutError when no record
        came within ``timeout`` seconds; the engine is stopped when the
        generator is closed.
        """
        self.take_measurement_ready()
        taken_with = self._settings_now()
        saved_ms = self._api.value("GetTriggerTimeOut")
        host_forces = saved_ms > 0
        if host_forces:
            force_after = saved_ms / 1000.0 + taken_with["trigger_index"] / taken_with["sample_rate"]
            self._api("SetTriggerTimeOut", 0xFFFFFFFF)
        self.do_measure(-1)
        try:
            taken = 0
            last = armed = time.monotonic()
            forced = False
            while count is None or taken < count:
                self.process_messages()
                now = time.monotonic()
                if self.take_measurement_ready():
                    yield self._fetch("GetMeasurementRaw", "GetMeasurement", raw, taken_with)
                    taken += 1
                    last = armed = time.monotonic()
                    forced = False
                elif timeout is not None and now - last > timeout:
                    raise TimeoutError("no record within %g s" % timeout)
                else:
                    if host_forces and not forced and now - armed > force_after and not self.triggered:
                        self.force_trigger()
                        forced = True
                    time.sleep(0.001)
        finally:
            if self._api.open:
                self.lib.DoMeasure(0)
                if host_forces:
                    self._api("SetTriggerTimeOut", saved_ms)

    def record(self, path, count=None, duration=None, max_size=None, split_size=None, split_duration=None):
        """Runs the engine and keeps every record it finishes in an HDF5
        recording at ``path`` (docs/recording.md), written by the capture
        tool's recorder (librk350_recorder) off this thread: ``count``
        records, or for ``duration`` seconds (one of them is needed);
        ``max_size`` bytes at most, new numbered parts at ``split_size`` bytes
        or after ``split_duration`` seconds. Returns a RecordingResult (path,
        finished, written, lost, bytes, seconds, ended); raises OSError when
        the recording failed (a full disk), the file keeping the records
        before. Read it back with rk350.open_recording(path).
        """
        from .recorder import record
        return record(self, path, count, duration, max_size, split_size, split_duration)


__all__ = ["Instrument", "Channel", "Generator", "Record", "RK350Error", "TRIGGER_SOURCES", "SIGNAL_TYPES", "MEASURE_MODES",
           "DEFAULTS", "range_at_least"]
