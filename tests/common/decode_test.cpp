// Decoding the packet last delivered: its fields and the name it carries.
#ifndef _WIN32
#include <arpa/inet.h>
#endif

#include "delivery_fixture.h"

TEST_F(Delivery, DecodeDescribesOnlyAPacketJustDelivered)
{
    PacketSummaryRecord summary, untouched;
    std::memset(&untouched, 0x5A, sizeof untouched);
    summary = untouched;
    ByteArray arr(59);
    EXPECT_EQ(ox.oxDecodePacket(&summary), -1); // no capture yet
    EXPECT_EQ(error(), text::NotReady);
    ASSERT_EQ(begin(ModeCopy), 0);
    pushFrame(pkt);
    pushFrame(pkt);
    PacketNameRecord name;
    PacketTimeRecord time;
    EXPECT_EQ(ox.oxDecodeName(&name) & ox.oxGetPacketTime(&time), -1);
    EXPECT_EQ(error(), text::NoPacketYet) << "a capture is open";
    EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), -1); // the packet was lost: too short
    EXPECT_EQ(ox.oxDecodePacket(&summary), -1);
    EXPECT_EQ(ox.oxCaptureMem(arr.var(), &hdr), 1);
    EXPECT_EQ(ox.oxDecodePacket(nullptr) & ox.oxDecodeName(nullptr) & ox.oxGetPacketTime(nullptr), -1);
    EXPECT_EQ(error(), text::NoRecord);
    EXPECT_EQ(ox.oxDecodePacket(&summary), 0);
    EXPECT_EQ(summary.linkType, 1);
    EXPECT_TRUE(same(summary.destinationMac, {pkt.begin(), pkt.begin() + 6}));
    EXPECT_EQ(ox.oxCapture(arr.var(), nullptr), -1); // takes no packet, forgets the last
    EXPECT_EQ(ox.oxDecodePacket(&summary), -1);
    EXPECT_EQ(error(), text::NoPacketYet);
    EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), 0); // time-out
    summary = untouched;
    EXPECT_EQ(ox.oxDecodePacket(&summary), -1);
    pushFrame(pkt);
    EXPECT_EQ(ox.oxCaptureMem(arr.var(), &hdr), 1);
    EXPECT_EQ(ox.oxEnd(), 0);
    EXPECT_EQ(ox.oxDecodePacket(&summary), -1);
    EXPECT_EQ(error(), text::NotReady);
    EXPECT_EQ(std::memcmp(&summary, &untouched, sizeof summary), 0);
}

using namespace std::string_literals;

TEST_F(Delivery, NameOfADnsQuestion)
{
    ASSERT_EQ(begin(ModeAlias), 0);
    const std::string query = "\x12\x34\x01\0\0\x01\0\0\0\0\0\0"s;
    // A label's own dot, backslash and control bytes as \DDD, its space kept.
    EXPECT_EQ(nameOf(ipv4Frame(17, 53, query + "\x07x.y\\\x07 z\x04host\0"s)), "1:x\\046y\\092\\007 z.host");
    // Loops: a pointer to itself, and a label before a pointer back to it.
    EXPECT_EQ(nameOf(ipv4Frame(17, 53, query + "\xC0\x0C"s)), "");
    EXPECT_EQ(nameOf(ipv4Frame(17, 53, query + "\x01x\xC0\x0C"s)), "");
    // 255 bytes of text fit the record; 256 are no name.
    const std::string escaped = query + '\x3F' + std::string(62, '\x01') + 'b'; // 249 bytes as text
    EXPECT_EQ(nameOf(ipv4Frame(17, 53, escaped + "\x05zzzzz\0"s)).size(), 2 + 255u);
    EXPECT_EQ(nameOf(ipv4Frame(17, 53, escaped + "\x06zzzzzz\0"s)), "");
    // Over TCP the message is as long as its 2-byte prefix says.
    EXPECT_EQ(nameOf(ipv4Frame(6, 53, "\0\x11"s + query + "\x03www\0"s)), "1:www");
    EXPECT_EQ(nameOf(ipv4Frame(6, 53, "\0\x10"s + query + "\x03www\0"s)), "");
}

