// Dump-file rotation: the numbered names, the number a capture starts from,
// when a packet needs a new file, and which of the capture's files are kept.
#include <cstdio>
#include <cstring>

#include "capture/dump_file.h"
#include "platform/platform.h"

namespace ondrix::rotation
{

namespace
{

constexpr size_t kNameSize = kTextSize + 16; // the name set, "_" and the number
constexpr uint64_t kFileHeader = 24;
constexpr uint64_t kRecordHeader = 16; // before each packet's bytes

// Where the number goes: before the extension of the file's own name, or at
// the end when it has none (a leading dot does not start one).
size_t numberAt(const char *name)
{
    const char *file = platform::fileNamePart(name);
    const char *dot = std::strrchr(file, '.');
    return dot && dot != file ? static_cast<size_t>(dot - name) : std::strlen(name);
}

void numbered(uint32_t number, char (&out)[kNameSize])
{
    const char *name = state.dumpFile.name;
    const size_t at = numberAt(name);
    std::snprintf(out, sizeof out, "%.*s_%05u%s", static_cast<int>(at), name, number, name + at);
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Names differing in case count as the same, as they are on Windows.
bool sameName(const char *a, const char *b, size_t length)
{
    for (size_t i = 0; i < length; ++i)
        if (lower(a[i]) != lower(b[i]))
            return false;
    return true;
}

struct Highest {
    const char *stem, *extension;
    size_t stemLength, extensionLength;
    uint32_t number;
};

// Takes the number of an entry named <stem>_<5 to 9 digits><extension>.
void consider(const char *entry, void *context)
{
    Highest &h = *static_cast<Highest *>(context);
    const size_t length = std::strlen(entry);
    const size_t fixed = h.stemLength + 1 + h.extensionLength;
    if (length < fixed + 5 || length > fixed + 9 || !sameName(entry, h.stem, h.stemLength) ||
        entry[h.stemLength] != '_' ||
        !sameName(entry + length - h.extensionLength, h.extension, h.extensionLength))
        return;
    uint32_t number = 0;
    for (const char *d = entry + h.stemLength + 1; d < entry + length - h.extensionLength; ++d) {
        if (*d < '0' || *d > '9')
            return;
        number = number * 10 + static_cast<uint32_t>(*d - '0');
    }
    if (number > h.number)
        h.number = number;
}

} // namespace

bool start()
{
    DumpFileState &d = state.dumpFile;
    const CaptureSettings &s = state.settings;
    d.rotating = s.dumpFileSize > 0 || s.dumpFileSeconds > 0;
    if (!d.rotating)
        return false;
    d.sizeLimit = s.dumpFileSize;
    d.secondsLimit = s.dumpFileSeconds;
    d.countLimit = s.dumpFileCount;
    std::memcpy(d.name, s.dumpFileName, sizeof d.name);

    // A capture never overwrites an earlier one's files: it numbers on.
    const char *file = platform::fileNamePart(d.name);
    const size_t at = numberAt(d.name), folderLength = static_cast<size_t>(file - d.name);
    char folder[kTextSize];
    std::memcpy(folder, d.name, folderLength);
    folder[folderLength] = '\0';
    Highest h{file, d.name + at, at - folderLength, std::strlen(d.name + at), 0};
    platform::listFolder(folder, consider, &h);
    d.firstNumber = h.number + 1;
    return true;
}

bool due(const pcap_pkthdr *header)
{
    const DumpFileState &d = state.dumpFile;
    if (!d.hasPacket) // a file's first packet goes in, however large
        return false;
    if (d.sizeLimit > 0 && d.bytes + kRecordHeader + header->caplen > static_cast<uint64_t>(d.sizeLimit))
        return true;
    const int64_t age =
        int64_t{static_cast<int32_t>(static_cast<uint32_t>(header->ts.tv_sec) - d.firstSecond)} * 1000000 +
        (static_cast<int32_t>(header->ts.tv_usec) - d.firstMicroseconds);
    return d.secondsLimit > 0 && age >= int64_t{d.secondsLimit} * 1000000;
}

pcap_dumper_t *openFile(uint32_t number)
{
    char name[kNameSize];
    numbered(number, name);
    pcap_dumper_t *writer = platform::openDump(state.captureHandle, name);
    if (writer) {
        DumpFileState &d = state.dumpFile;
        d.number = number;
        d.bytes = kFileHeader;
        d.hasPacket = false;
    }
    return writer;
}

void account(const pcap_pkthdr *header)
{
    DumpFileState &d = state.dumpFile;
    if (!d.hasPacket) {
        d.hasPacket = true;
        d.firstSecond = static_cast<uint32_t>(header->ts.tv_sec);
        d.firstMicroseconds = static_cast<int32_t>(header->ts.tv_usec);
    }
    d.bytes += kRecordHeader + header->caplen;
}

void dropOldest()
{
    const DumpFileState &d = state.dumpFile;
    if (d.countLimit <= 0 || d.number - d.firstNumber < static_cast<uint32_t>(d.countLimit))
        return;
    char name[kNameSize];
    numbered(d.number - static_cast<uint32_t>(d.countLimit), name);
    platform::deleteFile(name); // one already gone is no failure of the capture
}

} // namespace ondrix::rotation
