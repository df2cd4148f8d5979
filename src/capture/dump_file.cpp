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
    DumpFileState &d = state.dumpFile;
    d = DumpFileState{};
    const CaptureSettings &s = state.settings;
    d.rotating = s.dumpFileSize > 0 || s.dumpFileSeconds > 0;
    if (d.rotating) {
        d.active = rotation::start();
    } else {
        state.dumpWriter = platform::openDump(state.captureHandle, s.dumpFileName);
        d.active = state.dumpWriter != nullptr;
        if (!d.active)
            setError(msg::DumpOpenFailed);
    }
    return d.active;
}

bool writeOut()
{
    // A rotating capture whose next file could not be made has nothing to write.
    if (!state.dumpWriter || platform::flushDump(state.dumpWriter))
        return true;
    reportLoss();
    return false;
}

int32_t appendSlow(const pcap_pkthdr *header, const u_char *data)
{
    DumpFileState &d = state.dumpFile;
    bool written = true;
    if (d.rotating && (!state.dumpWriter || rotation::due(header))) {
        // The current file is closed first: the count may delete it (a
        // count of 1), and on Linux the two writers share a buffer. When the
        // next can't be made, this packet is lost, and the next one tries again.
        if (state.dumpWriter) {
            written = closeWriter(state.dumpWriter);
            state.dumpWriter = nullptr;
        }
        if (!rotation::makeNext()) {
            d.lost = true;
            return -1;
        }
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
    DumpFileState &d = state.dumpFile;
    if (!d.active)
        return true;
    bool written = !d.lost;
    if (state.dumpWriter) {
        written = closeWriter(state.dumpWriter) && written;
        state.dumpWriter = nullptr;
    }
    if (d.rotating)
        rotation::finish();
    d.active = false;
    return written;
}

} // namespace ondrix::dumpFile
