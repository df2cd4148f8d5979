// What make_test_veths.sh gives its adapters, and how their details records
// must show it: under Linux and under Wine alike.
#pragma once

#include <gtest/gtest.h>

#include <cstring>

#include "ondrix.h"

struct VethFacts {
    const char *name; // the Linux interface: friendly name, and Wine's description
    int32_t flags, mtu;
    const uint8_t *mac; // null: the kernel's own choice
    const char *ipv4;
    int32_t ipv4Prefix;
    const char *gateway, *ipv6;
    int32_t ipv6Prefix;
};

inline const uint8_t kOxd0Mac[8] = {0x02, 0x11, 0x22, 0x33, 0x44, 0x55}, kNoMac[8] = {};
inline const VethFacts kVethFacts[] = {
    {"oxd0", AdapterConnected, 1400, kOxd0Mac, "192.0.2.10", 24, "192.0.2.1", "2001:db8::10", 64},
    {"lo", AdapterLoopback | AdapterConnected, 65536, kNoMac, "127.0.0.1", 8, "", "::1", 128},
    {"oxd2", 0, 1500, nullptr, "", -1, "", "", -1}, // no carrier, no address, no gateway
    {"oxd4", 0, 1500, nullptr, "", -1, "", "", -1}, // down
    {"oxd5", 0, 1500, kNoMac, "", -1, "", "", -1},  // not an Ethernet address
};

inline void expectDetails(const VethFacts &e, const AdapterDetailsRecord &d)
{
    EXPECT_EQ(d.flags, e.flags);
    EXPECT_EQ(d.mtu, e.mtu);
    if (e.mac) {
        EXPECT_EQ(std::memcmp(d.mac, e.mac, 8), 0);
    }
    EXPECT_STREQ(d.friendlyName, e.name);
    EXPECT_STREQ(d.ipv4Address, e.ipv4);
    EXPECT_EQ(d.ipv4PrefixLength, e.ipv4Prefix);
    EXPECT_STREQ(d.ipv4Gateway, e.gateway);
    EXPECT_STREQ(d.ipv6Address, e.ipv6);
    EXPECT_EQ(d.ipv6PrefixLength, e.ipv6Prefix);
}
