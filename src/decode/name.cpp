// The name a packet carries, from its outermost TCP or UDP payload: one
// function per protocol, each reading through the bounds-checked Reader and
// writing the name straight into the host's record.
#include "decode/name.h"

#include <cstring>

#include "decode/packet.h"
#include "decode/reader.h"

namespace ondrix::decode
{
namespace
{

// The bytes [offset, offset + count) of in, or as many of them as it holds.
Reader part(const Reader &in, uint32_t offset, int64_t count)
{
    if (offset >= in.size || count <= 0)
        return {in.data, 0};
    const uint32_t left = in.size - offset;
    return {in.data + offset, count < left ? static_cast<uint32_t>(count) : left};
}

// A name as it goes into the record: at most 255 bytes, so that the
// terminator always fits. A byte that would read as something else in a
// sheet, one outside printable ASCII or a backslash, is written \DDD (its
// value in three decimal digits), as DNS zone files write it.
class NameText
{
  public:
    explicit NameText(char *out) : out_(out) {}
    uint32_t length() const { return length_; }
    bool put(char c)
    {
        if (length_ == kLongest)
            return false;
        out_[length_++] = c;
        return true;
    }
    // escapeDot: a "." that is not a separator, as inside a DNS label.
    bool putByte(uint8_t b, bool escapeDot = false)
    {
        if (b >= 0x20 && b < 0x7F && b != '\\' && !(escapeDot && b == '.'))
            return put(static_cast<char>(b));
        if (length_ + 4 > kLongest)
            return false;
        out_[length_++] = '\\';
        out_[length_++] = static_cast<char>('0' + b / 100);
        out_[length_++] = static_cast<char>('0' + b / 10 % 10);
        out_[length_++] = static_cast<char>('0' + b % 10);
        return true;
    }
    bool putBytes(const uint8_t *p, uint32_t count)
    {
        for (uint32_t i = 0; i < count; ++i)
            if (!putByte(p[i]))
                return false;
        return count > 0;
    }

