"""Finding, loading and declaring the shared library."""

import ctypes
import os
import shutil
import sys
import tempfile
from pathlib import Path

from .errors import LibraryNotFoundError, LibraryUnloadedError

FLAVOURS = ("virtual", "hardware")

_c = ctypes
u8, u16, u32, i32, f64 = _c.c_uint8, _c.c_uint16, _c.c_uint32, _c.c_int32, _c.c_double
P = _c.POINTER
vp, cp = _c.c_void_p, _c.c_char_p

# name: (result type, argument types). Every export of rk350.h and rk350_ext.h.
PROTOTYPES = {
    "InitInstrument": (u16, [u16]),
    "ExitInstrument": (u16, []),
    "GetCalibrationDate": (u16, [P(u32)]),
    "GetSerialNumber": (u16, [P(i32)]),
    "GetNrChannels": (u16, [P(u16)]),
    "GetMaxSampleFrequencyF": (f64, []),
    "GetMaxSampleFrequency": (i32, []),
    "GetMaxRecordLength": (i32, []),
    "GetDCLevelStatus": (u32, []),
    "GetSquareWaveGenStatus": (u16, []),
    "GetFunctionGenStatus": (u16, []),
    "GetFuncGenMaxAmplitude": (u16, [P(f64)]),
    "GetAvailableSensitivities": (u16, [P(f64)]),
    "GetAvailableResolutions": (u16, [P(f64)]),
    "GetSensitivity": (u16, [u8, P(f64)]),
    "SetSensitivity": (u16, [u8, P(f64)]),
    "GetAutoRanging": (u16, [u8, P(u8)]),
    "SetAutoRanging": (u16, [u8, u8]),
    "GetCoupling": (u16, [u8, P(u8)]),
    "SetCoupling": (u16, [u8, u8]),
    "GetDcLevel": (u16, [u8, P(f64)]),
    "SetDcLevel": (u16, [u8, f64]),
    "GetResolution": (u16, [P(u8)]),
    "SetResolution": (u16, [u8]),
    "GetSampleFrequencyF": (f64, []),
    "SetSampleFrequencyF": (u16, [P(f64)]),
    "GetSampleFrequency": (u32, []),
    "SetSampleFrequency": (u16, [P(u32)]),
    "GetExternalClock": (u16, [P(u16)]),
    "SetExternalClock": (u16, [u16]),
    "GetInstrumentConfig": (u16, [P(u16)]),
    "SetInstrumentConfig": (u16, [u16]),
    "GetTriggerSource": (u16, [P(u8)]),
    "SetTriggerSource": (u16, [u8]),
    "GetTriggerMode": (u16, [P(u8)]),
    "SetTriggerMode": (u16, [u8]),
    "GetTriggerModeCh": (u16, [u8, P(u8)]),
    "SetTriggerModeCh": (u16, [u8, u8]),
    "GetTriggerLevel": (u16, [u8, P(f64)]),
    "SetTriggerLevel": (u16, [u8, f64]),
    "GetTriggerHys": (u16, [u8, P(f64)]),
    "SetTriggerHys": (u16, [u8, f64]),
    "GetPXITriggerSlopes": (u16, [P(u8)]),
    "SetPXITriggerSlopes": (u16, [u8]),
    "GetPXITriggerEnables": (u16, [P(u8)]),
    "SetPXITriggerEnables": (u16, [u8]),
    "GetTriggerTimeOut": (i32, []),
    "SetTriggerTimeOut": (u16, [u32]),
    "DoMeasure": (u16, [i32]),
    "ADC_Start": (u16, []),
    "ADC_Abort": (u16, []),
    "ADC_ForceTrig": (u16, []),
    "ADC_Running": (u16, []),
    "ADC_Triggered": (u16, []),
    "ADC_Ready": (u16, []),
    "ADC_GetDataCh": (u16, [u16, P(u16)]),
    "ADC_GetDataVoltCh": (u16, [u16, P(f64)]),
    "ADC_GetData": (u16, [P(u16), P(u16)]),
    "ADC_GetDataVolt": (u16, [P(f64), P(f64)]),
    "StartMeasurement": (u16, []),
    "GetMeasurement": (u16, [P(f64), P(f64)]),
    "GetOneMeasurement": (u16, [i32, P(f64), P(f64)]),
    "GetMeasurementRaw": (u16, [P(u16), P(u16)]),
    "GetOneMeasurementRaw": (u16, [i32, P(u16), P(u16)]),
    "GetOneMeasurementRawCh": (u16, [u16, i32, P(u16)]),
    "SetDataReadyCallback": (u16, [vp]),
    "SetDataReadyEvent": (u16, [vp]),
    "SetTransferMode": (u16, [u32]),
    "GetTransferMode": (u16, [P(u32)]),
    "GetMeasureMode": (u16, [P(u8)]),
    "SetMeasureMode": (u16, [u32]),
    "GetRecordLength": (i32, []),
    "SetRecordLength": (u16, [u32]),
    "GetPostSamples": (i32, []),
    "SetPostSamples": (u16, [u32]),
    "SetFuncGenSignalType": (u16, [u16]),
    "GetFuncGenSignalType": (u16, [P(u16)]),
    "SetFuncGenAmplitude": (u16, [f64]),
    "GetFuncGenAmplitude": (u16, [P(f64)]),
    "SetFuncGenAmplitudeRange": (u16, [u32]),
    "GetFuncGenAmplitudeRange": (u16, [u32]),
    "SetFuncGenDCOffset": (u16, [f64]),
    "GetFuncGenDCOffset": (u16, [P(f64)]),
    "SetFuncGenSymmetry": (u16, [f64]),
    "GetFuncGenSymmetry": (u16, [P(f64)]),
    "SetFuncGenFrequency": (u16, [P(f64)]),
    "GetFuncGenFrequency": (u16, [P(f64)]),
    "SetFuncGenTrigSource": (u16, [u8]),
    "GetFuncGenTrigSource": (u16, [P(u8)]),
    "FillFuncGenMemory": (u16, [u32, P(u16)]),
    "SetFuncGenOutputOn": (u16, [u16]),
    "GetFuncGenOutputOn": (u16, [P(u16)]),
    "SetFuncGenEnable": (u16, [u16]),
    "GetFuncGenEnable": (u16, [P(u16)]),
    "FuncGenBurst": (u16, [u16]),
    "SetFuncGenMode": (u16, [u32]),
    "GetFuncGenMode": (u16, [u32]),
    "SetSquareWaveGenFrequency": (u16, [P(u32)]),
    "GetSquareWaveGenFrequency": (u32, []),
    "GetDigitalInputValues": (u16, [P(u16)]),
    "GetOneDigitalValue": (u16, [u32, P(u16)]),
    "SetDigitalOutputs": (u16, [u32]),
    "GetDigitalOutputs": (u16, [P(u32)]),
    "SetupOhmMeasurements": (u16, [u32]),
    "GetOhmValues": (u16, [vp, vp]),
    "I2CWrite": (u16, [u32, vp, u32]),
    "I2CWriteNoStop": (u16, [u32, vp, u32]),
    "I2CRead": (u16, [u32, vp, u32]),
    "I2CReadNoStop": (u16, [u32, vp, u32]),
    "I2CGetSpeed": (u16, [P(u32)]),
    "I2CSetSpeed": (u16, [u32]),
    "GetActiveQV5": (u16, [u32]),
    "SetActiveQV5": (u16, [u32]),
    "SetDAC1451": (u16, [u32, u32, u32, u32]),
    "SetMotorOn": (u16, [u32, u32]),
    "RK350_ProcessMessages": (u32, []),
    "RK350_ResultName": (cp, [u32]),
    "RK350_ResultText": (cp, [u32]),
    "RK350_Version": (cp, []),
    "RK350_TakeMeasurementReady": (u32, []),
    "RK350_GetValidRange": (u16, [u32, P(i32), P(i32)]),
    "RK350_GetOverrange": (u16, [u32, P(u32)]),
    "RK350_SetSoftwareTrigger": (u16, [u32]),
    "RK350_GetSoftwareTrigger": (u16, [P(u32)]),
    "RK350_GetRecordTrigger": (u16, [P(u32)]),
    "RK350_GetArmedRunTime": (u16, [P(f64)]),
    "RK350_SetPortFunctions": (u16, [vp, vp, vp]),
    "RK350_SetMessageBoxHandler": (None, [vp, vp]),
}


