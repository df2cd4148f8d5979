#include "frame/errors.h"

#include <cstring>

#include "frame/state.h"
#include "ondrix.h"

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
    // The system allocator itself (a stand-in of the same contract off Windows):
    // the frame calls nothing above it.
    return SysAllocStringByteLen(state.errorText,
                                 static_cast<uint32_t>(strnlen(state.errorText, sizeof state.errorText)));
}
