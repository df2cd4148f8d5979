// The packet decoder: pure, so that the export, the tests and the fuzzer call
// the same code on any bytes.
#pragma once

#include <cstdint>

#include "ondrix.h"

namespace ondrix::decode
{

// The link, IP and transport fields of out, the MACs included, as
// decodePacket gives them, with the address texts left empty: what finding
// the transport needs, without the cost of the texts. Returns where the
// network layer starts.
uint32_t decodeHeaders(const uint8_t *data, uint32_t caplen, int32_t linkType, PacketSummaryRecord *out);

// Fills every field of out from the caplen bytes at data, captured on a link
// of the given pcap link type. Reads nothing past data + caplen.
// payloadOffset: where the TCP or UDP payload starts, for any other protocol
// (and a later fragment) where the IP payload does; -1 when unknown, or when
// that is past the captured bytes. payloadLength: as the headers declare it.
void decodePacket(const uint8_t *data, uint32_t caplen, int32_t linkType, PacketSummaryRecord *out);

} // namespace ondrix::decode
