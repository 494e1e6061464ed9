"""Exceptions named after the library's result codes (constants.Result)."""

from .constants import Result


class RK350Error(Exception):
    """A library call answered with a result code other than ResultOk.

    ``code`` is the numeric result, ``name`` its name (``ResultInvalidValue``),
    ``call`` the call that failed.
    """

    code = None
    result_name = "Unknown"

    def __init__(self, call, code=None, text=None):
        self.call = call
        if code is not None:
            self.code = code
        self.text = text
        message = "%s: %s" % (call, self.result_name)
        if text:
            message += " (%s)" % text
        super().__init__(message)


class NoInstrumentError(RK350Error):
    """No instrument: InitInstrument was not called, or found no card."""

    code = Result.NO_INSTRUMENT
    result_name = "ResultNoInstrument"


class NotInitialisedError(RK350Error):
    """The library is not initialised."""

    code = Result.NOT_INITIALISED
    result_name = "ResultNotInitialised"


class NotAvailableError(RK350Error):
    """The function or setting does not exist on this instrument."""

    code = Result.NOT_AVAILABLE
    result_name = "ResultNotAvailable"


class NoGeneratorError(RK350Error):
    """The instrument has no function generator."""

    code = Result.NO_GENERATOR
    result_name = "ResultNoGenerator"


class InvalidChannelError(RK350Error):
    """The channel number is 0 or above the channel count."""

    code = Result.INVALID_CHANNEL
    result_name = "ResultInvalidChannel"


class InvalidValueError(RK350Error):
    """An argument lies outside its allowed set or range."""

    code = Result.INVALID_VALUE
    result_name = "ResultInvalidValue"


class ValueAdjustedWarning(UserWarning):
    """The card runs another value than the one asked (a sample rate it
    rounds, a range it rounds up, a generator frequency within its reach);
    the message names both. ``warnings.simplefilter("error",
    ValueAdjustedWarning)`` makes it an exception."""


class InstrumentClosedError(NoInstrumentError):
    """The Instrument is not open (not yet, or closed again)."""

    def __init__(self, call, text=None):
        NoInstrumentError.__init__(self, call, self.code, text or "the instrument is not open: use it inside "
                                   "'with Instrument() as scope:' or after scope.open()")


class OneInstrumentError(RK350Error):
    """The loaded library already serves, or served, this process's one instrument."""

    result_name = "one instrument per process"

    def __init__(self, call, text):
        RK350Error.__init__(self, call, None, text)


class LibraryUnloadedError(InstrumentClosedError):
    """A call through a library that was unloaded (when its Instrument closed)."""

    def __init__(self, call):
        InstrumentClosedError.__init__(self, call, "this library was unloaded when its Instrument closed: "
                                       "open() the Instrument again, which loads it afresh")


class LibraryNotFoundError(OSError):
    """The shared library could not be found or loaded."""


_BY_CODE = {cls.code: cls for cls in (NoInstrumentError, NotInitialisedError, NotAvailableError,
                                      NoGeneratorError, InvalidChannelError, InvalidValueError)}
assert set(_BY_CODE) == set(Result) - {Result.OK}, "every result code has its exception"


def error_for(code, call, text=None):
    """The exception for a result code (RK350Error for unknown codes)."""
    cls = _BY_CODE.get(code)
    if cls is None:
        error = RK350Error(call, code, text)
        return error
    return cls(call, code, text)
