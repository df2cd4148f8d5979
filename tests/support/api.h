// The exports as the tests reach them. On Linux they are linked in; under
// Wine each test loads ONDRIX.dll afresh, so every test starts from the
// library's initial state.
#pragma once

#include "ondrix.h"

struct Api {
    decltype(&::OndrixInit) OndrixInit;
    decltype(&::oxGetAdapterInfo) oxGetAdapterInfo;
    decltype(&::OndrixTerminate) OndrixTerminate;
    decltype(&::oxSetCurrentAdapter) oxSetCurrentAdapter;
    decltype(&::oxGetCurrentAdapter) oxGetCurrentAdapter;
    decltype(&::oxBegin) oxBegin;
    decltype(&::oxEnd) oxEnd;
    decltype(&::oxCaptureMem) oxCaptureMem;
    decltype(&::oxCaptureMemSafe) oxCaptureMemSafe;
    decltype(&::oxSetKernelBuffSize) oxSetKernelBuffSize;
    decltype(&::oxGetErrorDescription) oxGetErrorDescription;
    decltype(&::oxCaptureDiskSafe) oxCaptureDiskSafe;
    decltype(&::oxSetParam) oxSetParam;
    decltype(&::oxSendPacket) oxSendPacket;
    decltype(&::oxCapture) oxCapture;
    decltype(&::oxGetAdapterInfoVB5) oxGetAdapterInfoVB5;
    decltype(&::oxGetStats) oxGetStats;
    decltype(&::oxGetAdapterDetails) oxGetAdapterDetails;
    decltype(&::oxFindAdapter) oxFindAdapter;
    decltype(&::oxDecodePacket) oxDecodePacket;
    decltype(&::oxGetPacketTime) oxGetPacketTime;
    decltype(&::oxDecodeName) oxDecodeName;
};

extern Api ox;

// Gives the library its initial state (reloads the DLL under Wine).
void loadLibraryFresh();
// Ends what a test left open and lets the library go.
void unloadLibrary();
