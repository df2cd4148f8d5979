// Finding an adapter of the held list by its index.
#pragma once

#include <cstdint>

#include "frame/state.h"

namespace ondrix
{

// Only the low 16 bits of an index count, read as a signed number.
inline int32_t indexFrom(int32_t raw) { return static_cast<int16_t>(static_cast<uint16_t>(raw & 0xFFFF)); }

// The adapter at a raw index, or null when the index is out of range (always
// with no list held).
inline pcap_if_t *adapterAt(int32_t rawIndex)
{
    const int32_t index = indexFrom(rawIndex);
    if (index < 0 || index > state.adapterCount - 1)
        return nullptr;
    pcap_if_t *dev = state.adapterList;
    for (int32_t i = 0; i < index && dev; ++i)
        dev = dev->next;
    return dev;
}

} // namespace ondrix