def _file_names(flavour):
    stem = "rk350_virtual" if flavour == "virtual" else "rk350"
    if sys.platform == "win32":
        return [stem + ".dll"]
    if sys.platform == "darwin":
        return ["lib%s.dylib" % stem]
    return ["lib%s.so" % stem, "lib%s.so.0" % stem]


def _search_directories():
    """Build trees above the package (source checkout), then install places."""
    here = Path(__file__).resolve().parent
    dirs = []
    try:
        from . import _install_paths  # written when the package is installed
        dirs.append(Path(_install_paths.LIBRARY_DIR))
    except ImportError:
        pass
    for root in list(here.parents)[:4]:
        build = root / "build"
        if build.is_dir():
            dirs.append(build)
            dirs.extend(sorted(p for p in build.iterdir() if p.is_dir()))
    prefix = here.parents[2] if len(here.parents) > 2 else here
    dirs += [prefix, prefix / "lib", Path("/usr/local/lib"), Path("/usr/lib")]
    return dirs


def find_library(flavour="virtual"):
    """Path of the shared library of a flavour ("virtual" or "hardware").

    Order: the environment variable RK350_LIBRARY (a file; it names the
    library whatever the flavour), RK350_LIBRARY_DIR (a directory), the
    install location recorded at install time, build trees above this
    package, then the system's library search.
    """
    if flavour not in FLAVOURS:
        raise ValueError("flavour must be one of %s" % (FLAVOURS,))
    explicit = os.environ.get("RK350_LIBRARY")
    if explicit:
        if not Path(explicit).is_file():
            raise LibraryNotFoundError("RK350_LIBRARY names %s, which does not exist" % explicit)
        return explicit
    names = _file_names(flavour)
    dirs = []
    if os.environ.get("RK350_LIBRARY_DIR"):
        dirs.append(Path(os.environ["RK350_LIBRARY_DIR"]))
    dirs += _search_directories()
    for d in dirs:
        for name in names:
            candidate = d / name
            if candidate.is_file():
                return str(candidate)
    import ctypes.util
    found = ctypes.util.find_library("rk350_virtual" if flavour == "virtual" else "rk350")
    if found:
        return found
    raise LibraryNotFoundError(
        "cannot find the %s library (%s); build it, or set RK350_LIBRARY to its file"
        % (flavour, " or ".join(names)))


