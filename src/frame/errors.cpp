#include "frame/errors.h"

#include <cstring>

#include "frame/state.h"
#include "ondrix.h"
#include "platform/platform.h"

namespace ondrix
{

void setErrorText(const char *text)
{
    std::memset(state.errorText, 0, sizeof state.errorText);
    if (text)
        std::strncpy(state.errorText, text, sizeof state.errorText - 1);
}

void setError(const char *message) { setErrorText(message); }

} // namespace ondrix

using namespace ondrix;

extern "C" BSTR ONDRIX_CALL oxGetErrorDescription(void)
{
    return platform::allocAnsiString(state.errorText,
                                     static_cast<uint32_t>(strnlen(state.errorText, sizeof state.errorText)));
}
