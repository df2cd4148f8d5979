// Adapter details from the system's own adapter list, and finding an adapter
// by what the user knows of it.
#include <cstring>

#include "adapters/directory.h"
#include "decode/address_text.h"
#include "frame/errors.h"
#include "frame/state.h"
#include "ondrix.h"
#include "platform/adapter_details.h"

using namespace ondrix;

namespace
{

// Forgets the addresses kept so far, for a list that knows them better.
void clearAddresses(AdapterDetailsRecord *details)
{
    details->ipv4PrefixLength = -1;
    details->ipv6PrefixLength = -1;
    std::memset(details->ipv4Address, 0, sizeof details->ipv4Address);
    std::memset(details->ipv6Address, 0, sizeof details->ipv6Address);
}

// Sets every field to its "none" value.
void clear(AdapterDetailsRecord *details)
{
    std::memset(details, 0, sizeof *details);
    details->mtu = -1;
    clearAddresses(details);
}

// Offers one address of the adapter: the first IPv4 address is kept, and of
// IPv6 the first that is not link-local, else the first link-local one.
// prefixLength is -1 when unknown.
void addAddress(AdapterDetailsRecord *details, const sockaddr *address, int32_t prefixLength)
{
    if (!address)
        return;
    if (address->sa_family == AF_INET) {
        if (details->ipv4Address[0])
            return;
        const auto *in = reinterpret_cast<const sockaddr_in *>(address);
        text::formatIpv4(reinterpret_cast<const uint8_t *>(&in->sin_addr), details->ipv4Address);
        details->ipv4PrefixLength = prefixLength;
    } else if (address->sa_family == AF_INET6) {
        const auto *bytes =
            reinterpret_cast<const uint8_t *>(&reinterpret_cast<const sockaddr_in6 *>(address)->sin6_addr);
        const bool linkLocal = bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80;
        // fe80::/10 always prints as "fe8".."feb": the kept one's kind shows in its text.
        const bool keptLinkLocal = std::strncmp(details->ipv6Address, "fe", 2) == 0 &&
                                   std::strchr("89ab", details->ipv6Address[2]) && details->ipv6Address[2];
        if (details->ipv6Address[0] && (linkLocal || !keptLinkLocal))
            return;
        char textForm[text::kIpv6TextSize];
        text::formatIpv6(bytes, textForm);
        std::memset(details->ipv6Address, 0, sizeof details->ipv6Address);
        std::memcpy(details->ipv6Address, textForm, std::strlen(textForm));
        details->ipv6PrefixLength = prefixLength;
    }
}

// Sets the IPv4 default gateway from 4 bytes in network order.
void setGateway(AdapterDetailsRecord *details, const uint8_t *ipv4)
{
    std::memset(details->ipv4Gateway, 0, sizeof details->ipv4Gateway);
    text::formatIpv4(ipv4, details->ipv4Gateway);
}

// The number of leading one bits of a netmask of len bytes.
int32_t prefixOfMask(const uint8_t *mask, int len)
{
    int32_t bits = 0;
    for (int i = 0; i < len; ++i)
        for (uint8_t b = mask[i]; b & 0x80; b = static_cast<uint8_t>(b << 1))
            ++bits;
    return bits;
}

int32_t prefixOf(const pcap_addr_t *a)
{
    if (!a->netmask || !a->addr || a->netmask->sa_family != a->addr->sa_family)
        return -1;
    if (a->addr->sa_family == AF_INET)
        return prefixOfMask(
            reinterpret_cast<const uint8_t *>(&reinterpret_cast<const sockaddr_in *>(a->netmask)->sin_addr),
            4);
    if (a->addr->sa_family == AF_INET6)
        return prefixOfMask(
            reinterpret_cast<const uint8_t *>(&reinterpret_cast<const sockaddr_in6 *>(a->netmask)->sin6_addr),
            16);
    return -1;
}

// What pcap itself knows: addresses and flags. Connected means up, running
// and not reported disconnected (loopback has no connection status).
void fillFromPcap(const pcap_if_t *dev, AdapterDetailsRecord *details)
{
    for (const pcap_addr_t *a = dev->addresses; a; a = a->next)
        addAddress(details, a->addr, prefixOf(a));
    const bpf_u_int32 f = dev->flags;
    if (f & PCAP_IF_LOOPBACK)
        details->flags |= AdapterLoopback;
    if (f & PCAP_IF_WIRELESS)
        details->flags |= AdapterWireless;
    if ((f & PCAP_IF_UP) && (f & PCAP_IF_RUNNING) &&
        (f & PCAP_IF_CONNECTION_STATUS) != PCAP_IF_CONNECTION_STATUS_DISCONNECTED)
        details->flags |= AdapterConnected;
}

// What the system knows, over what pcap knows.
void applySystemFacts(const platform::SystemFacts &f, AdapterDetailsRecord *details)
{
    std::memcpy(details->friendlyName, f.friendlyName, sizeof details->friendlyName);
    if (f.mtu >= 0)
        details->mtu = f.mtu;
    if (f.hasMac)
        std::memcpy(details->mac, f.mac, sizeof f.mac);
    details->flags = f.flagsKnown ? f.flags : details->flags | f.flags;
    if (f.addressesKnown) {
        clearAddresses(details);
        for (int i = 0; i < f.addressCount; ++i)
            addAddress(details, f.addresses[i], f.prefixLengths[i]);
    }
    if (f.hasGateway)
        setGateway(details, f.gateway);
}

void describe(platform::SystemAdapters *list, const pcap_if_t *dev, AdapterDetailsRecord *details)
{
    clear(details);
    fillFromPcap(dev, details);
    platform::SystemFacts facts;
    platform::systemFacts(list, dev, &facts);
    applySystemFacts(facts, details);
}

// ---- matching what the user typed ----

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

struct Span {
    const char *text;
    size_t len;
};

Span trimmed(const char *text)
{
    if (!text)
        return {"", 0};
    while (isSpace(*text))
        ++text;
    size_t len = std::strlen(text);
    while (len && isSpace(text[len - 1]))
        --len;
    return {text, len};
}

bool sameText(Span wanted, const char *candidate)
{
    const Span c = trimmed(candidate);
    if (c.len != wanted.len)
        return false;
    for (size_t i = 0; i < c.len; ++i)
        if (lower(c.text[i]) != lower(wanted.text[i]))
            return false;
    return true;
}

int hexDigit(char c)
{
    c = lower(c);
    return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "00-11-22-aa-bb-cc" or "00:11:22:AA:BB:CC" into 6 bytes.
bool parseMac(Span s, uint8_t *mac)
{
    if (s.len != 17)
        return false;
    for (int i = 0; i < 6; ++i) {
        const int hi = hexDigit(s.text[i * 3]), lo = hexDigit(s.text[i * 3 + 1]);
        if (hi < 0 || lo < 0 || (i < 5 && s.text[i * 3 + 2] != '-' && s.text[i * 3 + 2] != ':'))
            return false;
        mac[i] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return true;
}

bool anyPcapAddressIs(const pcap_if_t *dev, Span wanted)
{
    for (const pcap_addr_t *a = dev->addresses; a; a = a->next) {
        AdapterDetailsRecord one;
        clear(&one);
        addAddress(&one, a->addr, -1);
        if ((one.ipv4Address[0] && sameText(wanted, one.ipv4Address)) ||
            (one.ipv6Address[0] && sameText(wanted, one.ipv6Address)))
            return true;
    }
    return false;
}

bool matches(const pcap_if_t *dev, const AdapterDetailsRecord &d, Span wanted)
{
    static const uint8_t noMac[6] = {};
    uint8_t mac[6];
    return sameText(wanted, dev->name) || sameText(wanted, dev->description) ||
           sameText(wanted, d.friendlyName) || sameText(wanted, d.ipv4Address) ||
           sameText(wanted, d.ipv6Address) || anyPcapAddressIs(dev, wanted) ||
           (parseMac(wanted, mac) && std::memcmp(mac, noMac, 6) != 0 && std::memcmp(mac, d.mac, 6) == 0);
}

// `No adapter matches "TEXT"`, the text cut to fit, and a hint when no
// adapter is listed at all.
void reportNoMatch(Span wanted)
{
    static const char kHead[] = "No adapter matches \"";
    const char *tail = state.adapterCount ? "\"" : "\" (no adapters are listed: call OndrixInit first)";
    char message[kErrorTextSize] = {};
    const size_t room = sizeof message - 1 - (sizeof kHead - 1) - std::strlen(tail);
    const size_t len = wanted.len < room ? wanted.len : room;
    std::memcpy(message, kHead, sizeof kHead - 1);
    std::memcpy(message + sizeof kHead - 1, wanted.text, len);
    std::strcpy(message + sizeof kHead - 1 + len, tail);
    setErrorText(message);
}

} // namespace

extern "C" int32_t ONDRIX_CALL oxGetAdapterDetails(int32_t rawIndex, AdapterDetailsRecord *details)
{
    if (!recordGiven(details))
        return -1;
    pcap_if_t *dev = adapterAt(rawIndex);
    if (!dev) {
        setError(msg::BadAdapterId);
        return -1;
    }
    platform::SystemAdapters *list = platform::openSystemAdapters();
    describe(list, dev, details);
    platform::closeSystemAdapters(list);
    return 0;
}

extern "C" int32_t ONDRIX_CALL oxFindAdapter(const char *text)
{
    const Span wanted = trimmed(text);
    int32_t found = -1;
    if (wanted.len && state.adapterCount) {
        platform::SystemAdapters *list = platform::openSystemAdapters();
        int32_t index = 0;
        for (const pcap_if_t *dev = state.adapterList; dev && found < 0; dev = dev->next, ++index) {
            AdapterDetailsRecord d;
            describe(list, dev, &d);
            if (matches(dev, d, wanted))
                found = index;
        }
        platform::closeSystemAdapters(list);
    }
    if (found < 0)
        reportNoMatch(wanted);
    return found;
}
