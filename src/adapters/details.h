// Filling an AdapterDetailsRecord from addresses, whichever list they come from.
#pragma once

#include "ondrix.h"
#include "platform/pcap_api.h"

namespace ondrix::details
{

// Sets every field to its "none" value.
void clear(AdapterDetailsRecord *details);

// Offers one address of the adapter: the first IPv4 address is kept, and of
// IPv6 the first that is not link-local, else the first link-local one.
// prefixLength is -1 when unknown.
void addAddress(AdapterDetailsRecord *details, const sockaddr *address, int32_t prefixLength);

// Forgets the addresses offered so far, for a list that knows them better.
void clearAddresses(AdapterDetailsRecord *details);

// Sets the IPv4 default gateway from 4 bytes in network order.
void setGateway(AdapterDetailsRecord *details, const uint8_t *ipv4);

// The number of leading one bits of a netmask of len bytes.
int32_t prefixOfMask(const uint8_t *mask, int len);

} // namespace ondrix::details
