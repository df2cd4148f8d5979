// POSIX stand-ins for the Windows operations, over libpcap and glibc.
#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/platform.h"

namespace ondrix::platform
{

BSTR allocAnsiString(const char *bytes, uint32_t len) { return SysAllocStringByteLen(bytes, len); }

void freeString(BSTR s) { SysFreeString(s); }

namespace
{

// Windows-1252 stands in for the ANSI code page; //TRANSLIT gives a similar
// character, or '?', for one it lacks, as WideCharToMultiByte does.
class Converter
{
  public:
    Converter() : cd_(iconv_open("WINDOWS-1252//TRANSLIT", "UTF-16LE")) {}
    ~Converter()
    {
        if (ok())
            iconv_close(cd_);
    }
    Converter(const Converter &) = delete;
    Converter &operator=(const Converter &) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

  private:
    iconv_t cd_;
};

} // namespace

bool toAnsi(const OLECHAR *text, char *out, int outSize)
{
    if (!text || outSize < 1)
        return false;
    size_t chars = 0;
    while (text[chars])
        ++chars;

    Converter conv;
    if (!conv.ok())
        return false;
    char *in = const_cast<char *>(reinterpret_cast<const char *>(text));
    size_t inLeft = chars * 2;
    char *dst = out;
    size_t outLeft = static_cast<size_t>(outSize) - 1; // room for the terminator
    while (inLeft > 0) {
        if (iconv(conv.get(), &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1))
            break;
        if (errno == E2BIG || outLeft == 0)
            return false;
        // A lone surrogate or another unit iconv can't take: '?' as Windows does.
        *dst++ = '?';
        --outLeft;
        size_t skip = inLeft < 2 ? inLeft : 2;
        in += skip;
        inLeft -= skip;
    }
    *dst = '\0';
    return true;
}

bool localTime(int64_t seconds, LocalTime *local)
{
    time_t t = static_cast<time_t>(seconds);
    struct tm tm;
    if (!localtime_r(&t, &tm))
        return false;
    *local = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    return true;
}

// libpcap's ring on Linux hands packets over a block at a time: a block is
// retired when it is full or when the time-out given to libpcap passes, and
// only then wakes poll() and becomes readable. The host's read time-out (up
// to "for ever") is kept by the reads themselves, so libpcap gets a short one
// that bounds how long a packet can sit in an unretired block: the kernel's
// own default for a link of unknown speed. At high rates blocks fill before
// it passes, and a capture is as cheap as with a long one; immediate mode,
// which hands over every packet singly, costs far more there and holds only
// a few dozen packets when the snap length is large (see docs/performance.md).
constexpr int32_t kBlockTimeoutMs = 8;

pcap_t *openLive(const char *name, int32_t snapLength, int32_t promiscuous, int32_t timeoutMs,
                 int32_t bufferSize, char *errbuf, bool *bufferRefused)
{
    *bufferRefused = false;
    pcap_t *handle = pcap_create(name, errbuf);
    if (!handle)
        return nullptr;
    // A host that asks for a shorter read time-out gets blocks retired as soon.
    const int32_t blockTimeoutMs = timeoutMs > 0 && timeoutMs < kBlockTimeoutMs ? timeoutMs : kBlockTimeoutMs;
    // pcap_open_live fails when one of these is refused; a capture opened
    // without the asked-for settings must not pass for a successful start.
    if (pcap_set_snaplen(handle, snapLength) != 0 || pcap_set_promisc(handle, promiscuous) != 0 ||
        pcap_set_timeout(handle, blockTimeoutMs) != 0) {
        pcap_close(handle);
        return nullptr;
    }
    // libpcap can size the buffer only before activation, not after.
    if (bufferSize > 0 && pcap_set_buffer_size(handle, bufferSize) != 0)
        *bufferRefused = true;
    if (pcap_activate(handle) < 0) {
        pcap_close(handle);
        return nullptr;
    }
    // A blocking read on an idle Linux interface never returns, whatever the
    // time-out, so reads poll the handle for the host's time-out themselves.
    if (pcap_setnonblock(handle, 1, errbuf) < 0) {
        pcap_close(handle);
        return nullptr;
    }
    return handle;
}

int setDriverBuffer(pcap_t *, int32_t) { return -1; }

namespace
{

int64_t nowNs()
{
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

} // namespace

int awaitPacket(pcap_t *handle, pcap_pkthdr **header, const u_char **data, int32_t readTimeoutMs)
{
    int fd = pcap_get_selectable_fd(handle);
    if (fd < 0)
        return 0;
    // A time-out of 0 waits until a packet comes.
    const int64_t deadline = readTimeoutMs == 0 ? 0 : nowNs() + int64_t{readTimeoutMs} * 1000000;
    for (;;) {
        int waitMs = -1;
        if (readTimeoutMs != 0) {
            const int64_t left = deadline - nowNs();
            if (left <= 0)
                return 0;
            waitMs = static_cast<int>((left + 999999) / 1000000);
        }
        // A signal ends the wait like the time-out would; the host simply calls again.
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, waitMs) <= 0)
            return 0;
        const int r = pcap_next_ex(handle, header, data);
        // The socket also wakes for what libpcap then drops (the outgoing
        // copy of a frame on loopback, a packet its own filter refuses): such
        // a read waits on for the rest of its time-out. An error state (the
        // adapter removed) ends the wait with that read's result: libpcap's
        // failure with its reason, or nothing, which is left to the host's
        // next call rather than spun on here.
        if (r != 0 || p.revents != POLLIN)
            return r;
    }
}

