// The entry routine: loading and unloading do no work of the library's own.
// A capture or adapter list still open at unload stays the host's to end.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
