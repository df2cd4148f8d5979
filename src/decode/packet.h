// The packet decoder: pure, so that the export, the tests and the fuzzer call
// the same code on any bytes.
#pragma once

#include <cstdint>

#include "ondrix.h"

namespace ondrix::decode
{

// Fills every field of out from the caplen bytes at data, captured on a link
// of the given pcap link type. Reads nothing past data + caplen.
// payloadOffset: where the TCP or UDP payload starts, for any other protocol
// (and a later fragment) where the IP payload does; -1 when unknown, or when
// that is past the captured bytes. payloadLength: as the headers declare it.
void decodePacket(const uint8_t *data, uint32_t caplen, int32_t linkType, PacketSummaryRecord *out);

} // namespace ondrix::decode
