// The decoding exports: the common fields, and the name, of the packet last
// delivered.
#include <cstring>

#include "capture/delivered.h"
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
    if (!deliveredPacket(name))
        return -1;
    std::memset(name, 0, sizeof *name);
    return 0;
}
