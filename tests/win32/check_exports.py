#!/usr/bin/env python3
"""Checks ONDRIX.dll's export table, import list and version resource.

usage: check_exports.py OBJDUMP ONDRIX.dll

The DLL must export exactly the 16 functions under their plain names at
their ordinals, import from no DLL beyond wpcap, oleaut32, kernel32 and
msvcrt, and carry the version 0.4.0.0 in its VS_FIXEDFILEINFO.
"""
import re
import struct
import subprocess
import sys

EXPECTED = {
    1: "OndrixInit",
    2: "oxGetAdapterInfo",
    3: "OndrixTerminate",
    4: "oxSetCurrentAdapter",
    5: "oxGetCurrentAdapter",
    6: "oxBegin",
    7: "oxEnd",
    8: "oxCaptureMem",
    9: "oxCaptureMemSafe",
    10: "oxSetKernelBuffSize",
    11: "oxGetErrorDescription",
    12: "oxCaptureDiskSafe",
    13: "oxSetParam",
    14: "oxSendPacket",
    15: "oxCapture",
    16: "oxGetAdapterInfoVB5",
}
ALLOWED_IMPORTS = {"wpcap.dll", "oleaut32.dll", "kernel32.dll", "msvcrt.dll"}
VERSION = (0, 4, 0, 0)


def parse_exports(text):
    """Ordinal -> name, from the export address and name pointer tables."""
    base = re.search(r"^Ordinal Base\s+(\d+)", text, re.M)
    if not base:
        raise SystemExit("no export table found")
    base = int(base.group(1))
    eat = re.search(r"Export Address Table -- Ordinal Base \d+\n(.*?)\n\n", text, re.S)
    ordinals = set()
    for line in eat.group(1).splitlines():
        m = re.match(r"\s*\[\s*(\d+)\]\s+\+base\[\s*(\d+)\]\s+([0-9a-fA-F]+)", line)
        if m:
            ordinals.add(int(m.group(2)))
    names = {}
    table = re.search(r"\[Ordinal/Name Pointer\] Table[^\n]*\n(.*?)(?:\n\n|\Z)", text, re.S)
    for line in table.group(1).splitlines():
        m = re.match(r"\s*\[\s*(\d+)\]\s+(\S+)", line)
        if m:
            # binutils prints the unbiased index into the address table.
            names[int(m.group(1)) + base] = m.group(2)
    return base, ordinals, names


def parse_imports(text):
    return re.findall(r"^\s*DLL Name:\s*(\S+)", text, re.M)


def fixed_file_info(path):
    """(file version, product version) from the VS_FIXEDFILEINFO block."""
    data = open(path, "rb").read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls, pms, pls = struct.unpack_from("<IIII", data, at + 8)
    split = lambda hi, lo: (hi >> 16, hi & 0xFFFF, lo >> 16, lo & 0xFFFF)
    return split(ms, ls), split(pms, pls)


def main():
    objdump, dll = sys.argv[1], sys.argv[2]
    text = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
    problems = []

    base, ordinals, names = parse_exports(text)
    if base != 1:
        problems.append(f"ordinal base is {base}, not 1")
    if ordinals != set(EXPECTED):
        problems.append(f"export ordinals {sorted(ordinals)} differ from 1..16")
    for ordinal, name in sorted(EXPECTED.items()):
        got = names.get(ordinal)
        if got != name:
            problems.append(f"ordinal {ordinal}: expected {name}, found {got}")
    for ordinal, name in sorted(names.items()):
        if ordinal not in EXPECTED:
            problems.append(f"extra export {name} at ordinal {ordinal}")

    imports = parse_imports(text)
    if not imports:
        problems.append("no import table found")
    for dll_name in imports:
        if dll_name.lower() not in ALLOWED_IMPORTS:
            problems.append(f"imports from {dll_name}")
    if "wpcap.dll" not in {d.lower() for d in imports}:
        problems.append("does not import wpcap.dll")

    if not re.search(r"Resource Directory section", text) or not re.search(r"Entry: ID: 0x0+10,", text):
        problems.append("no RT_VERSION resource")
    versions = fixed_file_info(dll)
    if versions is None:
        problems.append("no VS_FIXEDFILEINFO")
    else:
        if versions[0] != VERSION:
            problems.append(f"file version {versions[0]}, expected {VERSION}")
        if versions[1] != VERSION:
            problems.append(f"product version {versions[1]}, expected {VERSION}")

    print(f"exports: {len(names)}, imports: {', '.join(imports)}, version: {versions}")
    for p in problems:
        print("FAIL:", p)
    if problems:
        return 1
    print("export table, imports and version resource as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
