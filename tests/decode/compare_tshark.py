#!/usr/bin/env python3
"""Compares oxDecodePacket's records with tshark's dissection of the same
saved captures, field by field, with reassembly off. tshark's fields are kept
in tshark_fields.tsv, so the comparison needs no tshark:

  compare_tshark.py DUMP_RECORDS CAPTURES   compare; fails on any disagreement
                                            not in KNOWN, and on any in KNOWN
                                            that is gone
  compare_tshark.py --regenerate CAPTURES   rewrite tshark_fields.tsv with the
                                            tshark on PATH

By design: tshark's values of inner headers (tunnels, ICMP errors,
out-of-scope roads such as MPLS or PPPoE) are not expected of the record,
which describes the outermost IP header only. Payload lengths are compared
as the headers declare them (tcp.len is cut to the frame), a UDP length
bounded by the IP payload; an IPv6 payload length of 0 (offload, jumbogram)
runs to the capture's end. tshark has no payload offset: the one expected is
the link header's length and the header lengths tshark gives.

oxDecodeName's record too: tshark's name from DNS (ports 53, 5353, 5355), TLS
or HTTP over TCP in the outermost transport, none elsewhere, compared in
tshark's writing (\\DDD as C escapes, octal, UTF-8; "<Root>" is ".")."""
import pathlib, re, shutil, subprocess, sys

FIELDS = ["frame.cap_len"] + (
          "frame.protocols eth.src eth.dst eth.type vlan.id vlan.etype sll.src.eth sll.etype ip.hdr_len ip.len "
          "ip.proto ip.ttl ip.src ip.dst ip.frag_offset ipv6.src ipv6.dst ipv6.hlim ipv6.nxt ipv6.hopopts.nxt "
          "ipv6.routing.nxt ipv6.fraghdr.nxt ipv6.dstopts.nxt ipv6.fraghdr.offset ipv6.plen ipv6.hopopts.len_oct "
          "ipv6.routing.len_oct ipv6.dstopts.len_oct sll.gretype ieee8021ad.id tcp.srcport tcp.dstport "
          "tcp.flags tcp.hdr_len udp.srcport udp.dstport udp.length icmp.type icmp.code icmpv6.type icmpv6.code "
          "dns.qry.name dns.flags.response tls.handshake.extensions_server_name http.host http.request").split()
NAMES = ("linkType etherType vlanId ipVersion protocol hopLimit sourcePort destinationPort tcpFlags icmpType "
         "icmpCode payloadOffset payloadLength sourceMac destinationMac sourceAddress destinationAddress "
         "nameKind name").split()
LINK_TOKENS = {"eth", "ethertype", "sll", "null", "raw", "vlan", "ieee8021ad", "loop"}
TYPES = {"ip": 0x0800, "ipv6": 0x86DD, "arp": 0x0806, "vlan": 0x8100}
LINK_HEADER = {0: 4, 1: 14, 108: 4, 113: 16, 276: 20}  # bytes before the first tag or the network layer
NO_MAC = "00:00:00:00:00:00"
C_ESCAPES = {7: "\\a", 8: "\\b", 9: "\\t", 10: "\\n", 11: "\\v", 12: "\\f", 13: "\\r"}
DATA = pathlib.Path(__file__).with_name("tshark_fields.tsv")

# The disagreements left, each for a reason: (file, frames, {field: the record's value}, why).
KNOWN = [
    ("DTP.pcap", "2 4 6 8 10", dict(destinationMac="01:00:0c:00:00:00"), "Cisco ISL frames keep their outer MACs"),
    ("icmp-icmp_print-oobr-1.pcap", "1", dict(icmpType=49, icmpCode=128),
     "type and code within the declared datagram, from an ICMP header shorter than tshark's 4 bytes"),
    ("icmpv6-length-zero.pcapng", "1", dict(icmpType=136, icmpCode=0),
     "IPv6 payload length 0 runs to the capture's end; tshark gives ICMPv6 no bytes"),
    ("ip_printroute_asan.pcap", "1", dict(ipVersion=0, protocol=-1, hopLimit=-1, payloadLength=-1,
                                          sourceAddress="", destinationAddress=""),
     "IPv4 options cut by the capture: no IP fields here, where tshark shows the part it saw"),
    ("ipv6-rthdr-oobr.pcap", "1", dict(protocol=-1, payloadLength=-1),
     "a routing header cut by the capture: the protocol is unknown here; tshark reads the cut header's"),
    ("mptcp-dss-oobr.pcap", "1", dict(payloadOffset=-1),
     "libpcap cuts the 74-byte record to the file's snap length, 73; tshark keeps it whole"),
]


def num(text):
    return int(text, 0) if text else -1


