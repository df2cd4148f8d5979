// The name a packet carries: its DNS question, TLS server name or HTTP host.
// Pure, like the packet decoder, so that the export, the tests and the fuzzer
// call the same code on any bytes.
#pragma once

#include <cstdint>

#include "ondrix.h"

namespace ondrix::decode
{

// Fills every byte of out from the caplen bytes at data, captured on a link
// of the given pcap link type: the name the outermost TCP or UDP payload
// carries, or kind NameNone, length 0 and a name all zero. Returns 1 with a
// name, else 0. Reads nothing past data + caplen.
int32_t decodeName(const uint8_t *data, uint32_t caplen, int32_t linkType, PacketNameRecord *out);

} // namespace ondrix::decode
