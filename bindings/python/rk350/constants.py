"""The header's codes as IntEnums, and the names the tools give them.

Each enum lists the `#define`s of one prefix in include/rk350/*.h (the
tests compare both ways, so a code added, removed or changed there fails
them). ``VOCABULARY`` holds the names a user types, the same as the capture
tool's and the scope's: ``"ext"``, ``"rising"``, ``"ac"``.
"""

import enum


class Result(enum.IntEnum):
    """RK350_RESULT_*: distinct bits, so a caller may test them as flags."""

    OK = 0
    NO_INSTRUMENT = 1
    NOT_INITIALISED = 2
    NOT_AVAILABLE = 4
    NO_GENERATOR = 8
    INVALID_CHANNEL = 16
    INVALID_VALUE = 32


class TriggerSource(enum.IntEnum):
    """RK350_TS_*"""

    CH1 = 0
    CH2 = 1
    EXTERNAL = 4
    AND = 6
    OR = 7
    XOR = 8
    NO_TRIG = 9


class TriggerMode(enum.IntEnum):
    """Trigger modes (slopes) of SetTriggerMode / SetTriggerModeCh: the two
    edges by name; 2 .. 6 are comparator variants and the card's digital
    conditions, given by number."""

    RISING = 0
    FALLING = 1


class Coupling(enum.IntEnum):
    """SetCoupling's codes."""

    DC = 0
    AC = 1


class SignalType(enum.IntEnum):
    """RK350_GEN_*"""

    SINE = 0
    TRIANGLE = 1
    SQUARE = 2
    DC = 3
    NOISE = 4
    ARBITRARY = 5


class MeasureMode(enum.IntEnum):
    """RK350_MODE_*"""

    CH1 = 1
    CH2 = 2
    CH12 = 3
    XY = 16


class RecordTrigger(enum.IntEnum):
    """RK350_RECORD_*: how the record last read was taken."""

    NONE = 0
    TRIGGERED_CARD = 1
    TRIGGERED_SOFTWARE = 2
    FORCED_TIMEOUT = 3
    FORCED_CALL = 4
    FREE_RUN = 5


class SourceKind(enum.IntEnum):
    """RK350SIM_SOURCE_*: what the virtual card feeds an input with."""

    UNPLUGGED = 0
    DC = 1
    SINE = 2
    SQUARE = 3
    STEP = 4
    NOISE = 5
    GENERATOR = 7


class EepromVariant(enum.IntEnum):
    """RK350_SIM_EEPROM_*: EEPROM contents of the virtual card."""

    DEFAULT = 0
    BLANK = 1
    NO_ANSWER = 2
    WRONG_MODEL = 3
    INVALID_DATE = 4
    NO_GENERATOR = 5


class Fault(enum.IntEnum):
    """RK350SIM_FAULT_*: faults of the virtual card."""

    NONE = 0
    STATUS_STUCK = 1
    SILENT = 2


# The header's prefix of each enum's codes (the tests read the header by it).
HEADER_PREFIXES = {
    Result: "RK350_RESULT_",
    TriggerSource: "RK350_TS_",
    Coupling: "RK350_COUPLING_",
    TriggerMode: "RK350_TRIGGER_",
    SignalType: "RK350_GEN_",
    MeasureMode: "RK350_MODE_",
    RecordTrigger: "RK350_RECORD_",
    SourceKind: "RK350SIM_SOURCE_",
    EepromVariant: "RK350_SIM_EEPROM_",
    Fault: "RK350SIM_FAULT_",
}

# Names a user types, as the capture tool and the scope spell them; the
# first name of a code is the one the binding answers with.
VOCABULARY = {
    TriggerSource: {"ch1": TriggerSource.CH1, "ch2": TriggerSource.CH2, "ext": TriggerSource.EXTERNAL,
                    "and": TriggerSource.AND, "or": TriggerSource.OR, "xor": TriggerSource.XOR,
                    "none": TriggerSource.NO_TRIG},
    TriggerMode: {"rising": TriggerMode.RISING, "falling": TriggerMode.FALLING},
    Coupling: {"dc": Coupling.DC, "ac": Coupling.AC},
    SignalType: {"sine": SignalType.SINE, "triangle": SignalType.TRIANGLE, "square": SignalType.SQUARE,
                 "dc": SignalType.DC, "noise": SignalType.NOISE, "arbitrary": SignalType.ARBITRARY},
    MeasureMode: {"ch1": MeasureMode.CH1, "ch2": MeasureMode.CH2, "ch12": MeasureMode.CH12, "xy": MeasureMode.XY},
    SourceKind: {"unplugged": SourceKind.UNPLUGGED, "dc": SourceKind.DC, "sine": SourceKind.SINE,
                 "square": SourceKind.SQUARE, "step": SourceKind.STEP, "noise": SourceKind.NOISE,
                 "generator": SourceKind.GENERATOR},
}

# Further spellings the tools accept too ("external" was this binding's name).
OTHER_SPELLINGS = {
    TriggerSource: {"external": TriggerSource.EXTERNAL, "free": TriggerSource.NO_TRIG},
    MeasureMode: {"1": MeasureMode.CH1, "2": MeasureMode.CH2, "12": MeasureMode.CH12, "both": MeasureMode.CH12},
}

_WHAT = {TriggerSource: "trigger source", TriggerMode: "trigger mode", Coupling: "coupling",
         SignalType: "signal type", MeasureMode: "measure mode", SourceKind: "source kind"}


def name_of(enum_class, code):
    """The name a code is shown by (the tools' name), or the number itself."""
    for name, value in VOCABULARY[enum_class].items():
        if value == code:
            return name
    return code


def code_of(enum_class, value):
    """The code of a name, an enum member or a number; anything else raises
    ValueError listing what is accepted."""
    names = VOCABULARY[enum_class]
    accepted = "%s (or a %s code)" % (", ".join(names), enum_class.__name__)
    if isinstance(value, str):
        key = value.strip().lower()
        code = names.get(key, OTHER_SPELLINGS.get(enum_class, {}).get(key))
        if code is None:
            raise ValueError("unknown %s %r; one of %s" % (_WHAT[enum_class], value, accepted))
        return int(code)
    if isinstance(value, bool) or not hasattr(value, "__index__"):
        raise ValueError("a %s is a name or a code, not %r; one of %s" % (_WHAT[enum_class], value, accepted))
    # A number goes to the library, which judges it (trigger modes 2 .. 6
    # have no name).
    return int(value.__index__())
