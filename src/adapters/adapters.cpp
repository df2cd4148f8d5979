// The adapter directory: listing, describing and choosing adapters.
#include <cstring>

#include "adapters/directory.h"
#include "frame/errors.h"
#include "frame/state.h"
#include "ondrix.h"
#include "platform/platform.h"

using namespace ondrix;

namespace
{

void releaseList()
{
    if (state.adapterList)
        pcap_freealldevs(state.adapterList);
    state.adapterList = nullptr;
    state.currentAdapter = nullptr;
    state.adapterCount = 0;
}

// Copies text into a fixed field, cut to leave room for the terminator;
// bytes after the terminator keep their values.
void copyField(char *field, size_t size, const char *text)
{
    size_t len = text ? strnlen(text, size - 1) : 0;
    if (len)
        std::memcpy(field, text, len);
    field[len] = '\0';
}

BSTR ansiString(const char *text)
{
    return platform::allocAnsiString(text, static_cast<uint32_t>(std::strlen(text)));
}

} // namespace

extern "C" int32_t ONDRIX_CALL OndrixInit(void)
{
    // The list of an earlier call is released, whatever this call brings.
    releaseList();
    pcap_if_t *list = nullptr;
    if (pcap_findalldevs(&list, state.errorText) == -1) {
        setError(msg::InvalidState);
        return -1;
    }
    state.adapterList = list;
    int32_t count = 0;
    for (pcap_if_t *dev = list; dev; dev = dev->next)
        ++count;
    state.adapterCount = count;
    state.currentAdapter = list;
    state.currentIndex = -1;
    return count;
}

extern "C" int32_t ONDRIX_CALL OndrixTerminate(void)
{
    releaseList();
    return 0;
}

extern "C" int32_t ONDRIX_CALL oxGetAdapterInfo(int32_t rawIndex, AdapterInfoRecord *info)
{
    if (!recordGiven(info))
        return -1;
    pcap_if_t *dev = adapterAt(rawIndex);
    if (!dev) {
        setError(msg::BadAdapterId);
        return -1;
    }
    copyField(info->name, sizeof info->name, dev->name);
    copyField(info->description, sizeof info->description, dev->description);
    info->reserved = 0;
    return 0;
}

extern "C" int32_t ONDRIX_CALL oxGetAdapterInfoVB5(int32_t rawIndex, BSTR *name, BSTR *description)
{
    pcap_if_t *dev = adapterAt(rawIndex);
    if (!dev) {
        setError(msg::BadAdapterId);
        return -1;
    }
    // A VB host frees whatever the slot holds afterwards, so the old string
    // would leak if it were simply overwritten. A C host passes a null slot
    // for the text it doesn't want.
    if (name) {
        platform::freeString(*name);
        *name = ansiString(dev->name ? dev->name : "");
    }
    if (description) {
        platform::freeString(*description);
        *description = dev->description ? ansiString(dev->description) : nullptr;
    }
    return 0;
}

extern "C" int32_t ONDRIX_CALL oxSetCurrentAdapter(int32_t rawIndex)
{
    if (state.adapterCount == 0 || !state.currentAdapter) {
        setError(msg::NotReady);
        return -1;
    }
    pcap_if_t *dev = adapterAt(rawIndex);
    if (!dev) {
        setError(msg::BadAdapterId);
        return -1;
    }
    const int32_t index = indexFrom(rawIndex);
    if (index == state.currentIndex)
        return 0;
    state.currentAdapter = dev;
    state.currentIndex = index;
    return 0;
}

extern "C" int32_t ONDRIX_CALL oxGetCurrentAdapter(void) { return state.currentIndex; }
