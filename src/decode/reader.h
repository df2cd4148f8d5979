// A bounds-checked view of captured bytes: every read past the end yields -1
// instead of touching memory, so a cut or lying header can't lead outside.
#pragma once

#include <cstdint>

namespace ondrix::decode
{

struct Reader {
    const uint8_t *data;
    uint32_t size;

    bool has(uint32_t offset, uint32_t count) const { return offset <= size && count <= size - offset; }
    int32_t u8(uint32_t offset) const { return offset < size ? data[offset] : -1; }
    // Big-endian, as on the wire.
    int32_t u16(uint32_t offset) const
    {
        return has(offset, 2) ? (data[offset] << 8 | data[offset + 1]) : -1;
    }
    int64_t u32(uint32_t offset) const
    {
        return has(offset, 4) ? int64_t{uint32_t(data[offset]) << 24 | uint32_t(data[offset + 1]) << 16 |
                                        uint32_t(data[offset + 2]) << 8 | data[offset + 3]}
                              : -1;
    }
};

} // namespace ondrix::decode
