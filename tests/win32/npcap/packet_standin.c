/* Stands in for Npcap's Packet.dll: the wpcap.dll stand-in calls into it, so
   that it can only load where Packet.dll is found beside it. */
__declspec(dllexport) const char *PacketGetVersion(void) { return "ONDRIX test stand-in"; }