// Each kind's packet cut at every length, delivered in exactly its bytes so
// that ASan sees a read past the end: a name once it is whole, and from a
// whole ClientHello only.
TEST_F(Delivery, NameNeverReadsPastTheCapturedLength)
{
    ASSERT_EQ(begin(ModeAlias), 0);
    auto vec = [](const std::string &s) { return std::string{char(s.size() >> 8), char(s.size())} + s; };
    const std::string hello = "\x03\x03"s + std::string(33, 0) + vec("\x13\x01") + "\x01\0"s +
                              vec("\0\0"s + vec(vec("\0"s + vec("www.host.org"))) + "\0\x17\0\0"s);
    const struct {
        std::vector<unsigned char> frame;
        size_t after; // bytes after the name's end
        std::string name;
    } cases[] = {
        {ipv4Frame(17, 53, "\x12\x34\x81\x80\0\x01\0\0\0\0\0\0\x03www\xC0\x16\0\x01\0\x01\x04host\x03org\0"s),
         0, "2:www.host.org"},
        {ipv4Frame(6, 443, "\x16\x03\x01"s + vec("\x01\0"s + vec(hello))), 0, "3:www.host.org"},
        {ipv4Frame(6, 80, "GET /a HTTP/1.1\r\nUser-Agent: t\r\nhOsT: \t www.host.org:80 \r\n\r\n"), 2,
         "4:www.host.org:80"},
    };
    for (const auto &c : cases)
        for (size_t cut = 0; cut <= c.frame.size(); ++cut)
            ASSERT_EQ(nameOf(c.frame, cut), cut + c.after >= c.frame.size() ? c.name : "") << cut;
    EXPECT_EQ(nameOf(ipv4Frame(6, 80, "GET / HTTP/1.1\r\n\r\nHost: a\r\n")), ""); // after the headers
}

// Every cut of a tagged IPv6 packet with extension headers and TCP options,
// delivered in exactly its bytes, so that ASan sees any read past the end.
TEST_F(Delivery, DecodeNeverReadsPastTheCapturedLength)
{
    const unsigned char head[] = {1,    2,    3,    4,    5,    6,    7,    8,    9,    10,
                                  11,   12,   0x88, 0xA8, 0x20, 0x05, 0x81, 0x00, 0x00, 0x07,
                                  0x86, 0xDD, 0x60, 0,    0,    0,    0,    44,   0,    64};
    const unsigned char tail[] = {44, 0,  1,    2,    3,   4,   5,   6,        // hop-by-hop, 8 bytes
                                  6,  0,  0,    1,    0,   0,   0,   9,        // first fragment, more follow
                                  0,  80, 0x1F, 0x90, 0,   0,   0,   1,  0, 0, // TCP: ports 80 > 8080
                                  0,  0,  0x60, 0x12, 0,   0,   0,   0,  0, 0, // 24-byte header, SYN+ACK
                                  2,  4,  5,    0xB4, 'd', 'a', 't', 'a'};
    std::vector<unsigned char> f(sizeof head + 32 + sizeof tail, 0x20); // addresses all 0x20
    std::memcpy(f.data(), head, sizeof head);
    std::memcpy(f.data() + sizeof head + 32, tail, sizeof tail);
    ByteArray arr(4);
    ASSERT_EQ(begin(ModeAlias), 0);
    PacketSummaryRecord r;
    for (size_t cut = 0; cut <= f.size(); ++cut) {
        fake_push_packet(f.data(), static_cast<uint32_t>(cut), static_cast<uint32_t>(f.size()), 5, 0);
        ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
        ASSERT_EQ(ox.oxDecodePacket(&r), 0);
        EXPECT_EQ(r.ipVersion, cut >= 62 ? 6 : 0);
        EXPECT_EQ(r.tcpFlags, cut >= 92 ? 0x12 : -1) << cut;
    }
    EXPECT_EQ(r.vlanId, 5);
    EXPECT_EQ(r.destinationPort, 8080);
    EXPECT_EQ(r.payloadOffset, 102);
    EXPECT_EQ(r.payloadLength, 4); // 44 declared, less 16 of extensions and 24 of TCP
}

