#!/usr/bin/env python3
"""Checks from a DLL's image which Windows versions can load it.

- Every imported function is on the target's allow-list, whose line names the
  earliest Windows 9x and NT versions that export it and a source for that.
  A new import fails here until its line, with a source, is added.
- No import by ordinal alone (the lists are by name).
- The PE header states the oldest Windows the DLL was built for: the OS and
  subsystem versions given by --pe-version.
- No native thread-local data: before Vista, a DLL loaded by LoadLibrary gets
  no thread-local storage from the loader, so any `thread_local` compiled to
  native TLS would use another module's slot. The MinGW C runtime's TLS
  directory with its empty template (nothing between its two markers) is
  allowed: those systems ignore it.
- The oldest Windows versions that export every import, from the list, must
  not be newer than --oldest-nt (and --oldest-9x where given). For a 9x
  target, no import may be one that 9x exports only as a stub that fails.

Prints one line per DLL with the oldest Windows it loads on.

Usage: check_dll_imports.py --objdump OBJDUMP --dll DLL --allowed LIST
                            --pe-version 4.0 --oldest-nt NT4 [--oldest-9x 98]
"""
import argparse
import re
import struct
import subprocess
import sys

# Versions in order of release. A line's version is its first word, so
# "NT4 (inferred)" and "NT4 or earlier" are NT4.
NT_ORDER = ["NT3.1", "NT351", "NT4", "2K", "XP", "2K3x64", "VISTA"]
NT_NAMES = {"NT3.1": "NT 3.1", "NT351": "NT 3.51", "NT4": "NT 4.0", "2K": "2000", "XP": "XP",
            "2K3x64": "XP x64 / Server 2003 x64", "VISTA": "Vista"}
NINE_X_ORDER = ["95", "98", "ME"]


def version_word(text):
    return text.strip().split(" ")[0].rstrip(";")


def read_allowed(path):
    """(DLL, function) -> (earliest 9x text, earliest NT text, source); and faults in the list itself."""
    allowed = {}
    faults = []
    line_pattern = re.compile(r"^(\S+)\s+(\S+)\s+#\s*([^|]+)\|([^|]+)\|(.*)$")
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line.strip() or line.startswith("#"):
                continue
            m = line_pattern.match(line)
            if not m:
                faults.append(f"{path}:{number}: not 'DLL Function  # 9x | NT | source'")
                continue
            dll, function, nine_x, nt, source = (g.strip() for g in m.groups())
            if not source:
                faults.append(f"{path}:{number}: {function} names no source")
            if version_word(nt) not in NT_ORDER + ["unknown"]:
                faults.append(f"{path}:{number}: {function}: unknown NT version '{nt}'")
            allowed[(dll.upper(), function)] = (nine_x, nt, source)
    return allowed, faults


def read_objdump(objdump, dll):
    dump = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
    imports = []
    by_ordinal = []
    current = None
    for line in dump.splitlines():
        m = re.match(r"^\tDLL Name: (\S+)", line)
        if m:
            current = m.group(1).upper()
            continue
        if current is None:
            continue
        if not line.strip():
            current = None
            continue
        m = re.match(r"^\t[0-9a-f]+\t\s*(\d+)\s+([A-Za-z_]\S*)$", line)
        if m:
            imports.append((current, m.group(2)))
        elif "Member-Name" not in line:
            by_ordinal.append((current, line.strip()))
    fields = {}
    for name in ("MajorOSystemVersion", "MinorOSystemVersion", "MajorSubsystemVersion", "MinorSubsystemVersion"):
        m = re.search(rf"^{name}\s+(\d+)$", dump, re.M)
        fields[name] = int(m.group(1)) if m else None
    return imports, by_ordinal, fields


def tls_template(dll):
    """(template bytes, zero fill, pointer size) of the TLS directory, or None when there is none."""
    with open(dll, "rb") as f:
        image = f.read()
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    sections = struct.unpack_from("<H", image, pe + 6)[0]
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    pe32_plus = magic == 0x20B
    directories = optional + (112 if pe32_plus else 96)
    tls_rva, tls_size = struct.unpack_from("<II", image, directories + 9 * 8)
    if tls_rva == 0 or tls_size == 0:
        return None
    table = optional + optional_size
    offset = None
    for i in range(sections):
        _, virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from("<8sIIII", image, table + i * 40)
        if virtual_address <= tls_rva < virtual_address + max(virtual_size, raw_size):
            offset = raw_pointer + tls_rva - virtual_address
    if offset is None:
        raise ValueError("TLS directory outside every section")
    pointer = "<Q" if pe32_plus else "<I"
    step = 8 if pe32_plus else 4
    start = struct.unpack_from(pointer, image, offset)[0]
    end = struct.unpack_from(pointer, image, offset + step)[0]
    zero_fill = struct.unpack_from("<I", image, offset + 4 * step)[0]
    return end - start, zero_fill, step


