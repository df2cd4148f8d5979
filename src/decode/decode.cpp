// oxDecodePacket: the common fields of the packet last delivered.
#include "frame/errors.h"
#include "frame/state.h"
#include "ondrix.h"

using namespace ondrix;

extern "C" int32_t ONDRIX_CALL oxDecodePacket(PacketSummaryRecord *)
{
    setError(msg::NotReady);
    return -1;
}
