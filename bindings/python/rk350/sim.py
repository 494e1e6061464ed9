"""Control of the virtual card (exported by the virtual-card flavour only)."""

import ctypes

import numpy as np

from ._prototypes import SIM_PROTOTYPES as PROTOTYPES
from ._prototypes import Source
from .constants import VOCABULARY, Fault, SourceKind, code_of

UNPLUGGED, DC, SINE, SQUARE, STEP, NOISE, GENERATOR = (SourceKind.UNPLUGGED, SourceKind.DC, SourceKind.SINE,
                                                       SourceKind.SQUARE, SourceKind.STEP, SourceKind.NOISE,
                                                       SourceKind.GENERATOR)
SOURCE_KINDS = VOCABULARY[SourceKind]
EXTERNAL_INPUT = 0
EEPROM_SIZE = 4096  # bytes of the card's 24C32
FAULT_NONE, FAULT_STATUS_STUCK, FAULT_SILENT = Fault.NONE, Fault.STATUS_STUCK, Fault.SILENT
_f64 = ctypes.c_double
_P = ctypes.POINTER


class VirtualCard:
    """The card behind the virtual flavour's ports.

    Inputs: 1 and 2 are the channels, 0 the external trigger input. At power
    on the generator output feeds input 1; the others are unplugged.
    ``call(name, ...)`` reaches any RK350Sim_ export by its name without the
    prefix.
    """

    def __init__(self, lib):
        if not hasattr(lib, "RK350Sim_Reset"):
            raise AttributeError("this library has no virtual card (hardware flavour?)")
        self.lib = lib

    def has(self, name):
        return hasattr(self.lib, "RK350Sim_" + name)

    def call(self, name, *args):
        return getattr(self.lib, "RK350Sim_" + name)(*args)

    def _check(self, code, name):
        if code:
            from .errors import error_for
            raise error_for(code, "RK350Sim_" + name)

    # ---- the card
    def reset(self):
        """Power-on state (the EEPROM content stays)."""
        self.lib.RK350Sim_Reset()

    @property
    def base_address(self):
        return self.lib.RK350Sim_GetBaseAddress()

    @base_address.setter
    def base_address(self, base):
        self.lib.RK350Sim_SetBaseAddress(base)

    def register(self, index):
        """The value last written to a card register (0..37)."""
        return self.lib.RK350Sim_GetRegister(index)

    # ---- inputs
    def set_source(self, input, kind, amplitude=0.0, frequency=0.0, offset=0.0, phase=0.0, step_time=0.0, noise=0.0):
        """Connects a built-in source to an input (kind by name or number)."""
        kind = code_of(SourceKind, kind)
        source = Source(kind, amplitude, frequency, offset, phase, step_time, noise)
        self._check(self.lib.RK350Sim_SetInputSource(input, ctypes.byref(source)), "SetInputSource")

    def unplug(self, input):
        self.set_source(input, UNPLUGGED)

    def play(self, input, volts, interval, start_time=0.0, repeat=False):
        """Plays samples (volts) on an input, one every ``interval`` s of card time."""
        data = np.ascontiguousarray(volts, dtype=np.float64)
        self._check(self.lib.RK350Sim_SetInputSamples(input, data.ctypes.data_as(_P(_f64)), data.size, interval,
                                                      start_time, 1 if repeat else 0), "SetInputSamples")

    # ---- time
    @property
    def time(self):
        """Card time in seconds."""
        return self.lib.RK350Sim_GetTime()

    def freeze_time(self, seconds=None):
        """Manual time from now on (at ``seconds`` when given)."""
        self.lib.RK350Sim_SetManualTime(self.time if seconds is None else seconds)

    def advance(self, seconds):
        self.lib.RK350Sim_AdvanceTime(seconds)

    def auto_step(self, seconds):
        """In manual time, advance by this much at every status read."""
        self.lib.RK350Sim_SetAutoTimeStep(seconds)

    def follow_host_time(self):
        self.lib.RK350Sim_UseHostTime()

    def input_path(self, path):
        """What converter path 1 or 2 does, as the card decodes it:
        (full scale V, AC coupled, input channel digitised, offset V)."""
        full, ac, channel, offset = _f64(), ctypes.c_uint8(), ctypes.c_uint8(), _f64()
        self._check(self.lib.RK350Sim_GetInputPath(path, ctypes.byref(full), ctypes.byref(ac), ctypes.byref(channel),
                                                   ctypes.byref(offset)), "GetInputPath")
        return full.value, bool(ac.value), channel.value, offset.value

    @property
    def converter_clock(self):
        return self.lib.RK350Sim_GetConverterClock()

    # ---- faults
    def set_fault(self, fault):
        """0 none, 1 the status port reads 0xFF, 2 the card answers nothing."""
        self._check(self.lib.RK350Sim_SetFault(fault), "SetFault")

    def inject_bus_fault(self, reads_before):
        self.lib.RK350Sim_InjectBusFault(reads_before)

    # ---- EEPROM
    def set_eeprom_variant(self, variant):
        """An EepromVariant (or its code)."""
        self._check(self.lib.RK350Sim_SetEepromVariant(variant), "SetEepromVariant")

    def load_eeprom(self, image):
        data = (ctypes.c_uint8 * len(image)).from_buffer_copy(bytes(image))
        self._check(self.lib.RK350Sim_LoadEepromImage(data, len(image)), "LoadEepromImage")

    def read_eeprom(self, length=EEPROM_SIZE):
        buffer = (ctypes.c_uint8 * length)()
        n = self.lib.RK350Sim_ReadEepromImage(buffer, length)
        return bytes(buffer[:min(n, length)])

    def eeprom_trace(self):
        """The VCD text of the EEPROM wires recorded since StartEepromTrace."""
        size = self.lib.RK350Sim_GetEepromTraceVcd(None, 0)
        buffer = ctypes.create_string_buffer(size + 1)
        self.lib.RK350Sim_GetEepromTraceVcd(buffer, size + 1)
        return buffer.value.decode()

    # ---- generator
    def generator_output(self):
        """(running, frequency Hz, amplitude V peak, offset V) as the card puts it out."""
        f, a, o = _f64(), _f64(), _f64()
        running = self.lib.RK350Sim_GetGeneratorOutput(ctypes.byref(f), ctypes.byref(a), ctypes.byref(o))
        return bool(running), f.value, a.value, o.value
