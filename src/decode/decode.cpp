// oxDecodePacket: the common fields of the packet last delivered.
#include "decode/packet.h"
#include "frame/errors.h"
#include "frame/state.h"
#include "ondrix.h"

using namespace ondrix;

extern "C" int32_t ONDRIX_CALL oxDecodePacket(PacketSummaryRecord *summary)
{
    const auto &d = state.delivered;
    if (!d.header) {
        setError(msg::NotReady);
        return -1;
    }
    decode::decodePacket(d.data, d.header->caplen, state.linkType, summary);
    return 0;
}
