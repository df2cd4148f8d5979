#include "decode/address_text.h"

namespace ondrix::text
{

namespace
{

char *putByte(char *p, unsigned v)
{
    if (v >= 100) {
        *p++ = static_cast<char>('0' + v / 100);
        v %= 100;
        *p++ = static_cast<char>('0' + v / 10);
    } else if (v >= 10) {
        *p++ = static_cast<char>('0' + v / 10);
    }
    *p++ = static_cast<char>('0' + v % 10);
    return p;
}

char *putDotted(char *p, const uint8_t *a)
{
    for (int i = 0; i < 4; ++i) {
        if (i)
            *p++ = '.';
        p = putByte(p, a[i]);
    }
    return p;
}

char *putGroup(char *p, unsigned g)
{
    static const char digits[] = "0123456789abcdef";
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
        unsigned d = (g >> shift) & 0xF;
        if (d || started || shift == 0) {
            *p++ = digits[d];
            started = true;
        }
    }
    return p;
}

} // namespace

int formatIpv4(const uint8_t *a, char *out)
{
    char *end = putDotted(out, a);
    *end = '\0';
    return static_cast<int>(end - out);
}

int formatIpv6(const uint8_t *a, char *out)
{
    unsigned g[8];
    for (int i = 0; i < 8; ++i)
        g[i] = unsigned{a[2 * i]} << 8 | a[2 * i + 1];
    // The longest run of zero groups, two at least; the first of equal ones.
    int best = -1, bestLen = 1;
    for (int i = 0; i < 8;) {
        if (g[i]) {
            ++i;
            continue;
        }
        int j = i;
        while (j < 8 && !g[j])
            ++j;
        if (j - i > bestLen) {
            best = i;
            bestLen = j - i;
        }
        i = j;
    }
    const bool mapped = best == 0 && bestLen == 5 && g[5] == 0xFFFF;
    const int groups = mapped ? 6 : 8;
    char *p = out;
    for (int i = 0; i < groups;) {
        if (i == best) {
            *p++ = ':';
            *p++ = ':';
            i += bestLen;
            continue;
        }
        if (i && i != best + bestLen)
            *p++ = ':';
        p = putGroup(p, g[i]);
        ++i;
    }
    if (mapped) {
        *p++ = ':';
        p = putDotted(p, a + 12);
    }
    *p = '\0';
    return static_cast<int>(p - out);
}

} // namespace ondrix::text