def expected(link, t):
    """What the record should hold, from tshark's fields t (name -> list)."""
    first = lambda f: t[f][0] if t[f] else ""
    e = dict(etherType=-1, vlanId=-1, ipVersion=0, protocol=-1, hopLimit=-1, sourcePort=-1, destinationPort=-1,
             tcpFlags=-1, icmpType=-1, icmpCode=-1, payloadOffset=-1, payloadLength=-1, sourceMac=NO_MAC,
             destinationMac=NO_MAC, sourceAddress="", destinationAddress="")
    roads = [p for p in first("frame.protocols").split(":") if p != "ethertype"]
    outer = next((p for p in roads if p not in LINK_TOKENS), "")  # the first layer past the link and its tags
    tags = [p for p in roads[: roads.index(outer) if outer else len(roads)] if p in ("vlan", "ieee8021ad")]
    if link == 1:
        e["sourceMac"], e["destinationMac"] = first("eth.src") or NO_MAC, first("eth.dst") or NO_MAC
    if link in (113, 276):
        e["sourceMac"] = first("sll.src.eth") or NO_MAC
    if link in (1, 113, 276):
        chain = [first("eth.type") or first("sll.etype") or first("sll.gretype")] + t["vlan.etype"]
        if "ieee8021ad" in tags:  # tshark has no field for an 802.1ad tag's inner type
            e["etherType"] = TYPES.get(outer)
        else:
            e["etherType"] = num(chain[len(tags)]) if len(tags) < len(chain) else -1
        e["vlanId"] = -1 if not tags else num(first("vlan.id" if tags[0] == "vlan" else "ieee8021ad.id"))
    elif link in (228, 229):  # the link type names the IP version
        e["etherType"] = 0x0800 if link == 228 else 0x86DD
    elif outer in ("ip", "ipv6"):  # links without a type field carry IP only
        e["etherType"] = 0x0800 if outer == "ip" else 0x86DD
    start = LINK_HEADER.get(link, 0) + 4 * len(tags)  # where the IP header is
    captured = num(first("frame.cap_len"))
    if outer == "ip" and t["ip.dst"] and e["etherType"] == 0x0800:
        e.update(ipVersion=4, protocol=num(first("ip.proto")), hopLimit=num(first("ip.ttl")),
                 sourceAddress=first("ip.src"), destinationAddress=first("ip.dst"))
        later = num(first("ip.frag_offset")) > 0
        declared = num(first("ip.len")) - num(first("ip.hdr_len"))
        start += num(first("ip.hdr_len"))
    elif outer == "ipv6" and t["ipv6.dst"] and e["etherType"] == 0x86DD:
        e.update(ipVersion=6, hopLimit=num(first("ipv6.hlim")), sourceAddress=first("ipv6.src"),
                 destinationAddress=first("ipv6.dst"))
        nxt, seen, declared = num(first("ipv6.nxt")), {}, num(first("ipv6.plen")) or captured - start - 40
        start += 40
        follow = {0: "hopopts", 43: "routing", 44: "fraghdr", 60: "dstopts"}
        while nxt in follow:  # the outer chain only: an ICMP error carries another
            i = seen[nxt] = seen.get(nxt, -1) + 1
            values, lengths = t[f"ipv6.{follow[nxt]}.nxt"], t.get(f"ipv6.{follow[nxt]}.len_oct", [])
            length = 8 if nxt == 44 else num(lengths[i]) if i < len(lengths) else declared + 1
            declared, start = declared - length, start + length
            nxt = num(values[i]) if i < len(values) else -1
        e["protocol"] = nxt
        later = num(first("ipv6.fraghdr.offset")) > 0
        declared = declared if nxt >= 0 else -1  # the chain ran past the capture: no payload known
    else:
        return e
    p = e["protocol"]
    # Payload lengths as the headers declare them, not cut to the frame as tshark's tcp.len is.
    e["payloadLength"] = declared if p not in (6, 17) or later else -1
    if later:  # a later fragment carries no transport header
        pass
    elif p == 6:
        e.update(sourcePort=num(first("tcp.srcport")), destinationPort=num(first("tcp.dstport")),
                 tcpFlags=num(first("tcp.flags")) & 0xFF if t["tcp.flags"] else -1,
                 payloadLength=declared - num(first("tcp.hdr_len")) if t["tcp.hdr_len"] else -1)
        start += num(first("tcp.hdr_len"))
    elif p == 17:
        length = min(num(first("udp.length")), declared)  # the datagram ends first
        e.update(sourcePort=num(first("udp.srcport")), destinationPort=num(first("udp.dstport")),
                 payloadLength=length - 8 if length >= 8 else -1)
        start += 8
    elif p == (1 if e["ipVersion"] == 4 else 58):
        kind = "icmp" if p == 1 else "icmpv6"
        e.update(icmpType=num(first(kind + ".type")), icmpCode=num(first(kind + ".code")))
    e["payloadOffset"] = start if e["payloadLength"] >= 0 and start <= captured else -1
    return e


