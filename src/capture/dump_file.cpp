// The dump file of a disk-mode capture. What the writer buffers goes out once
// a second while packets come and whenever a read finds none waiting, so a
// host that is killed leaves a file with all but its last second; never per
// packet, which would cost a write call each. Nothing is forced to the disk
// itself (no fsync): a power loss can still take what the system holds.
#include "capture/dump_file.h"

#include "frame/errors.h"
#include "platform/platform.h"

namespace ondrix::dumpFile
{

namespace
{

// Once lost, oxEnd reports it too.
void reportLoss()
{
    state.dumpFile.lost = true;
    setError(msg::DumpWriteFailed);
}

bool closeWriter(pcap_dumper_t *writer)
{
    const bool written = platform::flushDump(writer);
    pcap_dump_close(writer);
    return written;
}

} // namespace

bool open()
{
    state.dumpFile = DumpFileState{};
    state.dumpWriter = rotation::start()
                           ? rotation::openFile(state.dumpFile.firstNumber)
                           : platform::openDump(state.captureHandle, state.settings.dumpFileName);
    return state.dumpWriter != nullptr;
}

bool writeOut()
{
    if (platform::flushDump(state.dumpWriter))
        return true;
    reportLoss();
    return false;
}

int32_t appendSlow(const pcap_pkthdr *header, const u_char *data)
{
    DumpFileState &d = state.dumpFile;
    bool written = true;
    if (d.rotating && rotation::due(header)) {
        // The next file is made before the current one is closed: when it
        // can't be, the next call tries again, and this packet is lost. The
        // current one is closed before anything goes into the next (on Linux
        // they share a buffer).
        pcap_dumper_t *next = rotation::openFile(d.number + 1);
        if (!next) {
            setErrorText(pcap_geterr(state.captureHandle));
            return -1;
        }
        written = closeWriter(state.dumpWriter);
        state.dumpWriter = next;
        rotation::dropOldest();
        d.writtenOutSecond = -1; // the new file goes out with its first packet
    }
    pcap_dump(reinterpret_cast<u_char *>(state.dumpWriter), header, data);
    if (d.rotating)
        rotation::account(header);
    const int64_t second = static_cast<uint32_t>(header->ts.tv_sec);
    if (second != d.writtenOutSecond) {
        d.writtenOutSecond = second;
        if (!d.rotating)
            d.checkSecond = second;
        written = platform::flushDump(state.dumpWriter) && written;
    }
    if (written)
        return 1;
    reportLoss();
    return -1;
}

bool close()
{
    if (!state.dumpWriter)
        return true;
    const bool written = closeWriter(state.dumpWriter) && !state.dumpFile.lost;
    state.dumpWriter = nullptr;
    return written;
}

} // namespace ondrix::dumpFile
