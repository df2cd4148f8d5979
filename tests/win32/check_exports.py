#!/usr/bin/env python3
"""Checks ONDRIX.dll's export table, import list and version resource.

usage: check_exports.py [--stripped] [--version X.Y.Z] OBJDUMP ONDRIX.dll

The DLL must export exactly the 20 functions under their plain names at
their ordinals, import from no DLL beyond wpcap, oleaut32, kernel32 and
msvcrt, from wpcap only what WinPcap 4.1.3 also had, and carry the project version (X.Y.Z.0, from the top CMakeLists.txt
unless given) in its VS_FIXEDFILEINFO and its FileVersion and ProductVersion
strings, with a FileDescription, ProductName, CompanyName and LegalCopyright.
Its PE header carries no link time, so that rebuilds are identical.
--stripped: the DLL as released, without symbols or debug sections.
"""
import argparse
import pathlib
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
    17: "oxGetStats",
    18: "oxGetAdapterDetails",
    19: "oxFindAdapter",
    20: "oxDecodePacket",
    21: "oxGetPacketTime",
    22: "oxDecodeName",
}
# What ONDRIX.dll may import from wpcap.dll: functions WinPcap 4.1.3 has too,
# so that the DLL still loads where an old WinPcap is installed.
WINPCAP_413 = {
    "pcap_findalldevs", "pcap_freealldevs", "pcap_open_live", "pcap_open_offline", "pcap_setbuff",
    "pcap_compile", "pcap_setfilter", "pcap_freecode", "pcap_geterr", "pcap_next_ex", "pcap_dump_open",
    "pcap_dump", "pcap_dump_flush", "pcap_dump_close", "pcap_sendpacket", "pcap_close", "pcap_stats",
    "pcap_setmintocopy", "pcap_datalink",
}
ALLOWED_IMPORTS = {"wpcap.dll", "oleaut32.dll", "kernel32.dll", "msvcrt.dll"}
NAMED_STRINGS = ("FileDescription", "ProductName", "CompanyName", "LegalCopyright")


def project_version():
    """X.Y.Z from project(ondrix VERSION X.Y.Z) in the top CMakeLists.txt."""
    top = pathlib.Path(__file__).resolve().parents[2] / "CMakeLists.txt"
    m = re.search(r"project\(\s*ondrix\s+VERSION\s+([0-9.]+)", top.read_text())
    if not m:
        raise SystemExit(f"no project version in {top}")
    return m.group(1)


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


def wpcap_functions(text):
    """Names imported from wpcap.dll."""
    block = re.search(r"DLL Name:\s*wpcap\.dll\n.*?\n(.*?)\n\s*\n", text, re.S | re.I)
    return re.findall(r"^\s*[0-9a-f]+\s+\d+\s+(\w+)", block.group(1), re.M) if block else []


def fixed_file_info(path):
    """(file version, product version) from the VS_FIXEDFILEINFO block."""
    data = open(path, "rb").read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls, pms, pls = struct.unpack_from("<IIII", data, at + 8)
    split = lambda hi, lo: (hi >> 16, hi & 0xFFFF, lo >> 16, lo & 0xFFFF)
    return split(ms, ls), split(pms, pls)


