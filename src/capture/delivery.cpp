// Packet delivery in the three modes, and sending.
#include <climits>
#include <cstring>

#include "capture/dump_file.h"
#include "frame/errors.h"
#include "frame/state.h"
#include "ondrix.h"
#include "platform/platform.h"

using namespace ondrix;

namespace
{

// No packet counts as delivered after a capture call that returns 0 or -1.
// Every such path after a packet was taken must call this.
void forgetDelivered() { state.delivered.header = nullptr; }

// Two stores: oxDecodePacket reads the packet from the library's own
// pointer, whatever the host's array holds.
inline void rememberDelivered(const pcap_pkthdr *header, const u_char *data)
{
    state.delivered.header = header;
    state.delivered.data = data;
}

// A live read that fails says why; the end of a saved file (-2) does not.
int readFailed(int r)
{
    if (r == -1 && state.liveCapture)
        setErrorText(pcap_geterr(state.captureHandle));
    return -1;
}

// What follows a read that found no packet: a read for the dump file writes
// out what the writer holds first; only a live read that found nothing
// waits, and not with a negative time-out; a saved file never finds
// nothing. Out of line, so that the path of a packet found stays a compare.
template <bool ToDisk>
__attribute__((noinline)) int afterNoPacket(int r, pcap_pkthdr **header, const u_char **data)
{
    if constexpr (ToDisk)
        if (r == 0 && !dumpFile::writeOut()) {
            forgetDelivered();
            return -1;
        }
    if (r == 0 && state.liveCapture && state.readTimeoutMs >= 0)
        r = platform::awaitPacket(state.captureHandle, header, data, state.readTimeoutMs);
    if (r != 1) {
        forgetDelivered();
        return r < 0 ? readFailed(r) : r;
    }
    rememberDelivered(*header, *data);
    return 1;
}

// Inlined into every delivery: out of line it cost a call of some twenty
// instructions a packet, which the compiler's own judgement (-O2) left there.
template <bool ToDisk = false>
[[gnu::always_inline]] inline int takePacket(pcap_pkthdr **header, const u_char **data)
{
    int r = pcap_next_ex(state.captureHandle, header, data);
    if (r == 1) [[likely]] {
        rememberDelivered(*header, *data);
        return 1;
    }
    return afterNoPacket<ToDisk>(r, header, data);
}

// Converts a second not seen last time. Kept out of line, so that the
// per-packet path, where packets share their second, stays a compare.
__attribute__((noinline)) void convertClock(uint32_t seconds)
{
    auto &c = state.clock;
    platform::LocalTime local{};
    if (!platform::localTime(seconds, &local))
        local = {};
    c.seconds = seconds;
    c.hour = local.hour;
    c.minute = local.minute;
    c.second = local.second;
}

inline void fillHeader(PacketHeaderRecord *record, const pcap_pkthdr *h)
{
    // Of a wider seconds field only the low 32 bits count, read as unsigned.
    uint32_t seconds = static_cast<uint32_t>(h->ts.tv_sec);
    const auto &c = state.clock;
    if (c.seconds != seconds) [[unlikely]]
        convertClock(seconds);
    record->capturedLength = static_cast<int32_t>(h->caplen);
    record->wireLength = static_cast<int32_t>(h->len);
    record->hour = c.hour;
    record->minute = c.minute;
    record->second = c.second;
    record->microseconds = static_cast<int32_t>(h->ts.tv_usec);
}

// An array never given a size has no descriptor, and a C host may pass no
// array variable at all; refuse either before a packet is taken, so that
// none is lost.
bool hasDescriptor(SAFEARRAY **array)
{
    if (array && *array)
        return true;
    forgetDelivered();
    setError(msg::BufferTooSmall);
    return false;
}

// The same for a header record a C host passed as a null pointer.
bool hasRecord(const PacketHeaderRecord *header)
{
    if (recordGiven(header))
        return true;
    forgetDelivered();
    return false;
}

bool requireRunning()
{
    if (state.running)
        return true;
    setError(msg::NotReady);
    return false;
}

void pointAt(SAFEARRAY *sa, const u_char *data, uint32_t count)
{
    platform::lockArray(sa);
    sa->rgsabound[0].cElements = count;
    sa->pvData = const_cast<u_char *>(data);
    platform::unlockArray(sa);
}

// An empty packet copies nothing: an array of no elements may have no data
// pointer at all, and memcpy must not see a null one even for 0 bytes.
void copyBytes(void *to, const u_char *from, uint32_t length)
{
    if (length)
        std::memcpy(to, from, length);
}

void copyInto(SAFEARRAY *sa, const u_char *data, uint32_t length)
{
    platform::lockArray(sa);
    copyBytes(sa->pvData, data, length);
    platform::unlockArray(sa);
}

// Disk mode: a packet in the second of the last write-out is only appended;
// the first of another second, and every packet of a rotating capture, go
// out of line. Inlined into both disk exports, as a call would cost more
// than the write-out check itself.
[[gnu::always_inline]] inline int32_t deliverToDisk(PacketHeaderRecord *header)
{
    pcap_pkthdr *h;
    const u_char *data;
    int r = takePacket<true>(&h, &data);
    if (r <= 0)
        return r;
    fillHeader(header, h);
    if (int64_t{static_cast<uint32_t>(h->ts.tv_sec)} != state.dumpFile.checkSecond) [[unlikely]] {
        const int32_t r = dumpFile::appendSlow(h, data);
        if (r < 0)
            forgetDelivered();
        return r;
    }
    pcap_dump(reinterpret_cast<u_char *>(state.dumpWriter), h, data);
    return 1;
}

} // namespace