def expected_name(t):
    first = lambda f: t[f][0] if t.get(f) else ""
    roads = first("frame.protocols").split(":") + [""]
    at = next((i for i, p in enumerate(roads) if p in ("tcp", "udp")), -2)
    over, below, ports = roads[at + 1], roads[:at], {first(roads[at] + ".srcport"), first(roads[at] + ".dstport")}
    name = ""  # none without a transport, or from one in a tunnel or an ICMP error
    if set(below) <= LINK_TOKENS | {"ip", "ipv6"} and sum(p in ("ip", "ipv6") for p in below) == 1:
        if over in ("dns", "mdns", "llmnr") and ports & {"53", "5353", "5355"}:
            name, kind = first("dns.qry.name"), 2 if first("dns.flags.response") in ("1", "True") else 1
            name = "." if name == "<Root>" else "" if name.startswith("<") else name  # "<Name too long>"
        elif roads[at] == "tcp" and over == "tls":
            name, kind = first("tls.handshake.extensions_server_name"), 3
        elif roads[at] == "tcp" and over == "http" and t["http.request"]:
            name, kind = first("http.host").strip(" \t"), 4
    return dict(nameKind=kind if name else 0, name=name)


def as_tshark(ours):
    raw = re.sub(r"\\(\d{3})", lambda m: chr(int(m[1])), ours).encode("latin-1").decode("utf-8", "replace")
    return "".join(C_ESCAPES.get(ord(c), f"\\{ord(c):03o}") if ord(c) < 32 or ord(c) == 127 else c for c in raw)


def tshark_lines(tshark, cap):
    return subprocess.run([tshark, "-n", "-r", str(cap), "-o", "ip.defragment:FALSE", "-o", "ipv6.defragment:FALSE",
                           "-o", "tcp.desegment_tcp_streams:FALSE", "-T", "fields", "-E", "separator=/t", "-E",
                           "occurrence=a", "-E", "aggregator=|"] + sum((["-e", f] for f in FIELDS), []),
                          capture_output=True, text=True, check=True).stdout.splitlines()


def regenerate(captures):
    tshark = shutil.which("tshark")
    if not tshark:
        print("tshark is not installed (apt-get install tshark)")
        return 2
    version = subprocess.run([tshark, "--version"], capture_output=True, text=True).stdout.splitlines()[0]
    out = [f"# Written by compare_tshark.py --regenerate with {version.rstrip('.')}: the fields below of",
           "# each packet, trailing empty ones left off. " + " ".join(FIELDS)]
    for cap in sorted(pathlib.Path(captures).glob("*.pcap*")):
        out += ["== " + cap.name] + [line.rstrip("\t") for line in tshark_lines(tshark, cap)]
    DATA.write_text("\n".join(out) + "\n")
    return 0


def read_data():
    files, lines = {}, []
    for line in DATA.read_text().split("\n")[:-1]:
        if line.startswith("== "):
            lines = files[line[3:]] = []
        elif not line.startswith("#"):
            lines.append(line)
    return files


def main(dumper, captures):
    theirs = read_data()
    known = {(f, int(n), field): (str(ours), why)
             for f, frames, fields, why in KNOWN for n in frames.split() for field, ours in fields.items()}
    compared, unlisted, seen, named, agreed = 0, [], set(), 0, 0
    for cap in sorted(pathlib.Path(captures).glob("*.pcap*")):
        ours = subprocess.run([dumper, str(cap)], capture_output=True, text=True)
        rows, lines = ours.stdout.splitlines(), theirs.pop(cap.name, None)
        if ours.returncode != 0 or lines is None or len(rows) != len(lines):
            unlisted.append(f"{cap.name}: {len(rows)} records (exit {ours.returncode}), tshark "
                            + ("has no fields: run --regenerate" if lines is None else f"{len(lines)} packets"))
            continue
        for frame, (row, line) in enumerate(zip(rows, lines), 1):
            got = dict(zip(NAMES, row.split("\t")))
            t = {f: (v.split("|") if v else []) for f, v in zip(FIELDS, line.split("\t") + [""] * len(FIELDS))}
            got["name"], names = as_tshark(got["name"]), expected_name(t)
            named += names["nameKind"] != 0
            agreed += names["nameKind"] != 0 and names == dict(nameKind=int(got["nameKind"]), name=got["name"])
            for name, want in {**expected(int(got["linkType"]), t), **names}.items():
                if want is None:
                    continue
                have = got[name] if isinstance(want, str) else int(got[name])
                compared += 1
                key = (cap.name, frame, name)
                if have != want and known.get(key, (None,))[0] == str(have):
                    seen.add(key)
                elif have != want:
                    unlisted.append(f"{cap.name} frame {frame}: {name} {have} (tshark {want})")
    unlisted += [f"{name}: tshark's fields of a capture that is gone" for name in theirs]
    gone = [f"{f} frame {n}: {field} agrees now, or is no longer {ours!r} ({why})"
            for (f, n, field), (ours, why) in known.items() if (f, n, field) not in seen]
    print("\n".join(unlisted + gone))
    print(f"{agreed} of {named} names in tshark's agree ({100 * agreed / max(named, 1):.1f}%)")
    print(f"{compared} fields compared: {len(seen)} known disagreements, {len(unlisted)} others, "
          f"{len(gone)} known ones gone")
    return 0 if compared and not unlisted and not gone else 1


if __name__ == "__main__":
    if len(sys.argv) == 3 and sys.argv[1] == "--regenerate":
        sys.exit(regenerate(sys.argv[2]))
    sys.exit(main(sys.argv[1], sys.argv[2]))
