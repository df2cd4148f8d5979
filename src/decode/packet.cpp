// One function per layer, each reading through the bounds-checked Reader.
// What a layer can't see stays at its "none" value.
#include "decode/packet.h"

#include <cstddef>
#include <cstring>

#include "decode/address_text.h"
#include "decode/reader.h"

namespace ondrix::decode
{
namespace
{

constexpr int32_t kIpv4 = 0x0800, kIpv6 = 0x86DD;
constexpr int32_t kNone = -1;

bool isVlanTag(int32_t type) { return type == 0x8100 || type == 0x88A8 || type == 0x9100; }

void clear(PacketSummaryRecord *r, int32_t linkType)
{
    r->linkType = linkType;
    r->etherType = r->vlanId = kNone;
    r->ipVersion = 0;
    r->protocol = r->hopLimit = kNone;
    r->sourcePort = r->destinationPort = r->tcpFlags = kNone;
    r->icmpType = r->icmpCode = kNone;
    r->payloadOffset = r->payloadLength = kNone;
    // MACs and address texts, zero-filled as the record's texts always are.
    std::memset(r->sourceMac, 0, sizeof *r - offsetof(PacketSummaryRecord, sourceMac));
}

void copyMac(const Reader &in, uint32_t offset, uint8_t *mac)
{
    if (in.has(offset, 6))
        std::memcpy(mac, in.data + offset, 6);
}

// An EtherType from a length/type field: values up to 1500 are 802.3 lengths.
int32_t etherTypeOf(int32_t field) { return field >= 0x0600 ? field : kNone; }

// Follows 802.1Q/802.1ad tags from the link's type field: each tag's body
// (TCI, then the next type) sits at tagOffset. The outermost gives the VLAN
// id. Returns the network layer's offset.
uint32_t vlanTags(const Reader &in, int32_t type, uint32_t tagOffset, PacketSummaryRecord *r)
{
    type = etherTypeOf(type);
    while (isVlanTag(type)) {
        int32_t tci = in.u16(tagOffset);
        if (r->vlanId < 0 && tci >= 0)
            r->vlanId = tci & 0x0FFF;
        type = etherTypeOf(in.u16(tagOffset + 2)); // -1 when the tag was cut
        tagOffset += 4;
    }
    r->etherType = type;
    return tagOffset;
}

uint32_t ethernet(const Reader &in, PacketSummaryRecord *r)
{
    if (!in.has(0, 14))
        return 14; // not even a whole header: no frame to describe
    copyMac(in, 0, r->destinationMac);
    copyMac(in, 6, r->sourceMac);
    return vlanTags(in, in.u16(12), 14, r);
}

// Linux cooked headers (16 bytes, or 20 in version 2) carry one link
// address, the sender's.
uint32_t linuxCooked(const Reader &in, int32_t addressLength, uint32_t address, int32_t protocol,
                     uint32_t headerLength, PacketSummaryRecord *r)
{
    if (addressLength == 6)
        copyMac(in, address, r->sourceMac);
    if (!in.has(0, headerLength))
        return headerLength; // no whole header, no type (version 2 has its type first)
    return vlanTags(in, protocol, headerLength, r);
}

// The BSD loopback header: an address family, in the capturing host's byte
// order (link type 0) or in network order (108). IPv6's value differs by OS.
uint32_t loopback(const Reader &in, bool networkOrder, PacketSummaryRecord *r)
{
    int64_t family = in.u32(0);
    if (family < 0)
        return 4;
    if (!networkOrder && (family & 0xFFFF0000))
        family = __builtin_bswap32(static_cast<uint32_t>(family));
    if (family == 2)
        r->etherType = kIpv4;
    else if (family == 10 || family == 23 || family == 24 || family == 28 || family == 30)
        r->etherType = kIpv6;
    return 4;
}

// Raw IP links carry no type: the version nibble tells, unless the link type
// itself names the version.
void rawIp(const Reader &in, int32_t only, PacketSummaryRecord *r)
{
    int32_t version = in.u8(0) >> 4;
    int32_t type = version == 4 ? kIpv4 : version == 6 ? kIpv6 : kNone;
    r->etherType = only == kNone ? type : only;
}

// The link header: sets the MACs and the EtherType; returns where it ends.
uint32_t linkLayer(const Reader &in, int32_t linkType, PacketSummaryRecord *r)
{
    switch (linkType) {
    case 1:
        return ethernet(in, r);
    case 0:
    case 108:
        return loopback(in, linkType == 108, r);
    case 12:
    case 14:
    case 101:
        rawIp(in, kNone, r);
        return 0;
    case 228:
        rawIp(in, kIpv4, r);
        return 0;
    case 229:
        rawIp(in, kIpv6, r);
        return 0;
    case 113:
        return linuxCooked(in, in.u16(4), 6, in.u16(14), 16, r);
    case 276:
        return linuxCooked(in, in.u8(11), 12, in.u16(0), 20, r);
    default:
        return 0;
    }
}

// The bytes up to end, the end of an IP datagram as its header declares it:
// what follows (an Ethernet trailer, padding) is not the datagram's.
Reader within(const Reader &in, int64_t end) { return {in.data, end < in.size ? uint32_t(end) : in.size}; }

void ports(const Reader &in, uint32_t offset, PacketSummaryRecord *r)
{
    r->sourcePort = in.u16(offset);
    r->destinationPort = in.u16(offset + 2);
}

// ipPayload: the IP payload's length as the IP header declares it.
void tcp(const Reader &in, uint32_t offset, int64_t ipPayload, PacketSummaryRecord *r)
{
    ports(in, offset, r);
    int32_t dataOffset = in.u8(offset + 12);
    int32_t flags = in.u8(offset + 13);
    if (dataOffset < 0 || (dataOffset >> 4) < 5)
        return; // unknown, or a header shorter than its fixed part
    r->tcpFlags = flags;
    uint32_t headerLength = static_cast<uint32_t>(dataOffset >> 4) * 4;
    if (ipPayload < headerLength)
        return;
    r->payloadOffset = static_cast<int32_t>(offset + headerLength);
    r->payloadLength = static_cast<int32_t>(ipPayload - headerLength);
}

// A UDP length beyond the IP payload can't be: the datagram ends first.
void udp(const Reader &in, uint32_t offset, int64_t ipPayload, PacketSummaryRecord *r)
{
    ports(in, offset, r);
    int64_t length = in.u16(offset + 4);
    if (length > ipPayload)
        length = ipPayload;
    if (length < 8)
        return;
    r->payloadOffset = static_cast<int32_t>(offset + 8);
    r->payloadLength = static_cast<int32_t>(length - 8);
}

// The transport header at offset, for the first fragment only. icmp: the
// ICMP protocol number of this IP version (1, or 58 for IPv6).
void transport(const Reader &in, uint32_t offset, int32_t protocol, int32_t icmp, int64_t ipPayload,
               PacketSummaryRecord *r)
{
    r->payloadOffset = static_cast<int32_t>(offset);
    r->payloadLength = static_cast<int32_t>(ipPayload);
    if (protocol == 6) {
        r->payloadOffset = r->payloadLength = kNone;
        tcp(in, offset, ipPayload, r);
    } else if (protocol == 17) {
        r->payloadOffset = r->payloadLength = kNone;
        udp(in, offset, ipPayload, r);
    } else if (protocol == icmp) {
        r->icmpType = in.u8(offset);
        r->icmpCode = r->icmpType < 0 ? kNone : in.u8(offset + 1);
    }
}

void ipv4(const Reader &in, uint32_t offset, PacketSummaryRecord *r)
{
    int32_t first = in.u8(offset);
    uint32_t headerLength = static_cast<uint32_t>(first & 0x0F) * 4;
    int32_t totalLength = in.u16(offset + 2);
    if (first >> 4 != 4 || headerLength < 20 || !in.has(offset, headerLength))
        return;
    // Segmentation offload leaves the length 0: the rest of the capture.
    int64_t ipLength = totalLength == 0 ? int64_t{in.size - offset} : totalLength;
    if (ipLength < headerLength)
        return; // a length shorter than the header: nothing here can be trusted
    const uint8_t *h = in.data + offset;
    r->ipVersion = 4;
    r->protocol = h[9];
    r->hopLimit = h[8];
    bool firstFragment = ((h[6] & 0x1F) | h[7]) == 0;
    int64_t payload = ipLength - headerLength;
    if (firstFragment) {
        transport(within(in, offset + ipLength), offset + headerLength, r->protocol, 1, payload, r);
    } else {
        r->payloadOffset = static_cast<int32_t>(offset + headerLength);
        r->payloadLength = static_cast<int32_t>(payload);
    }
}

bool isIpv6Extension(int32_t next) { return next == 0 || next == 43 || next == 44 || next == 60; }

void ipv6(const Reader &in, uint32_t offset, PacketSummaryRecord *r)
{
    if (in.u8(offset) >> 4 != 6 || !in.has(offset, 40))
        return;
    const uint8_t *h = in.data + offset;
    r->ipVersion = 6;
    r->hopLimit = h[7];
    int64_t payload = h[4] << 8 | h[5];
    // Length 0 is a jumbogram's, or offload's: the datagram is the rest of the capture.
    if (payload == 0)
        payload = int64_t{in.size} - offset - 40;
    const Reader datagram = within(in, offset + 40 + payload);
    int32_t next = h[6];
    uint32_t at = offset + 40;
    bool firstFragment = true;
    while (isIpv6Extension(next)) {
        int32_t following = datagram.u8(at);
        int32_t length = next == 44 ? 8 : (datagram.u8(at + 1) + 1) * 8;
        if (following < 0 || length <= 0 || !datagram.has(at, static_cast<uint32_t>(length)))
            return; // the chain runs past the capture: the protocol is unknown
        if (next == 44)
            firstFragment = firstFragment && datagram.u16(at + 2) >> 3 == 0;
        payload -= length;
        at += static_cast<uint32_t>(length);
        next = following;
    }
    r->protocol = next;
    if (firstFragment) {
        transport(datagram, at, next, 58, payload, r);
    } else {
        r->payloadOffset = static_cast<int32_t>(at);
        r->payloadLength = static_cast<int32_t>(payload);
    }
}

} // namespace

uint32_t decodeHeaders(const uint8_t *data, uint32_t caplen, int32_t linkType, PacketSummaryRecord *out)
{
    clear(out, linkType);
    const Reader in{data, caplen};
    uint32_t network = linkLayer(in, linkType, out);
    if (out->etherType == kIpv4)
        ipv4(in, network, out);
    else if (out->etherType == kIpv6)
        ipv6(in, network, out);
    if (out->payloadOffset > static_cast<int64_t>(caplen))
        out->payloadOffset = kNone; // a cut capture: the payload's start is not in it
    return network;
}

void decodePacket(const uint8_t *data, uint32_t caplen, int32_t linkType, PacketSummaryRecord *out)
{
    // An IP version is set only when the whole fixed header was captured.
    const uint32_t ip = decodeHeaders(data, caplen, linkType, out);
    if (out->ipVersion == 4) {
        text::formatIpv4(data + ip + 12, out->sourceAddress);
        text::formatIpv4(data + ip + 16, out->destinationAddress);
    } else if (out->ipVersion == 6) {
        text::formatIpv6(data + ip + 8, out->sourceAddress);
        text::formatIpv6(data + ip + 24, out->destinationAddress);
    }
}

} // namespace ondrix::decode
