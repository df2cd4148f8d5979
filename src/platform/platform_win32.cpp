// Windows: oleaut32, the ANSI code page, msvcrt's local time and the
// WinPcap-style driver buffer.
#include <ctime>

#include "platform/platform.h"

namespace ondrix::platform
{

BSTR allocAnsiString(const char *bytes, uint32_t len) { return SysAllocStringByteLen(bytes, len); }

void freeString(BSTR s) { SysFreeString(s); }

bool toAnsi(const OLECHAR *text, char *out, int outSize)
{
    if (!text)
        return false;
    return WideCharToMultiByte(CP_ACP, 0, text, -1, out, outSize, nullptr, nullptr) != 0;
}

bool localClock(int64_t seconds, int32_t *hour, int32_t *minute, int32_t *second)
{
    __time64_t t = seconds;
    struct tm tm;
    if (_localtime64_s(&tm, &t) != 0)
        return false;
    *hour = tm.tm_hour;
    *minute = tm.tm_min;
    *second = tm.tm_sec;
    return true;
}

pcap_t *openLive(const char *name, int32_t snapLength, int32_t promiscuous, int32_t timeoutMs,
                 int32_t bufferSize, char *errbuf, bool *bufferRefused)
{
    *bufferRefused = false;
    pcap_t *handle = pcap_open_live(name, snapLength, promiscuous, timeoutMs, errbuf);
    if (handle && bufferSize > 0 && pcap_setbuff(handle, bufferSize) < 0)
        *bufferRefused = true;
    return handle;
}

int setDriverBuffer(pcap_t *handle, int32_t bytes) { return pcap_setbuff(handle, bytes); }

int nextPacket(pcap_t *handle, pcap_pkthdr **header, const u_char **data, bool, int32_t)
{
    return pcap_next_ex(handle, header, data);
}

pcap_dumper_t *openDump(pcap_t *handle, const char *fileName) { return pcap_dump_open(handle, fileName); }

// The dump's FILE belongs to wpcap's C runtime, so only its own flush is asked.
bool flushDump(pcap_dumper_t *dumper) { return pcap_dump_flush(dumper) == 0; }

} // namespace ondrix::platform
