/* Stands in for Npcap's Packet.dll: the wpcap.dll stand-in calls into it, so
   that it can only load where a Packet.dll is found. It answers with the file
   it was loaded from. */
#include <windows.h>

static char own[MAX_PATH] = "?";

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        GetModuleFileNameA(instance, own, MAX_PATH);
    return TRUE;
}

__declspec(dllexport) const char *PacketGetVersion(void) { return own; }
