#!/usr/bin/env python3
"""Writes sample.pcap: a small, deterministic capture made from scratch.

ARP, DNS over UDP, a TCP handshake with data and close, ICMP echo, and IPv6
(ICMPv6 echo and UDP), with correct checksums and timestamps 10 ms apart.
Usage: make-sample.py [OUT]
"""
import struct
import sys

MAC_A = bytes.fromhex("020000000001")
MAC_B = bytes.fromhex("020000000002")
BCAST = b"\xff" * 6
IP_A, IP_B = bytes([192, 168, 7, 1]), bytes([192, 168, 7, 2])
IP6_A = bytes.fromhex("fd000000000000000000000000000001")
IP6_B = bytes.fromhex("fd000000000000000000000000000002")
START = 1767225600  # 2026-01-01 00:00:00 UTC


def csum(data):
    if len(data) % 2:
        data += b"\0"
    s = sum(struct.unpack("!%dH" % (len(data) // 2), data))
    while s >> 16:
        s = (s & 0xFFFF) + (s >> 16)
    return ~s & 0xFFFF


def eth(dst, src, etype, payload):
    return dst + src + struct.pack("!H", etype) + payload


def ipv4(src, dst, proto, payload, ident):
    hdr = struct.pack("!BBHHHBBH4s4s", 0x45, 0, 20 + len(payload), ident, 0x4000, 64, proto, 0, src, dst)
    hdr = hdr[:10] + struct.pack("!H", csum(hdr)) + hdr[12:]
    return hdr + payload


def l4_checksum(pseudo, segment, offset):
    c = csum(pseudo + segment)
    return segment[:offset] + struct.pack("!H", c) + segment[offset + 2:]


def pseudo4(src, dst, proto, length):
    return src + dst + struct.pack("!BBH", 0, proto, length)


def pseudo6(src, dst, proto, length):
    return src + dst + struct.pack("!IxxxB", length, proto)


def udp(src, dst, sport, dport, data, v6=False):
    seg = struct.pack("!HHHH", sport, dport, 8 + len(data), 0) + data
    ps = (pseudo6 if v6 else pseudo4)(src, dst, 17, len(seg))
    return l4_checksum(ps, seg, 6)


def tcp(src, dst, sport, dport, seq, ack, flags, data=b""):
    seg = struct.pack("!HHIIBBHHH", sport, dport, seq, ack, 5 << 4, flags, 64240, 0, 0) + data
    return l4_checksum(pseudo4(src, dst, 6, len(seg)), seg, 16)


def icmp_echo(kind, ident, seq, data):
    msg = struct.pack("!BBHHH", kind, 0, 0, ident, seq) + data
    return msg[:2] + struct.pack("!H", csum(msg)) + msg[4:]


def icmp6_echo(src, dst, kind, ident, seq, data):
    msg = struct.pack("!BBHHH", kind, 0, 0, ident, seq) + data
    return l4_checksum(pseudo6(src, dst, 58, len(msg)), msg, 2)


def ipv6(src, dst, nxt, payload):
    return struct.pack("!IHBB", 6 << 28, len(payload), nxt, 64) + src + dst + payload


def arp(op, sha, spa, tha, tpa):
    return struct.pack("!HHBBH", 1, 0x0800, 6, 4, op) + sha + spa + tha + tpa


def dns_query(ident, name, answer=None):
    qname = b"".join(bytes([len(p)]) + p.encode() for p in name.split(".")) + b"\0"
    flags, ancount = (0x8180, 1) if answer else (0x0100, 0)
    msg = struct.pack("!HHHHHH", ident, flags, 1, ancount, 0, 0) + qname + struct.pack("!HH", 1, 1)
    if answer:
        msg += struct.pack("!HHHIH", 0xC00C, 1, 1, 300, 4) + bytes(answer)
    return msg


def frames():
    pad = lambda f: f + b"\0" * max(0, 60 - len(f))  # Ethernet minimum without FCS
    yield pad(eth(BCAST, MAC_A, 0x0806, arp(1, MAC_A, IP_A, b"\0" * 6, IP_B)))
    yield pad(eth(MAC_A, MAC_B, 0x0806, arp(2, MAC_B, IP_B, MAC_A, IP_A)))
    ident = 1
    for n, name in enumerate(["example.test", "mail.example.test", "www.example.test"]):
        q = dns_query(0x1000 + n, name)
        r = dns_query(0x1000 + n, name, answer=[192, 168, 7, 10 + n])
        yield eth(MAC_B, MAC_A, 0x0800, ipv4(IP_A, IP_B, 17, udp(IP_A, IP_B, 40000 + n, 53, q), ident))
        yield eth(MAC_A, MAC_B, 0x0800, ipv4(IP_B, IP_A, 17, udp(IP_B, IP_A, 53, 40000 + n, r), ident + 1))
        ident += 2
    c, s = 1000, 5000
    conv = [
        (True, c, 0, 0x02, b""),
        (False, s, c + 1, 0x12, b""),
        (True, c + 1, s + 1, 0x10, b""),
        (True, c + 1, s + 1, 0x18, b"GET / HTTP/1.1\r\nHost: www.example.test\r\n\r\n"),
    ]
    body = b"HTTP/1.1 200 OK\r\nContent-Length: 600\r\n\r\n" + b"x" * 600
    conv += [(False, s + 1, c + 43, 0x18, body), (True, c + 43, s + 1 + len(body), 0x10, b""),
             (True, c + 43, s + 1 + len(body), 0x11, b""), (False, s + 1 + len(body), c + 44, 0x11, b""),
             (True, c + 44, s + 2 + len(body), 0x10, b"")]
    for client, seq, ack, flags, data in conv:
        src, dst, sm, dm, sp, dp = (IP_A, IP_B, MAC_A, MAC_B, 51000, 80) if client else (IP_B, IP_A, MAC_B, MAC_A, 80, 51000)
        yield pad(eth(dm, sm, 0x0800, ipv4(src, dst, 6, tcp(src, dst, sp, dp, seq, ack, flags, data), ident)))
        ident += 1
    for seq in range(1, 4):
        data = bytes(range(32))
        yield eth(MAC_B, MAC_A, 0x0800, ipv4(IP_A, IP_B, 1, icmp_echo(8, 0x42, seq, data), ident))
        yield eth(MAC_A, MAC_B, 0x0800, ipv4(IP_B, IP_A, 1, icmp_echo(0, 0x42, seq, data), ident + 1))
        ident += 2
    for seq in range(1, 3):
        data = b"ondrix-v6-ping!!"
        yield eth(MAC_B, MAC_A, 0x86DD, ipv6(IP6_A, IP6_B, 58, icmp6_echo(IP6_A, IP6_B, 128, 7, seq, data)))
        yield eth(MAC_A, MAC_B, 0x86DD, ipv6(IP6_B, IP6_A, 58, icmp6_echo(IP6_B, IP6_A, 129, 7, seq, data)))
    for n in range(3):
        yield eth(MAC_B, MAC_A, 0x86DD, ipv6(IP6_A, IP6_B, 17, udp(IP6_A, IP6_B, 50000, 9000 + n, b"v6 datagram %d" % n, v6=True)))


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "sample.pcap"
    with open(out, "wb") as f:
        f.write(struct.pack("<IHHiIII", 0xA1B2C3D4, 2, 4, 0, 0, 65535, 1))
        for i, frame in enumerate(frames()):
            usec = i * 10_000  # 10 ms apart
            f.write(struct.pack("<IIII", START + usec // 1_000_000, usec % 1_000_000, len(frame), len(frame)))
            f.write(frame)


if __name__ == "__main__":
    main()
