// What the system knows of an adapter beyond the pcap list: the name it shows
// the user, hardware address, MTU, link state, addresses and default gateway.
// Handed back as plain facts; the adapter layer turns them into the record.
#pragma once

#include <cstdint>

#include "frame/pcap_api.h"

namespace ondrix::platform
{

// The system's adapter list, taken once for a walk over pcap's list; null
// where there is none to take (the per-adapter queries then ask directly).
struct SystemAdapters;
SystemAdapters *openSystemAdapters();
void closeSystemAdapters(SystemAdapters *list);

// One adapter's facts. A field the system doesn't report keeps its value
// below, which leaves what pcap knows in place.
struct SystemFacts {
    char friendlyName[256] = ""; // empty: none the record can hold
    int32_t mtu = -1;
    bool hasMac = false;
    uint8_t mac[6] = {};
    // AdapterFlag bits that replace pcap's, when flagsKnown; added to them otherwise.
    bool flagsKnown = false;
    int32_t flags = 0;
    // The system's own addresses, which replace pcap's when addressesKnown.
    // Each stays valid until the list it came from is closed.
    static constexpr int kMaxAddresses = 32;
    bool addressesKnown = false;
    int addressCount = 0;
    const sockaddr *addresses[kMaxAddresses] = {};
    int32_t prefixLengths[kMaxAddresses] = {}; // -1 when unknown
    bool hasGateway = false;
    uint8_t gateway[4] = {}; // IPv4, network order
};

// What the system knows of dev (from list, or asked directly).
void systemFacts(SystemAdapters *list, const pcap_if_t *dev, SystemFacts *facts);

} // namespace ondrix::platform
