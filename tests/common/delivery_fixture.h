// The Delivery fixture: a capture begun on the pcap double, the frames the
// delivery, disk, time and decode tests feed it, and reading a packet's name.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "fixture.h"

using host::ByteArray;

inline std::vector<unsigned char> frame(size_t n)
{
    std::vector<unsigned char> f(n);
    for (size_t i = 0; i < n; ++i)
        f[i] = static_cast<unsigned char>(i * 7 + 1);
    return f;
}

inline void pushFrame(const std::vector<unsigned char> &f, uint32_t sec = 5, uint32_t usec = 123456)
{
    fake_push_packet(f.data(), static_cast<uint32_t>(f.size()), static_cast<uint32_t>(f.size()) + 4, sec,
                     usec);
}

// Ethernet, IPv4, then UDP (17) or TCP (6) to port, carrying payload (up to
// 200 bytes).
inline std::vector<unsigned char> ipv4Frame(int protocol, int port, const std::string &payload)
{
    const size_t header = protocol == 6 ? 20 : 8, length = 20 + header + payload.size();
    std::vector<unsigned char> f(14 + length);
    f[12] = 0x08, f[14] = 0x45, f[17] = length, f[23] = protocol, f[36] = port >> 8, f[37] = port;
    f[protocol == 6 ? 46 : 39] = protocol == 6 ? 0x50 : length - 20; // the TCP header's or UDP's length
    std::copy(payload.begin(), payload.end(), f.begin() + 34 + header);
    return f;
}

class Delivery : public LibraryTest
{
  protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        pkt = frame(60);
    }
    int begin(int32_t mode)
    {
        if (setInt(ParamCaptureMode, mode) != 0)
            return -1;
        return beginLive();
    }
    static bool same(const uint8_t *a, const std::vector<unsigned char> &b)
    {
        return std::memcmp(a, b.data(), b.size()) == 0;
    }
    // oxDecodeName on the first cut bytes of f, delivered in exactly those:
    // "kind:name", "" for none, "bad record" for a record filled otherwise.
    std::string nameOf(const std::vector<unsigned char> &f, size_t cut = SIZE_MAX)
    {
        fake_push_packet(f.data(), uint32_t(std::min(cut, f.size())), uint32_t(f.size()), 5, 0);
        ByteArray arr(4);
        PacketNameRecord n;
        std::memset(&n, 0x5A, sizeof n);
        const int32_t r = ox.oxCapture(arr.var(), &hdr) == 1 ? ox.oxDecodeName(&n) : -1;
        const std::string text(n.name, sizeof n.name), name = text.substr(0, text.find('\0'));
        if (r != (n.kind != 0) || n.length != int32_t(name.size()) || r != !name.empty() ||
            text != name + std::string(text.size() - name.size(), '\0'))
            return "bad record";
        return r ? std::to_string(n.kind) + ":" + name : "";
    }
    std::vector<unsigned char> pkt;
    PacketHeaderRecord hdr{};
};
