#include "api.h"

#include "frame/state.h"

Api ox = {OndrixInit,
          oxGetAdapterInfo,
          OndrixTerminate,
          oxSetCurrentAdapter,
          oxGetCurrentAdapter,
          oxBegin,
          oxEnd,
          oxCaptureMem,
          oxCaptureMemSafe,
          oxSetKernelBuffSize,
          oxGetErrorDescription,
          oxCaptureDiskSafe,
          oxSetParam,
          oxSendPacket,
          oxCapture,
          oxGetAdapterInfoVB5,
          oxGetStats,
          oxGetAdapterDetails,
          oxFindAdapter,
          oxDecodePacket,
          oxGetPacketTime,
          oxDecodeName};

void loadLibraryFresh() { ondrix::state = ondrix::LibraryState{}; }

void unloadLibrary()
{
    ox.oxEnd();
    ox.OndrixTerminate();
}
