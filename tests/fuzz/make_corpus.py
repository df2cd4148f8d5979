#!/usr/bin/env python3
"""Writes the small seed corpus of the three fuzz targets into corpus/.

Saved files: classic pcap (both byte orders, microsecond and nanosecond
magic), pcapng, a truncated record, a record whose captured length exceeds
its wire length, one with a huge captured length, an unknown link type, and
packets that carry names.
Settings and call sequences: short scripts in the targets' input formats.
"""
import os
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
FRAME = bytes.fromhex("ffffffffffff0200000000010806") + bytes(46)  # 60-byte ARP-ish frame


def pcap(records, endian="<", magic=0xA1B2C3D4, linktype=1, snaplen=65535):
    out = struct.pack(endian + "IHHiIII", magic, 2, 4, 0, 0, snaplen, linktype)
    for sec, usec, caplen, length, data in records:
        out += struct.pack(endian + "IIII", sec, usec, caplen, length) + data
    return out


def pcapng():
    def block(kind, body):
        total = 12 + len(body)
        return struct.pack("<II", kind, total) + body + struct.pack("<I", total)

    shb = block(0x0A0D0D0A, struct.pack("<IHHq", 0x1A2B3C4D, 1, 0, -1))
    idb = block(0x00000001, struct.pack("<HHI", 1, 0, 65535))
    data = FRAME + bytes((-len(FRAME)) % 4)
    epb = block(0x00000006, struct.pack("<IIIII", 0, 0, 5000000, len(FRAME), len(FRAME)) + data)
    return shb + idb + epb + epb


def write(target, name, data):
    os.makedirs(os.path.join(HERE, target), exist_ok=True)
    with open(os.path.join(HERE, target, name), "wb") as f:
        f.write(data)


def param(code, vt, value=b"", text=None):
    out = bytes([code]) + struct.pack("<H", vt)
    if text is None:
        return out + value.ljust(8, b"\0")
    units = text.encode("utf-16-le") if isinstance(text, str) else text
    return out + struct.pack("<H", len(units) // 2) + units


def i4(v):
    return struct.pack("<i", v)


one = [(5, 7, len(FRAME), len(FRAME), FRAME)]
write("saved_file", "le_usec.pcap", pcap(one + one))
write("saved_file", "be_usec.pcap", pcap(one, endian=">"))
write("saved_file", "le_nsec.pcap", pcap(one, magic=0xA1B23C4D))
write("saved_file", "pcapng.pcapng", pcapng())
write("saved_file", "truncated.pcap", pcap(one)[:24 + 16 + 20])
write("saved_file", "caplen_over_len.pcap", pcap([(1, 0, 60, 20, FRAME)]))
write("saved_file", "huge_caplen.pcap", pcap([(1, 0, 0x7FFFFFF0, 60, FRAME)]))
write("saved_file", "unknown_linktype.pcap", pcap(one, linktype=0x4321))
write("saved_file", "header_only.pcap", pcap([]))


def ipv4(protocol, payload, port=53):
    l4 = struct.pack(">HHHH", port, port, 8 + len(payload), 0) if protocol == 17 else \
        struct.pack(">HHIIBBHHH", port, port, 0, 0, 0x50, 0x18, 0, 0, 0)
    frame = FRAME[:12] + struct.pack(">HBBHI2BH8x", 0x0800, 0x45, 0, 20 + len(l4) + len(payload), 0, 64,
                                     protocol, 0) + l4 + payload
    return 1, 0, len(frame), len(frame), frame


def vec(size, data):
    return len(data).to_bytes(size, "big") + data


# A DNS response with a compression pointer, a TLS ClientHello, an HTTP
# request, each where the target's round of calls takes it whole.
dns = bytes.fromhex("123481800001000000000000") + b"\x03www\xc0\x16\0\x01\0\x01\x07example\x03org\0"
hello = b"\x03\x03" + bytes(33) + vec(2, b"\x13\x01") + b"\x01\0" + vec(2, b"\0\0" + vec(2, vec(2, b"\0" + vec(2, b"a.b"))))
write("saved_file", "names.pcap", pcap(one + [ipv4(17, dns), ipv4(6, b"\x16\x03\x01" + vec(2, b"\x01" + vec(3, hello)))]
                                       + one * 2 + [ipv4(6, b"GET / HTTP/1.1\r\nhost: a.b\r\n\r\n", 80)]))

VT_I2, VT_I4, VT_BSTR, VT_R8 = 2, 3, 8, 5
write("params", "numbers", param(0, VT_I4, i4(65536)) + param(0, VT_I2, struct.pack("<h", -1))
      + param(1, VT_I4, i4(2)) + param(8, VT_I4, i4(108)) + param(10, VT_I4, i4(1002)))
write("params", "texts", param(9, VT_BSTR, text="ip and tcp") + param(2, VT_BSTR, text="x.cap")
      + param(9, VT_BSTR, text=""))
write("params", "long_text", param(9, VT_BSTR, text="a" * 300) + param(6, VT_BSTR, text="a" * 300))
write("params", "surrogates", param(2, VT_BSTR, text=b"\x00\xd8A\x00\x00\xdc\xac\x20\x00\x00z\x00"))
write("params", "odd_tags", param(4, VT_R8, struct.pack("<d", 1.5)) + param(0, 0x4003, i4(5))
      + bytes([0x80]) + i4(-1) + struct.pack("<H", VT_I4) + i4(1).ljust(8, b"\0"))


def seq_header(adapters=1, failures=(), answers=0):
    out = bytes([adapters])
    for a in range(adapters):
        # description, two IPv4 addresses with masks; name 5 + a characters
        out += bytes([0x1F, 4 + a, 10]) + bytes([255, 255, 255, 0]) * 2
    out += bytes([len(failures)]) + b"".join(bytes(f) for f in failures) + bytes([answers])
    return out


def pkt(caplen, length=None, sec=5):
    flag = 0 if length is None else 1
    out = bytes([16]) + struct.pack("<H", caplen) + bytes([flag])
    if flag:
        out += struct.pack("<I", length)
    return out + struct.pack("<II", sec, 7) + b"\x01\x02\x03\x04\x05\x06\x07\x08"


BEGIN = bytes([0, 4, 1, 6]) + i4(1000)
write("sequences", "alias_copy", seq_header(2) + BEGIN + pkt(60) + bytes([8, 2]) + pkt(60)
      + bytes([9, 1]) + pkt(60) + bytes([10, 2]) + bytes([7, 1]))
write("sequences", "disk", seq_header(1) + bytes([12, 8, 1]) + i4(1) + BEGIN + pkt(20)
      + bytes([8, 0]) + pkt(20) + bytes([11]) + bytes([7]))
write("sequences", "filter_failures", seq_header(1, failures=[(10, 1), (12, 2)])
      + bytes([12, 9, 2, 4]) + "ip".encode("utf-16-le") + BEGIN + BEGIN + bytes([15, 7]))
write("sequences", "saved_file", seq_header(0) + bytes([12, 10, 1]) + i4(1002) + bytes([6]) + i4(0)
      + pkt(100, 4000) + bytes([10, 3]) + bytes([17, 2, 8, 3, 13, 2, 14]) + i4(-1))
write("sequences", "adapters", seq_header(4, answers=7) + bytes([0, 2, 3, 3, 0xF0]) + i4(65536)
      + bytes([4, 0xF1]) + i4(32768) + bytes([5, 1, 2, 1, 0]))
