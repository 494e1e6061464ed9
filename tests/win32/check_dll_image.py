#!/usr/bin/env python3
"""Checks a library DLL from its image alone, without running it.

- Every export of the public headers is exported under its plain name, and
  nothing else is exported.
- The DLL's export ordinals are the ones its .def file gives.
- The DLL imports nothing but system DLLs (KERNEL32, USER32, msvcrt).
- On 32-bit x86: each export removes the argument bytes its prototype gives;
  the linker recorded the stdcall-decorated name (Name@N) of each plain
  export in the .def, and N must equal the header's argument bytes.

Usage: check_dll_image.py --objdump OBJDUMP --dll DLL --def DEF
                          --exports exports.txt [--virtual-card] [--x86]
"""
import argparse
import re
import subprocess
import sys

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "msvcrt.dll"}


def read_header_exports(path, virtual_card):
    """name -> argument bytes on 32-bit x86, for the exports this flavour carries."""
    expected = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            name, header, argument_bytes = line.split()
            if header == "rk350_sim.h" and not virtual_card:
                continue
            expected[name] = int(argument_bytes)
    return expected


def read_def(path):
    """name -> (ordinal, decorated stack bytes or None) from the linker's .def."""
    entries = {}
    pattern = re.compile(r"^\s+([A-Za-z0-9_]+)(?:\s*=\s*[A-Za-z0-9_]+@(\d+))?\s+@(\d+)")
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = pattern.match(line)
            if m:
                decorated = int(m.group(2)) if m.group(2) is not None else None
                entries[m.group(1)] = (int(m.group(3)), decorated)
    return entries


def read_image(objdump, dll):
    """(name -> ordinal, imported DLL names) from objdump's view of the PE image."""
    dump = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
    base_match = re.search(r"Ordinal Base (\d+)", dump)
    base = int(base_match.group(1)) if base_match else 1
    exports = {}
    in_names = False
    for line in dump.splitlines():
        if line.startswith("[Ordinal/Name Pointer] Table"):
            in_names = True
            continue
        if in_names:
            m = re.match(r"^\s+\[\s*(\d+)\]\s+(\S+)$", line)
            if not m:
                in_names = False
                continue
            exports[m.group(2)] = int(m.group(1)) + base
    imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)}
    return exports, imports


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--def", dest="def_file", required=True)
    parser.add_argument("--exports", required=True)
    parser.add_argument("--virtual-card", action="store_true")
    parser.add_argument("--x86", action="store_true", help="check the stdcall stack sizes too")
    args = parser.parse_args()

    expected = read_header_exports(args.exports, args.virtual_card)
    definitions = read_def(args.def_file)
    exported, imports = read_image(args.objdump, args.dll)
    faults = []

    for name in sorted(expected):
        if name not in exported:
            faults.append(f"missing export {name}")
    for name in sorted(exported):
        if "@" in name:
            faults.append(f"decorated export {name}")
        elif name not in expected:
            faults.append(f"export not in the headers: {name}")
    if len(exported) < 110:
        faults.append(f"only {len(exported)} exports: not the whole interface")

    for name, ordinal in sorted(exported.items()):
        if name not in definitions:
            faults.append(f"{name} is exported but not in {args.def_file}")
        elif definitions[name][0] != ordinal:
            faults.append(f"{name}: ordinal {ordinal} in the DLL, {definitions[name][0]} in the .def")
    for name in sorted(set(definitions) - set(exported)):
        faults.append(f"{name} is in the .def but not exported")

    if args.x86:
        for name, argument_bytes in sorted(expected.items()):
            decorated = definitions.get(name, (None, None))[1]
            if decorated is None:
                faults.append(f"{name}: no stdcall-decorated name in the .def")
            elif decorated != argument_bytes:
                faults.append(f"{name}: removes {decorated} argument bytes, its prototype gives {argument_bytes}")

    if not imports:
        faults.append("no imports found")
    for name in sorted(imports - SYSTEM_DLLS):
        faults.append(f"needs {name} beside it")

    for fault in faults:
        print(f"{args.dll}: {fault}", file=sys.stderr)
    if faults:
        return 1
    print(f"{args.dll}: {len(exported)} exports as the headers declare, ordinals as in the .def"
          + (", stdcall stack sizes as the prototypes give" if args.x86 else "")
          + f"; imports only {', '.join(sorted(imports))}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