namespace
{

std::vector<unsigned char> hex(const std::string &text)
{
    std::vector<unsigned char> out;
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] != ' ')
            out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i++, 2), nullptr, 16)));
    return out;
}

// Headers in hex: Ethernet (source MAC 02:...), IPv4 192.0.2.1 > 192.0.2.2,
// IPv6 with addresses of 0x22 bytes, UDP 53 > 1024, a 20-byte TCP header 80 > 8080.
const std::string kEth = "0a0b0c0d0e0f 020304050607 ", kUdp8 = "0035 0400 0008 0000 ",
                  kTcp = "0050 1f90 00000001 00000000 5012 0000 0000 0000 ";
std::string v4(const char *totalLength, const char *protocol)
{
    return std::string("4500") + totalLength + "00000000 40" + protocol + "0000 c0000201 c0000202 ";
}
std::string v6(const char *payloadLength, const char *next)
{
    return std::string("60000000") + payloadLength + next + "40" + std::string(64, '2') + " ";
}

} // namespace

// Crafted frames for the decoder's paths that no saved capture takes.
TEST_F(Delivery, DecodeCraftedFrames)
{
    ByteArray arr(200);
    PacketSummaryRecord r;
    // want: etherType vlanId ipVersion protocol ports(2) icmp(2) payloadOffset payloadLength sourceMac[0]
    auto decoded = [&](const char *what, int32_t link, std::vector<int32_t> want, const std::string &bytes) {
        const std::vector<unsigned char> f = hex(bytes);
        fake_set_linktype(link);
        ASSERT_EQ(begin(ModeCopy), 0);
        fake_push_packet(f.data(), static_cast<uint32_t>(f.size()), 1500, 5, 0);
        ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
        ASSERT_EQ(ox.oxDecodePacket(&r), 0);
        EXPECT_EQ(std::vector<int32_t>({r.etherType, r.vlanId, r.ipVersion, r.protocol, r.sourcePort,
                                        r.destinationPort, r.icmpType, r.icmpCode, r.payloadOffset,
                                        r.payloadLength, r.sourceMac[0]}),
                  want)
            << what;
        ASSERT_EQ(ox.oxEnd(), 0);
    };
    decoded("0x9100 tag", 1, {0x800, 7, 4, 17, 53, 1024, -1, -1, 46, 0, 2},
            kEth + "9100 0007 0800" + v4("001c", "11") + kUdp8);
    decoded("0x0600 is a type", 1, {0x600, -1, 0, -1, -1, -1, -1, -1, -1, -1, 2}, kEth + "0600 00000000");
    decoded("13 bytes: no MACs", 1, {-1, -1, 0, -1, -1, -1, -1, -1, -1, -1, 0}, kEth + "08");
    decoded("padding after the datagram", 1, {0x800, -1, 4, 1, -1, -1, 8, -1, 34, 1, 2},
            kEth + "0800" + v4("0015", "01") + "08" + std::string(50, '0'));
    decoded("IPv4 length 0 (offload)", 1, {0x800, -1, 4, 6, 80, 8080, -1, -1, 54, 2, 2},
            kEth + "0800" + v4("0000", "06") + kTcp + "6869");
    decoded("destination options", 1, {0x86DD, -1, 6, 17, 53, 1024, -1, -1, 70, 0, 2},
            kEth + "86dd" + v6("0010", "3c") + "1100 0000 00000000" + kUdp8);
    decoded("nothing after the extensions", 1, {0x86DD, -1, 6, 59, -1, -1, -1, -1, 62, 0, 2},
            kEth + "86dd" + v6("0008", "00") + "3b00 0000 00000000");
    decoded("IPv6 on macOS loopback", 0, {0x86DD, -1, 6, 17, 53, 1024, -1, -1, 52, 0, 0},
            "1e000000" + v6("0008", "11") + kUdp8);
    decoded("SLL2 source MAC", 276, {0x800, -1, 4, 17, 53, 1024, -1, -1, 48, 0, 2},
            "0800 0000 00000001 0001 00 06 020304050607 0000" + v4("001c", "11") + kUdp8);
    decoded("cut SLL2 header", 276, {-1, -1, 0, -1, -1, -1, -1, -1, -1, -1, 2},
            "0800 0000 00000001 0001 00 06 020304050607");
    decoded("IPv6 length 0 behind hop-by-hop", 1, {0x86DD, -1, 6, 6, 80, 8080, -1, -1, 82, 2, 2},
            kEth + "86dd" + v6("0000", "00") + "0600 0000 00000000" + kTcp + "6869");
    decoded("payload past the capture", 1, {0x800, -1, 4, 6, 80, 8080, -1, -1, -1, 20, 2},
            kEth + "0800" + v4("0064", "06") + "0050 1f90 00000001 00000000 f012 0000 0000 0000");
    decoded("UDP length past the IP payload", 1, {0x800, -1, 4, 17, 53, 1024, -1, -1, 42, 4, 2},
            kEth + "0800" + v4("0020", "11") + "0035 0400 0064 0000 61626364");
    decoded("ICMPv6's number in IPv4", 1, {0x800, -1, 4, 58, -1, -1, -1, -1, 34, 8, 2},
            kEth + "0800" + v4("001c", "3a") + "8000 0000 00000000");
    decoded("ICMP's number in IPv6", 1, {0x86DD, -1, 6, 1, -1, -1, -1, -1, 54, 8, 2},
            kEth + "86dd" + v6("0008", "01") + "0800 0000 00000000");
}

