// oxGetPacketTime: the date and time of the packet last delivered.
#include <cstring>

#include "capture/delivered.h"
#include "ondrix.h"

using namespace ondrix;

extern "C" int32_t ONDRIX_CALL oxGetPacketTime(PacketTimeRecord *time)
{
    if (!deliveredPacket(time))
        return -1;
    std::memset(time, 0, sizeof *time);
    return 0;
}
