"""Python binding of the RK350 ISA driver library (ctypes, no compiled part).

    from rk350 import Instrument
    with Instrument() as scope:          # virtual card; Instrument(flavour="hardware", address=0x300)
        scope.generator.configure("sine", frequency=1000, amplitude=1.0)
        record = scope.block()           # a Record: numpy array (2, record_length) with its metadata
"""

from ._library import PROTOTYPES, Library, can_unload, find_library, load_library, unload_library
from .constants import (VOCABULARY, Coupling, EepromVariant, Fault, MeasureMode, RecordTrigger, Result, SignalType,
                        SourceKind, TriggerMode, TriggerSource)
from .errors import (InstrumentClosedError, InvalidChannelError, InvalidValueError, LibraryNotFoundError,
                     LibraryUnloadedError, NoGeneratorError, NoInstrumentError, NotAvailableError, NotInitialisedError,
                     OneInstrumentError, RK350Error, ValueAdjustedWarning)
from .instrument import (DEFAULTS, MEASURE_MODES, SIGNAL_TYPES, TRIGGER_SOURCES, Channel, Generator, Instrument,
                         range_at_least)
from .measure import Figure
from .record import Record
from .recording import Recording, open_recording
from .sim import VirtualCard

__all__ = [
    "Instrument", "Channel", "Generator", "Record", "Figure", "Recording", "open_recording", "VirtualCard", "DEFAULTS", "range_at_least",
    "find_library", "load_library", "unload_library", "can_unload", "Library", "PROTOTYPES",
    "Result", "TriggerSource", "TriggerMode", "Coupling", "SignalType", "MeasureMode", "RecordTrigger", "SourceKind",
    "EepromVariant", "Fault", "VOCABULARY",
    "RK350Error", "NoInstrumentError", "NotInitialisedError", "NotAvailableError", "NoGeneratorError",
    "InvalidChannelError", "InvalidValueError", "InstrumentClosedError", "OneInstrumentError", "LibraryUnloadedError",
    "LibraryNotFoundError", "ValueAdjustedWarning", "TRIGGER_SOURCES", "SIGNAL_TYPES", "MEASURE_MODES",
]
