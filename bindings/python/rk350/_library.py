"""Finding, loading and declaring the shared library."""

import ctypes
import os
import shutil
import sys
import tempfile
from pathlib import Path

from ._prototypes import PROTOTYPES, SIM_PROTOTYPES
from .errors import LibraryNotFoundError, LibraryUnloadedError

FLAVOURS = ("virtual", "hardware")


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


def find_helper(file_name, variable):
    """Path of a helper library built with the tools (librk350_recorder.so,
    librk350_measure.so): the file the environment variable ``variable``
    names, RK350_LIBRARY_DIR, then the build trees and install places the
    driver library is looked for in; None when there is none."""
    candidates = [Path(os.environ[variable])] if os.environ.get(variable) else []
    dirs = [Path(os.environ["RK350_LIBRARY_DIR"])] if os.environ.get("RK350_LIBRARY_DIR") else []
    candidates += [d / file_name for d in dirs + _search_directories()]
    return next((str(c) for c in candidates if c.is_file()), None)


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


_INTEGER_TYPES = (ctypes.c_uint8, ctypes.c_uint16, ctypes.c_uint32, ctypes.c_int32, ctypes.c_int)


class Export:
    """One export of a loaded library, declared with its header's prototype.

    Called after its library was unloaded it raises LibraryUnloadedError
    instead of jumping into unmapped code; an integer that does not fit the
    argument's C type raises ValueError instead of being wrapped (the C
    side would see only its low bits: 2**32 + 1000 as 1000, 257 as 1).
    """

    __slots__ = ("library", "name", "function", "_integers")

    def __init__(self, library, name, function, argtypes):
        self.library = library
        self.name = name
        self.function = function
        self._integers = [(i, t) for i, t in enumerate(argtypes) if t in _INTEGER_TYPES]

    def __call__(self, *args):
        if self.library.unloaded:
            raise LibraryUnloadedError(self.name)
        for i, ctype in self._integers:
            if i < len(args) and hasattr(args[i], "__index__"):
                value = args[i].__index__()
                if ctype(value).value != value:
                    raise ValueError("%s: argument %d, %r, does not fit the call's argument (%s)"
                                     % (self.name, i + 1, value, ctype.__name__))
        return self.function(*args)

    def __repr__(self):
        return "<rk350 export %s>" % self.name


class Library:
    """A loaded library: its exports as attributes (``lib.InitInstrument``).

    Exports the headers declare carry their prototypes; ``path`` is the file
    loaded. Once ``unload_library`` released it, every export, also one kept
    in a variable, raises LibraryUnloadedError.
    """

    def __init__(self, cdll, path, load):
        self._cdll = cdll
        self._handle = cdll._handle
        self._rk350_path = path
        self._rk350_load = load
        self._exports = {}
        self.unloaded = False

    def __getattr__(self, name):
        if name.startswith("__") and name.endswith("__"):
            raise AttributeError(name)
        if self.unloaded:
            raise LibraryUnloadedError(name)
        export = self._exports.get(name)
        if export is None:
            function = getattr(self._cdll, name)  # AttributeError when the library lacks it
            restype, argtypes = _prototype(name)
            if argtypes is not None:
                function.restype = restype
                function.argtypes = argtypes
            export = self._exports[name] = Export(self, name, function, argtypes or [])
        return export

    def __getitem__(self, name):
        return self.__getattr__(name)

    def __repr__(self):
        return "<rk350 library %s%s>" % (self._rk350_path, " (unloaded)" if self.unloaded else "")


def _prototype(name):
    if name in PROTOTYPES:
        return PROTOTYPES[name]
    if name.startswith("RK350Sim_") and name[len("RK350Sim_"):] in SIM_PROTOTYPES:
        return SIM_PROTOTYPES[name[len("RK350Sim_"):]]
    return None, None


def load_library(flavour="virtual", path=None, private_copy=False):
    """Loads the library; every export comes declared with its prototype.

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
        cdll = loader(path)
    except OSError as error:
        raise LibraryNotFoundError("cannot load %s: %s" % (path, error)) from error
    if private_copy and sys.platform != "win32":
        # The mapping stays; the file is not needed any more.
        try:
            os.remove(path)
            os.rmdir(os.path.dirname(path))
        except OSError:
            pass
    return Library(cdll, path, (flavour, source, private_copy))


def can_unload():
    """Whether unload_library can take the library out of this process.

    Where it cannot (Windows here), a fresh library state needs a private copy.
    """
    import _ctypes
    return sys.platform != "win32" and hasattr(_ctypes, "dlclose") and hasattr(os, "RTLD_NOLOAD")


def _still_loaded(path):
    try:
        probe = ctypes.CDLL(path, mode=os.RTLD_NOW | os.RTLD_NOLOAD)
    except OSError:
        return False
    import _ctypes
    _ctypes.dlclose(probe._handle)
    return True


def still_loaded(lib):
    """Whether the module ``lib`` was loaded from is in the process (held by
    ``lib`` or by another load of the same file)."""
    return _still_loaded(lib._rk350_path)


def unload_library(lib):
    """Releases a library that load_library loaded; afterwards every call
    through ``lib`` raises LibraryUnloadedError.

    Answers True when the library left the process, so that its next load
    starts from a fresh state (a new instrument; for the virtual flavour a new
    card), and False where it stays loaded: another load of the same file in
    this process still holds it, or this platform cannot unload.
    """
    if not can_unload() or lib.unloaded:
        return False
    import _ctypes
    lib.unloaded = True
    lib._exports.clear()
    _ctypes.dlclose(lib._handle)
    return not _still_loaded(lib._rk350_path)


def reload_library(lib):
    """A new load of the file that ``lib`` was loaded from, as it was loaded."""
    flavour, source, private_copy = lib._rk350_load
    return load_library(flavour, source, private_copy)