def oldest(imports, allowed, order, column):
    """The newest of the earliest versions over all imports, and the imports whose version is unknown."""
    newest = order[0]
    unknown = []
    absent = []
    for key in imports:
        text = allowed[key][column]
        word = version_word(text)
        if word in order:
            if order.index(word) > order.index(newest):
                newest = word
        elif word == "none":
            absent.append(key[1])
        elif word not in ("n/a",):
            unknown.append(key[1])
    return newest, unknown, absent


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--objdump", required=True)
    parser.add_argument("--dll", required=True)
    parser.add_argument("--allowed", required=True)
    parser.add_argument("--pe-version", required=True, help="major.minor of the OS and subsystem versions")
    parser.add_argument("--oldest-nt", required=True, choices=NT_ORDER)
    parser.add_argument("--oldest-9x", choices=NINE_X_ORDER)
    args = parser.parse_args()

    allowed, faults = read_allowed(args.allowed)
    imports, by_ordinal, fields = read_objdump(args.objdump, args.dll)
    if not imports:
        faults.append("no imports found")
    for dll, entry in by_ordinal:
        faults.append(f"imports {dll} by ordinal ({entry}): the lists name functions")
    listed = []
    for key in sorted(set(imports)):
        if key in allowed:
            listed.append(key)
        else:
            faults.append(f"imports {key[0]}!{key[1]}, which {args.allowed} does not list: add its line with the "
                          "earliest Windows 9x and NT versions that export it and a source")

    major, minor = (int(v) for v in args.pe_version.split("."))
    for kind in ("OSystem", "Subsystem"):
        got = (fields[f"Major{kind}Version"], fields[f"Minor{kind}Version"])
        if got != (major, minor):
            faults.append(f"PE {kind} version {got[0]}.{got[1]}, expected {major}.{minor}")

    template = tls_template(args.dll)
    if template is not None:
        size, zero_fill, step = template
        # The C runtime's template runs from its start marker to its end
        # marker, at most a pointer's width further: nothing in between.
        if size > step or zero_fill != 0:
            faults.append(f"native thread-local data in the TLS template ({size} bytes, {zero_fill} zero-filled): "
                          "pre-Vista Windows sets up none for a DLL loaded by LoadLibrary")

    nt, nt_unknown, nt_absent = oldest(listed, allowed, NT_ORDER, 1)
    if NT_ORDER.index(nt) > NT_ORDER.index(args.oldest_nt):
        faults.append(f"needs Windows {NT_NAMES[nt]}; the target is {NT_NAMES[args.oldest_nt]}: "
                      + ", ".join(k[1] for k in listed if version_word(allowed[k][1]) == nt))
    # The PE version given keeps older NT releases out whatever the imports.
    verdict = f"Windows {NT_NAMES[max(nt, args.oldest_nt, key=NT_ORDER.index)]}"
    if args.oldest_9x:
        nine_x, _, nine_x_absent = oldest(listed, allowed, NINE_X_ORDER, 0)
        stubs = [k[1] for k in listed if "stub" in allowed[k][0]]
        if stubs:
            faults.append(f"on Windows 9x only a stub that fails: {', '.join(stubs)} (call the ANSI version)")
        if nine_x_absent:
            faults.append(f"not exported by any Windows 9x: {', '.join(nine_x_absent)}")
        elif NINE_X_ORDER.index(nine_x) > NINE_X_ORDER.index(args.oldest_9x):
            faults.append(f"needs Windows {nine_x}; the target is Windows {args.oldest_9x}")
        # msvcrt.dll came with Windows 98 and NT 4.0; 95 had none of its own.
        msvcrt = any(k[0] == "MSVCRT.DLL" for k in listed)
        verdict = (f"Windows {nine_x}" + (" (95 with the msvcrt.dll redistributable)" if msvcrt and nine_x == "98"
                                         else "") + f" and {verdict}")
    if nt_absent:
        faults.append(f"not exported by {NT_NAMES[args.oldest_nt]}: {', '.join(nt_absent)}")

    for fault in faults:
        print(f"{args.dll}: {fault}", file=sys.stderr)
    if faults:
        return 1
    note = f"; {len(nt_unknown)} of them listed without a known NT version" if nt_unknown else ""
    print(f"{args.dll}: loads on {verdict} or later: {len(listed)} imports, each on {args.allowed.split('/')[-1]} "
          f"with its source{note}; PE OS and subsystem version {major}.{minor}; no native thread-local data")
    return 0


if __name__ == "__main__":
    sys.exit(main())
