"""What the public headers declare, read from include/rk350/*.h: the
`#define` codes, each export's prototype as ctypes types, and the virtual
card's source struct."""

import ctypes
import re
from pathlib import Path

import rk350._prototypes as prototypes

INCLUDE = Path(__file__).resolve().parents[3] / "include" / "rk350"
HEADERS = ("rk350.h", "rk350_ext.h", "rk350_sim.h")

_SCALARS = {"uint8_t": ctypes.c_uint8, "uint16_t": ctypes.c_uint16, "uint32_t": ctypes.c_uint32,
            "int32_t": ctypes.c_int32, "int": ctypes.c_int, "double": ctypes.c_double}


def text(name):
    return (INCLUDE / name).read_text()


def defines():
    """Every `#define NAME value` with an integer value, over all headers."""
    found = {}
    for name in HEADERS:
        for macro, value in re.findall(r"^#define\s+(RK350\w+)\s+(-?(?:0x[0-9A-Fa-f]+|\d+))u?\b", text(name), re.M):
            found[macro] = int(value, 0)
    return found


def _function_pointer_types():
    names = set()
    for name in HEADERS:
        names.update(re.findall(r"typedef\s+\w+\s*\(\s*RK350_CALL\s*\*\s*(\w+)\)", text(name)))
    return names


def ctype(declaration, pointers_to_functions):
    """The ctypes type of a C declaration ("const uint16_t *samples")."""
    declaration = re.sub(r"\bconst\b", "", declaration).strip()
    stars = declaration.count("*")
    words = declaration.replace("*", " ").split()
    base = words[0]
    if base in pointers_to_functions:
        return ctypes.c_void_p
    if base == "void":
        return None if stars == 0 else ctypes.c_void_p
    if base == "char" and stars == 1:
        return ctypes.c_char_p
    if base == "RK350SimSource":
        target = prototypes.Source
    else:
        target = _SCALARS[base]
    for _ in range(stars):
        target = ctypes.POINTER(target)
    return target


def exports(name):
    """{export: (result type, [argument types])} of one header."""
    functions = _function_pointer_types()
    declared = {}
    for result, export, arguments in re.findall(r"^RK350_API\(([^)]*)\)\s+(\w+)\(([^)]*)\);", text(name), re.M):
        arguments = [] if arguments.strip() in ("", "void") else [a for a in arguments.split(",")]
        declared[export] = (ctype(result, functions), [ctype(a, functions) for a in arguments])
    return declared


def source_struct_fields():
    """[(field, ctypes type)] of RK350SimSource."""
    body = re.search(r"typedef struct RK350SimSource \{(.*?)\}", text("rk350_sim.h"), re.S).group(1)
    body = re.sub(r"/\*.*?\*/", "", body, flags=re.S)
    return [(field, _SCALARS[kind]) for kind, field in re.findall(r"(\w+)\s+(\w+);", body)]
