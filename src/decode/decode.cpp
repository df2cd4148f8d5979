// The decoding exports: the common fields, and the name, of the packet last
// delivered.
#include "frame/delivered.h"
#include "decode/name.h"
#include "decode/packet.h"
#include "ondrix.h"

using namespace ondrix;

extern "C" int32_t ONDRIX_CALL oxDecodePacket(PacketSummaryRecord *summary)
{
    const pcap_pkthdr *header = deliveredPacket(summary);
    if (!header)
        return -1;
    decode::decodePacket(state.delivered.data, header->caplen, state.linkType, summary);
    return 0;
}

extern "C" int32_t ONDRIX_CALL oxDecodeName(PacketNameRecord *name)
{
    const pcap_pkthdr *header = deliveredPacket(name);
    if (!header)
        return -1;
    return decode::decodeName(state.delivered.data, header->caplen, state.linkType, name);
}
