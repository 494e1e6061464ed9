"""Python binding of the RK350 ISA driver library (ctypes, no compiled part).

    from rk350 import Instrument
    with Instrument() as scope:          # virtual card; Instrument(flavour="hardware", address=0x300)
        scope.generator.configure("sine", frequency=1000, amplitude=1.0)
        volts = scope.block()            # numpy array, shape (2, record_length)
"""

from ._library import PROTOTYPES, can_unload, find_library, load_library, unload_library
from .errors import (InstrumentClosedError, InvalidChannelError, InvalidValueError, LibraryNotFoundError, LibraryUnloadedError,
                     NoGeneratorError, NoInstrumentError, NotAvailableError, NotInitialisedError, OneInstrumentError,
                     RK350Error)
from .instrument import MEASURE_MODES, SIGNAL_TYPES, TRIGGER_SOURCES, Channel, Generator, Instrument, Record
from .sim import VirtualCard

__all__ = [
    "Instrument", "Channel", "Generator", "Record", "VirtualCard", "InstrumentClosedError", "OneInstrumentError", "find_library", "load_library", "unload_library", "can_unload", "PROTOTYPES",
    "RK350Error", "NoInstrumentError", "NotInitialisedError", "NotAvailableError", "NoGeneratorError",
    "InvalidChannelError", "InvalidValueError", "LibraryNotFoundError", "TRIGGER_SOURCES", "SIGNAL_TYPES",
    "MEASURE_MODES", "LibraryUnloadedError",
]
