#!/usr/bin/env python3
"""Checks include/ondrix.bas against the export table: every Declare names an
export of ONDRIX.dll with the right number of arguments and argument bytes
(on 32-bit each ByVal Long or ByRef argument is 4 bytes), both the VBA7 and the
older branch declare all 16, and the two record Types have their sizes."""
import re
import sys

EXPORTS = {  # name: (ordinal, argument bytes, returns a string)
    "OndrixInit": (1, 0, False), "oxGetAdapterInfo": (2, 8, False), "OndrixTerminate": (3, 0, False),
    "oxSetCurrentAdapter": (4, 4, False), "oxGetCurrentAdapter": (5, 0, False), "oxBegin": (6, 4, False),
    "oxEnd": (7, 0, False), "oxCaptureMem": (8, 8, False), "oxCaptureMemSafe": (9, 4, False),
    "oxSetKernelBuffSize": (10, 4, False), "oxGetErrorDescription": (11, 0, True),
    "oxCaptureDiskSafe": (12, 4, False), "oxSetParam": (13, 8, False), "oxSendPacket": (14, 4, False),
    "oxCapture": (15, 8, False), "oxGetAdapterInfoVB5": (16, 12, False),
}
SIZES = {"Byte": 1, "Integer": 2, "Long": 4}
EXPECTED_TYPES = {"AdapterInfoRecord": 516, "PacketHeaderRecord": 24}


def arg_bytes(arg, errors, where):
    m = re.fullmatch(r"\s*(ByVal|ByRef)\s+(\w+)(\(\))?\s+As\s+(\w+)\s*", arg)
    if not m:
        errors.append(f"{where}: every argument needs ByVal or ByRef and a type: {arg!r}")
        return 0
    by, _, is_array, vb_type = m.groups()
    if by == "ByVal" and (is_array or vb_type not in ("Long",)):
        errors.append(f"{where}: a ByVal argument must be a Long: {arg!r}")
    return 4


def type_size(body, errors, name):
    size, widest = 0, 1
    for line in body:
        line = line.split("'")[0].strip()
        if not line:
            continue
        m = re.fullmatch(r"(\w+)(?:\((\d+)\s+To\s+(\d+)\))?\s+As\s+(\w+)", line)
        if not m or m.group(4) not in SIZES:
            errors.append(f"Type {name}: can't size member {line!r}")
            continue
        count = int(m.group(3)) - int(m.group(2)) + 1 if m.group(2) else 1
        width = SIZES[m.group(4)]
        size = (size + width - 1) // width * width  # VB aligns members to their size
        size += count * width
        widest = max(widest, width)
    return (size + widest - 1) // widest * widest


def main(path):
    text = open(path, encoding="ascii").read()
    errors = []
    branches = {"VBA7": {}, "older": {}}
    branch = None
    for n, line in enumerate(text.splitlines(), 1):
        s = line.strip()
        if s.startswith("#If VBA7"):
            branch = "VBA7"
        elif s.startswith("#Else"):
            branch = "older"
        elif s.startswith("#End If"):
            branch = None
        m = re.match(r"Public Declare (PtrSafe )?Function (\w+) Lib \"(\S+)\" \((.*)\) As (\w+)$", s)
        if not m:
            if "Declare" in s and not s.startswith("'"):
                errors.append(f"line {n}: unrecognised Declare: {s}")
            continue
        ptrsafe, name, lib, args, result = m.groups()
        where = f"line {n} {name}"
        if branch is None:
            errors.append(f"{where}: Declare outside the #If VBA7 branches")
            continue
        if (branch == "VBA7") != bool(ptrsafe):
            errors.append(f"{where}: PtrSafe belongs in the VBA7 branch only")
        if lib != "ONDRIX.dll":
            errors.append(f"{where}: Lib must be ONDRIX.dll")
        if name not in EXPORTS:
            errors.append(f"{where}: not an export of ONDRIX.dll")
            continue
        _, want_bytes, returns_string = EXPORTS[name]
        arglist = [a for a in args.split(",") if a.strip()]
        got = sum(arg_bytes(a, errors, where) for a in arglist)
        if got != want_bytes:
            errors.append(f"{where}: {len(arglist)} argument(s), {got} bytes; the export takes {want_bytes}")
        if result != ("String" if returns_string else "Long"):
            errors.append(f"{where}: returns {result}")
        branches[branch][name] = n
    for branch, names in branches.items():
        missing = set(EXPORTS) - set(names)
        if missing:
            errors.append(f"{branch} branch lacks: {', '.join(sorted(missing))}")

    for name, want in EXPECTED_TYPES.items():
        m = re.search(rf"Public Type {name}\n(.*?)End Type", text, re.S)
        if not m:
            errors.append(f"Type {name} missing")
            continue
        got = type_size(m.group(1).splitlines(), errors, name)
        if got != want:
            errors.append(f"Type {name} is {got} bytes, not {want}")

    for e in errors:
        print("FAIL:", e)
    print(f"{len(EXPORTS)} exports, {len(EXPECTED_TYPES)} types checked: {'ok' if not errors else 'errors'}")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
