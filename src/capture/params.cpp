// oxSetParam: validates one setting and stores it. Never writes ErrorText.
#include <cstdint>
#include <cstring>

#include "frame/state.h"
#include "ondrix.h"
#include "platform/platform.h"

using namespace ondrix;

namespace
{

struct ParamValue {
    uint32_t number;
    bool hasText;
    char text[kTextSize];
};

bool readVariant(const VARIANT *value, ParamValue *out)
{
    out->hasText = false;
    switch (V_VT(value)) {
    case VT_I2:
        out->number = static_cast<uint32_t>(static_cast<int32_t>(V_I2(value)));
        return true;
    case VT_I4:
        out->number = static_cast<uint32_t>(V_I4(value));
        return true;
    case VT_BSTR:
        out->number = 0xFFFFFFFFu;
        out->hasText = platform::toAnsi(V_BSTR(value), out->text, kTextSize);
        return true;
    default: // every other type, by-reference ones included
        return false;
    }
}

bool storeText(char (&field)[kTextSize], const ParamValue &v)
{
    if (!v.hasText || v.text[0] == '\0')
        return false;
    std::memcpy(field, v.text, std::strlen(v.text) + 1);
    return true;
}

// Later matches override earlier ones; no match keeps the mode.
void chooseMode(uint32_t value)
{
    if (value & 8u)
        state.settings.captureMode = 8;
    if ((value & 100u) == 100u)
        state.settings.captureMode = 100;
    if (value & 1u)
        state.settings.captureMode = 1;
}

// The rotation limits: numbers of 0 (off) or more. A text reads as
// 0xFFFFFFFF, so it is refused as a negative number is.
bool storeLimit(int32_t &field, uint32_t value)
{
    if (value > INT32_MAX)
        return false;
    field = static_cast<int32_t>(value);
    return true;
}

} // namespace

extern "C" int32_t ONDRIX_CALL oxSetParam(int32_t rawCode, const VARIANT *value)
{
    // The way back to every packet, as code 9 refuses an empty text: the
    // value is not read, so any will do, even none.
    if (static_cast<uint32_t>(rawCode) == ParamClearFilter) {
        std::memset(state.settings.filterText, 0, sizeof state.settings.filterText);
        return 0;
    }
    ParamValue v;
    if (!value || !readVariant(value, &v))
        return -1;
    CaptureSettings &s = state.settings;
    switch (static_cast<uint32_t>(rawCode)) {
    case 0:
        if (v.number - 1u > 0xFFFFu)
            return -1;
        s.snapLength = static_cast<int32_t>(v.number);
        return 0;
    case 1:
        if (v.number > 1u)
            return -1;
        s.promiscuous = static_cast<int32_t>(v.number);
        return 0;
    case 2:
        return storeText(s.dumpFileName, v) ? 0 : -1;
    case 6:
        s.kernelBufferSize = static_cast<int32_t>(v.number);
        return 0;
    case 8:
        if (v.number > 1001u)
            return -1;
        chooseMode(v.number);
        return 0;
    case 9:
        return storeText(s.filterText, v) ? 0 : -1;
    case 10:
        if (v.number - 1001u > 1u)
            return -1;
        s.captureSource = static_cast<int32_t>(v.number);
        return 0;
    case ParamDumpFileSize:
        return storeLimit(s.dumpFileSize, v.number) ? 0 : -1;
    case ParamDumpFileSeconds:
        return storeLimit(s.dumpFileSeconds, v.number) ? 0 : -1;
    case ParamDumpFileCount:
        return storeLimit(s.dumpFileCount, v.number) ? 0 : -1;
    default:
        return 0;
    }
}
