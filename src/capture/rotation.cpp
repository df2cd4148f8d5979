// Dump-file rotation: the numbered names, made from a full path fixed at
// oxBegin; the number a capture starts from; when a packet needs a new file;
// each file created exclusively, so that no file of another capture or
// program is ever replaced; and which of this capture's own files are kept.
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "capture/dump_file.h"
#include "frame/errors.h"
#include "platform/platform.h"

namespace ondrix::rotation
{

namespace
{

constexpr size_t kNameSize = kPathSize + 16; // the full path, "_" and the number
constexpr uint64_t kFileHeader = 24;
constexpr uint64_t kRecordHeader = 16; // before each packet's bytes
// Names already taken (by another capture under the same name, or files the
// listing could not see) are passed over; this many in a row end the attempt.
constexpr int kTries = 1000;

// Where the number goes: before the extension of the file's own name, or at
// the end when it has none (a leading dot does not start one).
size_t numberAt(const char *name)
{
    const char *file = platform::fileNamePart(name);
    const char *dot = std::strrchr(file, '.');
    return dot && dot != file ? static_cast<size_t>(dot - name) : std::strlen(name);
}

void numbered(uint64_t number, char (&out)[kNameSize])
{
    const char *name = state.dumpFile.name;
    const size_t at = numberAt(name);
    std::snprintf(out, sizeof out, "%.*s_%05" PRIu64 "%s", static_cast<int>(at), name, number, name + at);
}

struct Highest {
    const char *stem, *extension;
    size_t stemLength, extensionLength;
    uint64_t number;
};

// Takes the number of an entry named <stem>_<5 to 10 digits><extension>.
void consider(const char *entry, void *context)
{
    Highest &h = *static_cast<Highest *>(context);
    const size_t length = std::strlen(entry);
    const size_t fixed = h.stemLength + 1 + h.extensionLength;
    if (length < fixed + 5 || length > fixed + 10 || !platform::sameName(entry, h.stem, h.stemLength) ||
        entry[h.stemLength] != '_' ||
        !platform::sameName(entry + length - h.extensionLength, h.extension, h.extensionLength))
        return;
    uint64_t number = 0;
    for (const char *d = entry + h.stemLength + 1; d < entry + length - h.extensionLength; ++d) {
        if (*d < '0' || *d > '9')
            return;
        number = number * 10 + static_cast<uint64_t>(*d - '0');
    }
    if (number > h.number)
        h.number = number;
}

// A head start: one above the highest number in the folder under this name.
uint64_t firstNumber()
{
    const char *name = state.dumpFile.name;
    const char *file = platform::fileNamePart(name);
    const size_t at = numberAt(name), folderLength = static_cast<size_t>(file - name);
    char folder[kPathSize];
    std::snprintf(folder, sizeof folder, "%.*s", static_cast<int>(folderLength), name);
    Highest h{file, name + at, at - folderLength, std::strlen(name + at), 0};
    platform::listFolder(folder, consider, &h);
    return h.number + 1;
}

// ErrorText: the dump file message, and what stands in the way.
void reportNotMade(const char *before, const char *path, size_t length, const char *after)
{
    char text[kErrorTextSize];
    std::snprintf(text, sizeof text, "%s (%s\"%.*s\"%s)", msg::DumpOpenFailed, before,
                  static_cast<int>(length), path, after);
    setErrorText(text);
}

void reportNoFolder(const char *path)
{
    const size_t length = static_cast<size_t>(platform::fileNamePart(path) - path);
    reportNotMade("the folder ", length ? path : ".", length ? length : 1, " does not exist");
}

void remember(uint64_t number)
{
    DumpFileState &d = state.dumpFile;
    if (d.ownCount == d.ownCapacity) {
        const uint32_t capacity = d.ownCapacity ? d.ownCapacity * 2 : 16;
        void *grown = std::realloc(d.own, capacity * sizeof *d.own);
        if (!grown)
            return; // the file is kept for good, never lost
        d.own = static_cast<uint64_t *>(grown);
        d.ownCapacity = capacity;
    }
    d.own[d.ownCount++] = number;
}

// Deletes this capture's oldest files until `keep` are left. One that can't
// be deleted (a viewer holds it open) stays listed, to be tried again at the
// next rotation and at oxEnd.
void deleteBeyond(uint32_t keep)
{
    DumpFileState &d = state.dumpFile;
    if (d.ownCount <= keep)
        return;
    const uint32_t excess = d.ownCount - keep;
    uint32_t left = 0;
    char name[kNameSize];
    for (uint32_t i = 0; i < excess; ++i) {
        numbered(d.own[i], name);
        if (!platform::deleteFile(name))
            d.own[left++] = d.own[i];
    }
    std::memmove(d.own + left, d.own + excess, (d.ownCount - excess) * sizeof *d.own);
    d.ownCount -= excess - left;
}

// Opens the writer on a file just created. It counts as made only once its
// header is on the disk; otherwise it is removed again.
bool openCreated(const char *name, uint64_t number)
{
    pcap_dumper_t *writer = platform::openDump(state.captureHandle, name);
    if (writer && platform::flushDump(writer)) {
        DumpFileState &d = state.dumpFile;
        state.dumpWriter = writer;
        d.bytes = kFileHeader;
        d.hasPacket = false;
        if (d.countLimit > 0)
            remember(number);
        return true;
    }
    if (writer) {
        pcap_dump_close(writer);
        setError(msg::DumpWriteFailed);
    } else {
        reportNotMade("", name, std::strlen(name), " can't be created");
    }
    platform::deleteFile(name);
    return false;
}

} // namespace

bool start()
{
    DumpFileState &d = state.dumpFile;
    const CaptureSettings &s = state.settings;
    d.sizeLimit = s.dumpFileSize;
    d.secondsLimit = s.dumpFileSeconds;
    d.countLimit = s.dumpFileCount;
    if (!platform::fullPath(s.dumpFileName, d.name, sizeof d.name)) {
        reportNoFolder(s.dumpFileName);
        return false;
    }
    d.nextNumber = firstNumber();
    return makeNext();
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

bool makeNext()
{
    DumpFileState &d = state.dumpFile;
    // Before the next file is made, so that a disk sized for count files is enough.
    if (d.countLimit > 0)
        deleteBeyond(static_cast<uint32_t>(d.countLimit) - 1);
    char name[kNameSize];
    for (int i = 0; i < kTries; ++i) {
        numbered(d.nextNumber, name);
        switch (platform::createNew(name)) {
        case platform::NewFile::Created: // the number is tried again when it is removed
            if (!openCreated(name, d.nextNumber))
                return false;
            ++d.nextNumber;
            return true;
        case platform::NewFile::Exists:
            ++d.nextNumber;
            break;
        case platform::NewFile::NoFolder:
            reportNoFolder(name);
            return false;
        case platform::NewFile::Failed:
            reportNotMade("", name, std::strlen(name), " can't be created");
            return false;
        }
    }
    reportNotMade("every name up to ", name, std::strlen(name), " exists already");
    return false;
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

void finish()
{
    DumpFileState &d = state.dumpFile;
    if (d.countLimit > 0)
        deleteBeyond(static_cast<uint32_t>(d.countLimit));
    std::free(d.own);
    d.own = nullptr;
    d.ownCount = d.ownCapacity = 0;
}

} // namespace ondrix::rotation
