// Windows: oleaut32, the ANSI code page, msvcrt's local time, the
// WinPcap-style driver buffer, and kernel32's ANSI file calls for rotation.
#include <cstring>
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

// msvcrt decides daylight saving for the instant converted. Not
// _timezone, _dstbias or GetTimeZoneInformation's bias: those are the
// offsets of today, wrong for a packet from the other half of the year.
bool localTime(int64_t seconds, LocalTime *local)
{
    __time64_t t = seconds;
    struct tm tm;
    if (_localtime64_s(&tm, &t) != 0)
        return false;
    *local = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    return true;
}

// Npcap's driver hands a read over when its buffer holds "min to copy" bytes
// (16,000 by default) or when the time-out given to pcap_open_live passes, so
// a single packet on a quiet link would wait out the host's whole read
// time-out, and with 0 until more traffic came. The driver gets a short
// time-out instead, and awaitPacket keeps the host's by reading again until a
// packet comes or the host's time-out has passed. At high rates the buffer
// fills first and reads stay as batched as before; pcap_setmintocopy(0) would
// wake the reader for every packet instead (see docs/performance.md). Nothing
// beyond pcap_open_live and pcap_next_ex is needed, which WinPcap 4.1.3 has too.
constexpr int32_t kDriverTimeoutMs = 8;

pcap_t *openLive(const char *name, int32_t snapLength, int32_t promiscuous, int32_t timeoutMs,
                 int32_t bufferSize, char *errbuf, bool *bufferRefused)
{
    *bufferRefused = false;
    // The driver takes only -1 as "don't wait": any other negative value
    // would wait for 16,000 bytes or about 49 days. A shorter positive
    // time-out goes to it as it is.
    int32_t driverTimeoutMs = kDriverTimeoutMs;
    if (timeoutMs < 0)
        driverTimeoutMs = -1;
    else if (timeoutMs > 0 && timeoutMs < kDriverTimeoutMs)
        driverTimeoutMs = timeoutMs;
    pcap_t *handle = pcap_open_live(name, snapLength, promiscuous, driverTimeoutMs, errbuf);
    if (handle && bufferSize > 0 && pcap_setbuff(handle, bufferSize) < 0)
        *bufferRefused = true;
    return handle;
}

int setDriverBuffer(pcap_t *handle, int32_t bytes) { return pcap_setbuff(handle, bytes); }

int awaitPacket(pcap_t *handle, pcap_pkthdr **header, const u_char **data, int32_t readTimeoutMs)
{
    // Timed from the end of the first read: a call ends at most two driver
    // time-outs after the host's time-out, never before it. 0 waits for a packet.
    LARGE_INTEGER frequency, start, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    for (;;) {
        if (readTimeoutMs != 0) {
            QueryPerformanceCounter(&now);
            if ((now.QuadPart - start.QuadPart) * 1000 >= int64_t{readTimeoutMs} * frequency.QuadPart)
                return 0;
        }
        if (const int r = pcap_next_ex(handle, header, data); r != 0)
            return r;
    }
}

pcap_dumper_t *openDump(pcap_t *handle, const char *fileName) { return pcap_dump_open(handle, fileName); }

// The dump's FILE belongs to wpcap's C runtime, so only its own flush is asked.
bool flushDump(pcap_dumper_t *dumper) { return pcap_dump_flush(dumper) == 0; }

const char *fileNamePart(const char *path)
{
    // In a double-byte code page a separator's byte can also be the second
    // byte of a character.
    const char *part = path;
    for (const char *p = path; *p; ++p) {
        if (IsDBCSLeadByte(static_cast<BYTE>(*p)) && p[1])
            ++p;
        else if (*p == '\\' || *p == '/' || *p == ':')
            part = p + 1;
    }
    return part;
}

bool fullPath(const char *name, char *out, size_t outSize)
{
    const DWORD length = GetFullPathNameA(name, static_cast<DWORD>(outSize), out, nullptr);
    return length > 0 && length < outSize;
}

void listFolder(const char *folder, void (*found)(const char *name, void *context), void *context)
{
    char pattern[MAX_PATH + 2];
    const size_t length = std::strlen(folder);
    if (length + 2 > sizeof pattern)
        return;
    std::memcpy(pattern, folder, length);
    std::memcpy(pattern + length, "*", 2);
    WIN32_FIND_DATAA entry;
    HANDLE search = FindFirstFileA(pattern, &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do
        found(entry.cFileName, context);
    while (FindNextFileA(search, &entry));
    FindClose(search);
}

// NTFS ignores case for every letter, not only A to Z (Überwachung is
// überwachung): the system's ordinal comparison without case is its rule.
bool sameName(const char *a, const char *b, size_t length)
{
    if (length == 0)
        return true;
    if (length > MAX_PATH)
        return false;
    WCHAR wa[MAX_PATH], wb[MAX_PATH];
    const int na = MultiByteToWideChar(CP_ACP, 0, a, static_cast<int>(length), wa, MAX_PATH);
    const int nb = MultiByteToWideChar(CP_ACP, 0, b, static_cast<int>(length), wb, MAX_PATH);
    return na > 0 && nb > 0 && CompareStringOrdinal(wa, na, wb, nb, TRUE) == CSTR_EQUAL;
}

NewFile createNew(const char *path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        CloseHandle(file);
        return NewFile::Created;
    }
    switch (GetLastError()) {
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
        return NewFile::Exists;
    case ERROR_PATH_NOT_FOUND:
        return NewFile::NoFolder;
    default:
        return NewFile::Failed;
    }
}

bool deleteFile(const char *path)
{
    if (DeleteFileA(path))
        return true;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

} // namespace ondrix::platform