pcap_dumper_t *openDump(pcap_t *handle, const char *fileName)
{
    // pcap_dump_open's default stdio buffer (4 KiB) costs a write call every
    // 50 or so small packets, half the cost of a disk capture. The file is
    // still made by pcap_dump_open ("-" is stdout, the file is replaced, the
    // header is written); its header is then written out and the stream given
    // a 1 MiB buffer, which glibc allows once the stream is flushed. A
    // rotation closes the writer it replaces before it opens the next, so the
    // two can share the buffer. Never freed: a host that exits without oxEnd
    // still has it flushed by exit().
    static char buffer[1 << 20];
    pcap_dumper_t *dumper = pcap_dump_open(handle, fileName);
    FILE *file = dumper ? pcap_dump_file(dumper) : nullptr;
    // A failed header write leaves the stream's error flag set for the next write-out to report.
    if (file && file != stdout && std::fflush(file) == 0)
        std::setvbuf(file, buffer, _IOFBF, sizeof buffer);
    return dumper;
}

bool flushDump(pcap_dumper_t *dumper)
{
    // An earlier buffered write may have failed although this flush succeeds.
    // Each loss is reported once, so that a later write-out that loses
    // nothing succeeds.
    const bool flushed = pcap_dump_flush(dumper) == 0;
    FILE *file = pcap_dump_file(dumper);
    const bool written = flushed && !ferror(file);
    clearerr(file);
    return written;
}

const char *fileNamePart(const char *path)
{
    const char *slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

bool fullPath(const char *name, char *out, size_t outSize)
{
    // The folder's real path: it must exist; the file need not yet.
    const char *file = fileNamePart(name);
    char folder[kPathSize];
    const int folderLength = static_cast<int>(file - name);
    std::snprintf(folder, sizeof folder, "%.*s", folderLength ? folderLength : 1, folderLength ? name : ".");
    char *real = realpath(folder, nullptr);
    if (!real)
        return false;
    const bool isRoot = real[0] == '/' && real[1] == '\0';
    const int length = std::snprintf(out, outSize, "%s/%s", isRoot ? "" : real, file);
    std::free(real);
    return length > 0 && static_cast<size_t>(length) < outSize;
}

void listFolder(const char *folder, void (*found)(const char *name, void *context), void *context)
{
    DIR *dir = opendir(folder[0] ? folder : ".");
    if (!dir)
        return;
    while (const dirent *entry = readdir(dir))
        found(entry->d_name, context);
    closedir(dir);
}

// Linux folders tell case apart, but a name that differs only in an ASCII
// letter's case counts as taken too: the listing is only a head start.
bool sameName(const char *a, const char *b, size_t length) { return strncasecmp(a, b, length) == 0; }

NewFile createNew(const char *path)
{
    const int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
        close(fd);
        return NewFile::Created;
    }
    return errno == EEXIST ? NewFile::Exists : errno == ENOENT ? NewFile::NoFolder : NewFile::Failed;
}

bool deleteFile(const char *path) { return unlink(path) == 0 || errno == ENOENT; }

} // namespace ondrix::platform