def version_strings(data):
    """Key -> text of the first string table in the VS_VERSIONINFO resource."""
    at = data.find("VS_VERSION_INFO".encode("utf-16-le"))
    if at < 6:
        return None
    start = at - 6  # wLength, wValueLength, wType come before the key
    align = lambda p: start + ((p - start + 3) & ~3)

    def block(off):
        """(key, text value, children, end) of the block at off."""
        length, value_length, kind = struct.unpack_from("<HHH", data, off)
        end = off + length
        if length < 6 or end > len(data):
            raise ValueError(f"bad version block at {off:#x}")
        key_end = off + 6
        while data[key_end : key_end + 2] != b"\0\0":
            key_end += 2
            if key_end >= end:
                raise ValueError(f"unterminated key in version block at {off:#x}")
        key = data[off + 6 : key_end].decode("utf-16-le")
        p = align(key_end + 2)
        value = ""
        if kind == 1 and value_length:
            # Text up to its terminator, whether the length counts characters or bytes.
            raw = data[p:end]
            stop = next((i for i in range(0, len(raw) - 1, 2) if raw[i : i + 2] == b"\0\0"), len(raw))
            value = raw[:stop].decode("utf-16-le")
            p = end
        else:
            p = align(p + value_length)
        children = []
        while p < end:
            child = block(p)
            children.append(child)
            p = align(child[3])
        return key, value, children, end

    _, _, children, _ = block(start)
    for key, _, tables, _ in children:
        if key == "StringFileInfo" and tables:
            return {k: v for k, v, _, _ in tables[0][2]}
    return {}


def pe_file_header(data):
    """(TimeDateStamp, PointerToSymbolTable, NumberOfSymbols) of the COFF header."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe : pe + 4] != b"PE\0\0":
        raise SystemExit("not a PE file")
    return struct.unpack_from("<III", data, pe + 8)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--stripped", action="store_true")
    parser.add_argument("--version")
    parser.add_argument("objdump")
    parser.add_argument("dll")
    args = parser.parse_args()
    objdump, dll = args.objdump, args.dll
    parts = (args.version or project_version()).split(".")
    dotted = ".".join((parts + ["0"] * 4)[:4])
    version = tuple(int(x) for x in dotted.split(".")[:4])
    text = subprocess.run([objdump, "-p", dll], check=True, capture_output=True, text=True).stdout
    data = open(dll, "rb").read()
    problems = []

    base, ordinals, names = parse_exports(text)
    if base != 1:
        problems.append(f"ordinal base is {base}, not 1")
    if ordinals != set(EXPECTED):
        problems.append(f"export ordinals {sorted(ordinals)} differ from 1..20")
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
    for name in sorted(set(wpcap_functions(text)) - WINPCAP_413):
        problems.append(f"imports {name}, which WinPcap 4.1.3 lacks")

    if not re.search(r"Resource Directory section", text) or not re.search(r"Entry: ID: 0x0+10,", text):
        problems.append("no RT_VERSION resource")
    versions = fixed_file_info(dll)
    if versions is None:
        problems.append("no VS_FIXEDFILEINFO")
    else:
        if versions[0] != version:
            problems.append(f"file version {versions[0]}, expected {version}")
        if versions[1] != version:
            problems.append(f"product version {versions[1]}, expected {version}")
    try:
        strings = version_strings(data)
    except (ValueError, struct.error, UnicodeDecodeError) as e:
        problems.append(f"unreadable version strings: {e}")
        strings = {}
    if strings is None:
        problems.append("no VS_VERSION_INFO")
        strings = {}
    for key in NAMED_STRINGS:
        if not strings.get(key, "").strip():
            problems.append(f"version string {key} missing or empty")
    for key in ("FileVersion", "ProductVersion"):
        if strings.get(key) != dotted:
            problems.append(f"version string {key} is {strings.get(key)!r}, expected {dotted!r}")

    stamp, symbols_at, symbols = pe_file_header(data)
    if stamp != 0:
        problems.append(f"PE header carries a link time ({stamp}): rebuilds differ")
    if args.stripped:
        sections = subprocess.run([objdump, "-h", dll], check=True, capture_output=True, text=True).stdout
        debug = sorted(set(re.findall(r"\s(\.debug\S*)", sections)))
        if debug:
            problems.append(f"debug sections {', '.join(debug)}")
        if symbols_at or symbols:
            problems.append(f"symbol table with {symbols} entries")

    print(f"exports: {len(names)}, imports: {', '.join(imports)}, version: {versions}")
    for key in sorted(strings):
        print(f"  {key}: {strings[key]}")
    for p in problems:
        print("FAIL:", p)
    if problems:
        return 1
    print("export table, imports and version resource as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