#ifndef _WIN32
// Address texts as inet_ntop writes them: edge addresses, then random ones with
// runs of zero groups, and every byte value first in IPv4.
TEST_F(Delivery, DecodedAddressesReadAsInetNtopWritesThem)
{
    const char *const edges[] = {"::",         "::1",     "1::",          "::ffff:1.2.3.4",
                                 "1:0:0:2::3", "::1:2:3", "1::2:0:0:3:4", "1:0:2:3:4:5:6:7",
                                 "::ffff:0:0"};
    std::vector<unsigned char> frames[] = {hex(kEth + "0800" + v4("001c", "11") + kUdp8),
                                           hex(kEth + "86dd" + v6("0008", "11") + kUdp8)};
    ByteArray arr(100);
    PacketSummaryRecord r;
    char want[INET6_ADDRSTRLEN];
    ASSERT_EQ(begin(ModeCopy), 0);
    for (int i = 0; i < 4000; ++i) {
        const int six = i % 2, n = i / 2;
        unsigned char *a = &frames[six][six ? 22 : 26];
        for (int k = 0; k < (six ? 16 : 4); k += 2) {
            const int group = six ? (std::rand() % 2 ? 0 : std::rand() % (k % 4 ? 16 : 65536)) : std::rand();
            a[k] = static_cast<unsigned char>(six || k ? group >> 8 : n);
            a[k + 1] = static_cast<unsigned char>(group);
        }
        if (six && n < 9)
            inet_pton(AF_INET6, edges[n], a);
        fake_push_packet(frames[six].data(), static_cast<uint32_t>(frames[six].size()), 60, 5, 0);
        ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
        ASSERT_EQ(ox.oxDecodePacket(&r), 0);
        inet_ntop(six ? AF_INET6 : AF_INET, a, want, sizeof want);
        // glibc keeps the dotted form of IPv4-compatible addresses (::a.b.c.d), which RFC 5952 drops.
        if (std::strncmp(want, "::", 2) || !std::strchr(want, '.') || !std::strncmp(want, "::ffff:", 7)) {
            EXPECT_STREQ(r.sourceAddress, want) << i;
        }
    }
}
#endif