extern "C" int32_t ONDRIX_CALL oxCapture(SAFEARRAY **array, PacketHeaderRecord *header)
{
    if (!hasRecord(header) || !requireRunning())
        return -1;
    const int32_t mode = state.settings.captureMode;
    if (mode == ModeDisk) {
        if (!state.dumpFile.active) { // switched to disk after the capture began
            forgetDelivered();
            setError(msg::NotReady);
            return -1;
        }
        return deliverToDisk(header);
    }
    if (!hasDescriptor(array))
        return -1;
    pcap_pkthdr *h;
    const u_char *data;
    int r = takePacket(&h, &data);
    if (r <= 0)
        return r;
    fillHeader(header, h);
    if (mode == ModeAlias) {
        pointAt(*array, data, h->caplen);
    } else {
        SAFEARRAY *sa = *array;
        if (sa->rgsabound[0].cElements < h->caplen) {
            forgetDelivered();
            setError(msg::BufferTooSmall);
            return -1;
        }
        copyInto(sa, data, h->caplen);
    }
    return 1;
}

extern "C" int32_t ONDRIX_CALL oxCaptureMem(SAFEARRAY **array, PacketHeaderRecord *header)
{
    if (!hasRecord(header) || !requireRunning() || !hasDescriptor(array))
        return -1;
    pcap_pkthdr *h;
    const u_char *data;
    int r = takePacket(&h, &data);
    if (r <= 0)
        return r;
    fillHeader(header, h);
    // One more than the packet: VB hosts read UBound as its length.
    pointAt(*array, data, h->caplen + 1);
    return 1;
}

extern "C" int32_t ONDRIX_CALL oxCaptureMemSafe(SAFEARRAY **array)
{
    if (!requireRunning() || !hasDescriptor(array))
        return -1;
    pcap_pkthdr *h;
    const u_char *data;
    int r = takePacket(&h, &data);
    if (r <= 0)
        return r;
    SAFEARRAY *sa = *array;
    platform::lockArray(sa);
    if (sa->rgsabound[0].cElements < uint64_t{h->caplen} + 1) {
        forgetDelivered();
        setError(msg::BufferTooSmall);
        platform::unlockArray(sa);
        return -1;
    }
    copyBytes(sa->pvData, data, h->caplen);
    platform::unlockArray(sa);
    return 1;
}

extern "C" int32_t ONDRIX_CALL oxCaptureDiskSafe(PacketHeaderRecord *header)
{
    if (!hasRecord(header))
        return -1;
    if (!state.dumpFile.active) { // a live disk-mode capture, also between rotated files
        forgetDelivered();
        setError(msg::NotReady);
        return -1;
    }
    return deliverToDisk(header);
}

extern "C" int32_t ONDRIX_CALL oxSendPacket(SAFEARRAY **array)
{
    if (!state.captureHandle) {
        setError(msg::NotReady);
        return -1;
    }
    // Not a capture call: the packet last delivered stays so.
    if (!array || !*array) {
        setError(msg::BufferTooSmall);
        return -1;
    }
    const SAFEARRAY *sa = *array;
    uint32_t count = sa->rgsabound[0].cElements;
    if (count > INT_MAX)
        return -1;
    return pcap_sendpacket(state.captureHandle, static_cast<const u_char *>(sa->pvData),
                           static_cast<int>(count)) == 0
               ? 0
               : -1;
}