def _declare(lib):
    for name, (restype, argtypes) in PROTOTYPES.items():
        try:
            function = getattr(lib, name)
        except AttributeError:
            continue
        function.restype = restype
        function.argtypes = argtypes
    return lib


def load_library(flavour="virtual", path=None, private_copy=False):
    """Loads the library and declares every export's prototype.

    The library keeps one instrument per loaded module, and after
    ExitInstrument a second InitInstrument fails until the module is loaded
    again. ``private_copy=True`` loads a fresh copy of the file (its own
    module state and, for the virtual flavour, its own virtual card), which is
    how tests start from a clean library.
    """
    path = path or find_library(flavour)
    source = path
    if private_copy:
        directory = tempfile.mkdtemp(prefix="rk350-")
        copy = os.path.join(directory, os.path.basename(path))
        shutil.copy2(path, copy)
        path = copy
    loader = ctypes.WinDLL if sys.platform == "win32" and ctypes.sizeof(ctypes.c_void_p) == 4 else ctypes.CDLL
    try:
        lib = loader(path)
    except OSError as error:
        raise LibraryNotFoundError("cannot load %s: %s" % (path, error)) from error
    lib._rk350_path = path
    lib._rk350_load = (flavour, source, private_copy)
    if private_copy and sys.platform != "win32":
        # The mapping stays; the file is not needed any more.
        try:
            os.remove(path)
            os.rmdir(os.path.dirname(path))
        except OSError:
            pass
    return _declare(lib)


def can_unload():
    """Whether unload_library can take the library out of this process.

    Where it cannot (Windows here), a fresh library state needs a private copy.
    """
    import _ctypes
    return sys.platform != "win32" and hasattr(_ctypes, "dlclose") and hasattr(os, "RTLD_NOLOAD")


class _UnloadedLibrary(ctypes.CDLL):
    """What a library object becomes once unloaded: every export raises
    LibraryUnloadedError instead of calling into unmapped code."""

    def __getattr__(self, name):
        if name.startswith("__") and name.endswith("__"):
            raise AttributeError(name)
        raise LibraryUnloadedError(name)

    def __getitem__(self, name):
        raise LibraryUnloadedError(str(name))


def _still_loaded(path):
    try:
        probe = ctypes.CDLL(path, mode=os.RTLD_NOW | os.RTLD_NOLOAD)
    except OSError:
        return False
    import _ctypes
    _ctypes.dlclose(probe._handle)
    return True


def unload_library(lib):
    """Releases a library that load_library loaded; afterwards every call
    through ``lib`` raises LibraryUnloadedError.

    Answers True when the library left the process, so that its next load
    starts from a fresh state (a new instrument; for the virtual flavour a new
    card), and False where it stays loaded: another load of the same file in
    this process still holds it, or this platform cannot unload.
    """
    if not can_unload() or isinstance(lib, _UnloadedLibrary):
        return False
    import _ctypes
    _ctypes.dlclose(lib._handle)
    for name in [name for name in vars(lib) if not name.startswith("_")]:
        delattr(lib, name)  # cached function pointers into the unmapped code
    lib.__class__ = _UnloadedLibrary
    return not _still_loaded(lib._rk350_path)


def reload_library(lib):
    """A new load of the file that ``lib`` was loaded from, as it was loaded."""
    flavour, source, private_copy = lib._rk350_load
    return load_library(flavour, source, private_copy)
