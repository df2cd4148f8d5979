// oxSetParam with arbitrary variants: any type tag, any value bits, strings
// of any length and content (embedded zeros, lone surrogates, no string at
// all). Afterwards the settings hold only accepted values, a refused call
// changed nothing, and ErrorText was never written.
//
// Input, repeated: code selector (1 byte; 0x80 and above: a full 32-bit code
// follows), type tag (2 bytes), then for VT_BSTR a length (2 bytes; 0xFFFF =
// null string, else units modulo 512) and that many UTF-16 units, for any
// other tag 8 bytes of value.
#include <vector>

#include "fuzz_support.h"
#include "ondrix.h"

using namespace ondrix;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    state = LibraryState{};
    fuzz::Reader in(data, size);
    while (in.more()) {
        uint8_t sel = in.u8();
        int32_t code = sel < 0x80 ? sel % 24 : static_cast<int32_t>(in.u32());
        VARIANT v;
        std::memset(&v, 0, sizeof v);
        V_VT(&v) = in.u16();
        if (V_VT(&v) == VT_BSTR) {
            uint16_t len = in.u16();
            if (len != 0xFFFF) {
                std::vector<OLECHAR> units(len % 512u);
                in.bytes(units.data(), units.size() * sizeof(OLECHAR));
                // Exactly as long as the host's string, so a read past its
                // terminator is caught.
                V_BSTR(&v) = SysAllocStringLen(units.data(), static_cast<uint32_t>(units.size()));
            }
        } else {
            in.bytes(&v.llVal, sizeof v.llVal);
        }

        const LibraryState before = state;
        int32_t r = oxSetParam(code, &v);
        if (V_VT(&v) == VT_BSTR)
            SysFreeString(V_BSTR(&v));

        FUZZ_CHECK(r == 0 || r == -1);
        fuzz::checkSettings(state.settings);
        FUZZ_CHECK(std::memcmp(state.errorText, before.errorText, sizeof state.errorText) == 0);
        if (r != 0)
            FUZZ_CHECK(std::memcmp(&state.settings, &before.settings, sizeof state.settings) == 0);
        // Only ParamClearFilter clears a text once it is set, whatever value it is given.
        if (code == ParamClearFilter)
            FUZZ_CHECK(r == 0 && state.settings.filterText[0] == '\0');
        else if (before.settings.filterText[0])
            FUZZ_CHECK(state.settings.filterText[0] != '\0');
        const VARTYPE vt = V_VT(&v);
        if (vt != VT_I2 && vt != VT_I4 && vt != VT_BSTR && code != ParamClearFilter)
            FUZZ_CHECK(r == -1);
    }
    return 0;
}