  private:
    static constexpr uint32_t kLongest = 255;
    char *out_;
    uint32_t length_ = 0;
};

// A name that fits has at most 128 labels, and a real name never needs more
// than one jump for each: more is a pointer loop.
constexpr int kMostJumps = 128;

// The name at offset at of DNS message m, its labels joined with "." and the
// root as "."; false for a name that leaves the message, loops or is too
// long for the record.
bool dnsName(const Reader &m, uint32_t at, NameText &text)
{
    for (int jumps = 0;;) {
        const int32_t length = m.u8(at);
        if (length == 0)
            return text.length() > 0 || text.put('.');
        if (length >= 0xC0) { // a compression pointer: the rest is elsewhere in the message
            if (++jumps > kMostJumps || m.u8(at + 1) < 0)
                return false;
            at = static_cast<uint32_t>(m.u16(at) & 0x3FFF);
            continue;
        }
        // Past the message's end, or an extended label type (0x40, 0x80).
        if (length < 0 || length > 63 || !m.has(at + 1, static_cast<uint32_t>(length)))
            return false;
        if (text.length() > 0 && !text.put('.'))
            return false;
        for (int32_t i = 1; i <= length; ++i)
            if (!text.putByte(m.data[at + i], true))
                return false;
        at += 1 + static_cast<uint32_t>(length);
    }
}

// A DNS message's first question: a query's or, with the QR bit, a response's.
int32_t dnsMessage(const Reader &m, NameText &text)
{
    const int32_t flags = m.u16(2), questions = m.u16(4);
    if (flags < 0 || questions <= 0 || !dnsName(m, 12, text))
        return NameNone;
    return flags & 0x8000 ? NameDnsResponse : NameDnsQuery;
}

// Over TCP a message follows its 2-byte length; only one that starts in this
// segment is read.
int32_t dnsOverTcp(const Reader &p, NameText &text)
{
    const int32_t length = p.u16(0);
    return length < 0 ? NameNone : dnsMessage(part(p, 2, length), text);
}

// Steps over a field of 1 or 2 length bytes and what they count.
bool skipVector(const Reader &in, uint32_t &at, uint32_t lengthBytes)
{
    const int32_t length = lengthBytes == 1 ? in.u8(at) : in.u16(at);
    at += lengthBytes + static_cast<uint32_t>(length);
    return length >= 0;
}

// The first host_name (type 0) of a server_name extension's list.
bool serverName(const Reader &extension, NameText &text)
{
    const Reader list = part(extension, 2, extension.u16(0));
    for (uint32_t at = 0; list.has(at, 3); at += 3 + static_cast<uint32_t>(list.u16(at + 1))) {
        const int32_t length = list.u16(at + 1);
        if (!list.has(at + 3, static_cast<uint32_t>(length)))
            return false;
        if (list.u8(at) == 0)
            return text.putBytes(list.data + at + 3, static_cast<uint32_t>(length));
    }
    return false;
}

// A handshake record (22) of SSL 3 or TLS (version 3.x) that opens with a
// ClientHello (1) whole in this record and in this segment.
int32_t tlsServerName(const Reader &p, NameText &text)
{
    const int32_t record = p.u16(3);
    const int64_t handshake = p.u32(5); // its type, then its 3-byte length
    if (p.u8(0) != 22 || p.u8(1) != 3 || handshake >> 24 != 1)
        return NameNone;
    const uint32_t length = static_cast<uint32_t>(handshake & 0xFFFFFF);
    if (record < 4 || length > static_cast<uint32_t>(record) - 4 || !p.has(9, length))
        return NameNone;
    const Reader hello = part(p, 9, length);
    uint32_t at = 2 + 32; // the client's version and random
    if (!skipVector(hello, at, 1) || !skipVector(hello, at, 2) || !skipVector(hello, at, 1))
        return NameNone; // no session id, cipher suites or compression methods
    const Reader extensions = part(hello, at + 2, hello.u16(at));
    for (at = 0; extensions.has(at, 4); at += 4 + static_cast<uint32_t>(extensions.u16(at + 2)))
        if (extensions.u16(at) == 0)
            return serverName(part(extensions, at + 4, extensions.u16(at + 2)), text) ? NameTlsServer
                                                                                      : NameNone;
    return NameNone;
}

// A method is a token: letters (tried first, being the most of them),
// digits and !#$%&'*+-.^_`|~. The registered ones have up to 17 bytes: a
// longer run is not a request line.
bool isToken(int32_t c)
{
    return static_cast<uint32_t>((c | 0x20) - 'a') < 26 ||
           (c > 0x20 && c < 0x7F && !std::strchr("\"(),/:;<=>?@[\\]{}", c));
}
constexpr uint32_t kLongestMethod = 32;
bool isBlank(uint8_t c) { return c == ' ' || c == '\t'; }

// Where the line starting at at ends (its LF), or -1 when the segment ends first.
int64_t lineEnd(const Reader &p, uint32_t at)
{
    const void *lf = at < p.size ? std::memchr(p.data + at, '\n', p.size - at) : nullptr;
    return lf ? static_cast<const uint8_t *>(lf) - p.data : -1;
}

// "METHOD target HTTP/1.x": a token, a space, a target (up to the next
// space), " HTTP/1." and a digit, then the line's end; sets at to the first
// header line. memchr keeps a long line cheap.
bool requestLine(const Reader &p, uint32_t &at)
{
    uint32_t i = 0;
    while (i < kLongestMethod && isToken(p.u8(i)))
        ++i;
    const int64_t end = i > 0 && p.u8(i) == ' ' ? lineEnd(p, i) : -1;
    if (end < 0)
        return false;
    const void *blank = std::memchr(p.data + i + 1, ' ', static_cast<size_t>(end - i - 1));
    const uint32_t v = blank ? static_cast<uint32_t>(static_cast<const uint8_t *>(blank) - p.data) : i + 1;
    if (v == i + 1 || v + 9 > end || std::memcmp(p.data + v, " HTTP/1.", 8) != 0 || p.data[v + 8] < '0' ||
        p.data[v + 8] > '9')
        return false;
    at = static_cast<uint32_t>(end) + 1;
    return v + 9 == end || (v + 10 == end && p.data[v + 9] == '\r');
}

// The value of the first Host header before the blank line, without the
// blanks around it; the header's name in any case.
int32_t httpHost(const Reader &p, NameText &text)
{
    uint32_t at;
    if (!requestLine(p, at))
        return NameNone;
    for (int64_t end; (end = lineEnd(p, at)) >= 0; at = static_cast<uint32_t>(end) + 1) {
        uint32_t stop = static_cast<uint32_t>(end);
        if (stop > at && p.data[stop - 1] == '\r')
            --stop;
        if (stop == at)
            return NameNone; // the blank line: no Host header
        const uint8_t *h = p.data + at;
        if (stop - at < 5 || (h[0] | 0x20) != 'h' || (h[1] | 0x20) != 'o' || (h[2] | 0x20) != 's' ||
            (h[3] | 0x20) != 't' || h[4] != ':')
            continue;
        for (at += 5; at < stop && isBlank(p.data[at]);)
            ++at;
        while (stop > at && isBlank(p.data[stop - 1]))
            --stop;
        return text.putBytes(p.data + at, stop - at) ? NameHttpHost : NameNone;
    }
    return NameNone;
}

bool isDnsPort(int32_t port) { return port == 53 || port == 5353 || port == 5355; }

// One protocol's reader into the record; what it wrote of a name it could
// not finish is zeroed again.
bool named(int32_t (*read)(const Reader &, NameText &), const Reader &payload, PacketNameRecord *out)
{
    NameText text(out->name);
    out->kind = read(payload, text);
    if (out->kind == NameNone) {
        std::memset(out->name, 0, text.length());
        return false;
    }
    out->length = static_cast<int32_t>(text.length());
    return true;
}

} // namespace

int32_t decodeName(const uint8_t *data, uint32_t caplen, int32_t linkType, PacketNameRecord *out)
{
    std::memset(out, 0, sizeof *out);
    PacketSummaryRecord r;
    decodeHeaders(data, caplen, linkType, &r);
    // Ports are set for TCP and UDP only, and only on a first fragment.
    if (r.sourcePort < 0 || r.destinationPort < 0 || r.payloadOffset < 0)
        return 0;
    const Reader payload = part({data, caplen}, static_cast<uint32_t>(r.payloadOffset), r.payloadLength);
    const bool dns = isDnsPort(r.sourcePort) || isDnsPort(r.destinationPort);
    if (r.protocol == 17)
        return dns && named(dnsMessage, payload, out);
    return named(tlsServerName, payload, out) || named(httpHost, payload, out) ||
           (dns && named(dnsOverTcp, payload, out));
}

} // namespace ondrix::decode
