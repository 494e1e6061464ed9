"""Control of the virtual card (exported by the virtual-card flavour only)."""

import ctypes

import numpy as np

UNPLUGGED, DC, SINE, SQUARE, STEP, NOISE, GENERATOR = 0, 1, 2, 3, 4, 5, 7
SOURCE_KINDS = {"unplugged": UNPLUGGED, "dc": DC, "sine": SINE, "square": SQUARE, "step": STEP, "noise": NOISE,
                "generator": GENERATOR}
EXTERNAL_INPUT = 0
FAULT_NONE, FAULT_STATUS_STUCK, FAULT_SILENT = 0, 1, 2


class Source(ctypes.Structure):
    """RK350SimSource of rk350_sim.h."""

    _fields_ = [("kind", ctypes.c_int32), ("amplitude", ctypes.c_double), ("frequency", ctypes.c_double),
                ("offset", ctypes.c_double), ("phase", ctypes.c_double), ("stepTime", ctypes.c_double),
                ("noise", ctypes.c_double)]


_u8, _u16, _u32, _i32, _f64 = ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint32, ctypes.c_int32, ctypes.c_double
_P = ctypes.POINTER

# name without the RK350Sim_ prefix: (result type, argument types)
PROTOTYPES = {
    "Reset": (None, []),
    "SetBaseAddress": (None, [_u16]),
    "GetBaseAddress": (_u16, []),
    "GetRegister": (_u8, [_u8]),
    "SetEepromVariant": (_u16, [_u32]),
    "LoadEepromImage": (_u16, [_P(_u8), _u32]),
    "ReadEepromImage": (_u32, [_P(_u8), _u32]),
    "InjectBusFault": (None, [_u32]),
    "StartEepromTrace": (None, []),
    "StopEepromTrace": (None, []),
    "GetEepromTraceVcd": (_u32, [ctypes.c_char_p, _u32]),
    "SetInputSource": (_u16, [_u8, _P(Source)]),
    "SetInputSamples": (_u16, [_u8, _P(_f64), _u32, _f64, _f64, _i32]),
    "GetTime": (_f64, []),
    "SetManualTime": (None, [_f64]),
    "AdvanceTime": (None, [_f64]),
    "SetAutoTimeStep": (None, [_f64]),
    "UseHostTime": (None, []),
    "GetInputPath": (_u16, [_u8, _P(_f64), _P(_u8), _P(_u8), _P(_f64)]),
    "GetConverterClock": (_f64, []),
    "SetFault": (_u16, [_i32]),
    "GetGeneratorOutput": (_u16, [_P(_f64), _P(_f64), _P(_f64)]),
    "GetGeneratorVolts": (_f64, [_f64]),
}


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
        for name, (restype, argtypes) in PROTOTYPES.items():
            function = getattr(lib, "RK350Sim_" + name, None)
            if function is not None:
                function.restype = restype
                function.argtypes = argtypes

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
        if isinstance(kind, str):
            kind = SOURCE_KINDS[kind.lower()]
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
        self._check(self.lib.RK350Sim_SetEepromVariant(variant), "SetEepromVariant")

    def load_eeprom(self, image):
        data = (ctypes.c_uint8 * len(image)).from_buffer_copy(bytes(image))
        self._check(self.lib.RK350Sim_LoadEepromImage(data, len(image)), "LoadEepromImage")

    def read_eeprom(self, length=65536):
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
