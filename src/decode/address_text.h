// Address text without allocation: dotted IPv4 and RFC 5952 IPv6, as the
// records carry them.
#pragma once

#include <cstdint>

namespace ondrix::text
{

constexpr int kIpv4TextSize = 16; // "255.255.255.255" and its terminator
constexpr int kIpv6TextSize = 46; // the longest RFC 5952 text and its terminator

// Writes the 4-byte address at a as a.b.c.d with a terminator into out
// (kIpv4TextSize bytes); returns the length.
int formatIpv4(const uint8_t *a, char *out);

// Writes the 16-byte address at a in RFC 5952 form (lower case, no leading
// zeros, the longest run of two or more zero groups as "::", the first of
// equal runs; IPv4-mapped addresses end in dotted form) with a terminator
// into out (kIpv6TextSize bytes); returns the length.
int formatIpv6(const uint8_t *a, char *out);

} // namespace ondrix::text
