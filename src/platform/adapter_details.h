// What the system knows of an adapter beyond the pcap list: the name it shows
// the user, hardware address, MTU, link state and default gateway.
#pragma once

#include "ondrix.h"
#include "platform/pcap_api.h"

namespace ondrix::platform
{

// The system's adapter list, taken once for a walk over pcap's list; null
// where there is none to take (the per-adapter queries then ask directly).
struct SystemAdapters;
SystemAdapters *openSystemAdapters();
void closeSystemAdapters(SystemAdapters *list);

// Adds to details, which already holds what pcap knows of dev, what the
// system knows of it; a field the system doesn't report is left as it is.
void addSystemDetails(SystemAdapters *list, const pcap_if_t *dev, AdapterDetailsRecord *details);

} // namespace ondrix::platform
