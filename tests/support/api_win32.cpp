// Under Wine the exports come from ONDRIX.dll itself, loaded afresh for each
// test so that every test starts from the library's initial static state.
#include <cstdio>
#include <cstdlib>

#include "api.h"

Api ox;

namespace
{
HMODULE module;

template <typename Fn> void bind(Fn &slot, const char *name)
{
    slot = reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
    if (!slot) {
        std::fprintf(stderr, "ONDRIX.dll does not export %s\n", name);
        std::abort();
    }
}
} // namespace

void loadLibraryFresh()
{
    module = LoadLibraryA("ONDRIX.dll");
    if (!module) {
        std::fprintf(stderr, "ONDRIX.dll could not be loaded (error %lu)\n", GetLastError());
        std::abort();
    }
    bind(ox.OndrixInit, "OndrixInit");
    bind(ox.oxGetAdapterInfo, "oxGetAdapterInfo");
    bind(ox.OndrixTerminate, "OndrixTerminate");
    bind(ox.oxSetCurrentAdapter, "oxSetCurrentAdapter");
    bind(ox.oxGetCurrentAdapter, "oxGetCurrentAdapter");
    bind(ox.oxBegin, "oxBegin");
    bind(ox.oxEnd, "oxEnd");
    bind(ox.oxCaptureMem, "oxCaptureMem");
    bind(ox.oxCaptureMemSafe, "oxCaptureMemSafe");
    bind(ox.oxSetKernelBuffSize, "oxSetKernelBuffSize");
    bind(ox.oxGetErrorDescription, "oxGetErrorDescription");
    bind(ox.oxCaptureDiskSafe, "oxCaptureDiskSafe");
    bind(ox.oxSetParam, "oxSetParam");
    bind(ox.oxSendPacket, "oxSendPacket");
    bind(ox.oxCapture, "oxCapture");
    bind(ox.oxGetAdapterInfoVB5, "oxGetAdapterInfoVB5");
    bind(ox.oxGetStats, "oxGetStats");
    bind(ox.oxGetAdapterDetails, "oxGetAdapterDetails");
    bind(ox.oxFindAdapter, "oxFindAdapter");
    bind(ox.oxDecodePacket, "oxDecodePacket");
    bind(ox.oxGetPacketTime, "oxGetPacketTime");
    bind(ox.oxDecodeName, "oxDecodeName");
}

void unloadLibrary()
{
    if (!module)
        return;
    ox.oxEnd();
    ox.OndrixTerminate();
    FreeLibrary(module);
    module = nullptr;
    ox = Api{};
}
