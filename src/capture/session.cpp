// Starting and ending a capture: oxBegin, oxEnd, oxSetKernelBuffSize, and
// the capture's counters, oxGetStats.
#include <cstring>

#include "capture/dump_file.h"
#include "frame/errors.h"
#include "frame/state.h"
#include "ondrix.h"
#include "platform/platform.h"

using namespace ondrix;

namespace
{

// Bytes 4 to 7 of the first address's netmask as stored (an IPv4 mask in
// network order), else 255.255.255.0.
bpf_u_int32 filterNetmask()
{
    bpf_u_int32 mask = 0x00FFFFFFu;
    const pcap_if_t *dev = state.currentAdapter;
    if (dev && dev->addresses && dev->addresses->netmask)
        std::memcpy(&mask, reinterpret_cast<const char *>(dev->addresses->netmask) + 4, sizeof mask);
    return mask;
}

int applyFilter(const char *text)
{
    if (!state.captureHandle) {
        setError(msg::NotReady);
        return -1;
    }
    bpf_program program{};
    if (pcap_compile(state.captureHandle, &program, text, 1, filterNetmask()) < 0) {
        setErrorText(pcap_geterr(state.captureHandle));
        return -1;
    }
    int installed = pcap_setfilter(state.captureHandle, &program);
    if (installed < 0)
        setErrorText(pcap_geterr(state.captureHandle));
    pcap_freecode(&program);
    return installed < 0 ? -1 : 0;
}

// Closes whatever is open; false when dump data could not be written.
bool closeCapture()
{
    state.delivered.header = nullptr; // its bytes belong to the handle
    const bool written = dumpFile::close();
    if (state.captureHandle) {
        pcap_close(state.captureHandle);
        state.captureHandle = nullptr;
    }
    return written;
}

int openLive(int32_t timeoutMs)
{
    const CaptureSettings &s = state.settings;
    if (!state.currentAdapter) {
        setError(msg::NotReady);
        return -1;
    }
    bool bufferRefused = false;
    state.captureHandle = platform::openLive(state.currentAdapter->name, s.snapLength, s.promiscuous,
                                             timeoutMs, s.kernelBufferSize, state.errorText, &bufferRefused);
    if (!state.captureHandle) {
        setError(msg::OpenFailed);
        return -1;
    }
    if (bufferRefused)
        setError(msg::KernelBufferFailed); // not fatal: the driver keeps its default
    if (s.captureMode == ModeDisk) {
        if (!dumpFile::open()) {
            closeCapture();
            return -1;
        }
    }
    state.liveCapture = true;
    state.readTimeoutMs = timeoutMs;
    return 0;
}

int openSavedFile()
{
    state.captureHandle = pcap_open_offline(state.settings.dumpFileName, state.errorText);
    if (!state.captureHandle) {
        setError(msg::DumpOpenFailed);
        return -1;
    }
    // A saved file is always copied out; the mode stays so after the capture.
    state.settings.captureMode = ModeCopy;
    state.liveCapture = false;
    return 0;
}

} // namespace

extern "C" int32_t ONDRIX_CALL oxBegin(int32_t timeoutMs)
{
    if (state.running) {
        setError(msg::NotReady);
        return -1;
    }
    int opened = state.settings.captureSource == SourceFile ? openSavedFile() : openLive(timeoutMs);
    if (opened < 0)
        return -1;
    if (state.settings.filterText[0] != '\0' && applyFilter(state.settings.filterText) < 0) {
        closeCapture();
        return -1;
    }
    state.linkType = pcap_datalink(state.captureHandle);
    state.running = 1;
    return 0;
}

extern "C" int32_t ONDRIX_CALL oxEnd(void)
{
    bool written = closeCapture();
    state.running = 0;
    if (!written) {
        setError(msg::DumpWriteFailed);
        return -1;
    }
    return 0;
}

extern "C" int32_t ONDRIX_CALL oxSetKernelBuffSize(int32_t bytes)
{
    if (!state.captureHandle) {
        setError(msg::NotReady);
        return -1;
    }
    return platform::setDriverBuffer(state.captureHandle, bytes) >= 0 ? 0 : -1;
}

extern "C" int32_t ONDRIX_CALL oxGetStats(CaptureStatsRecord *stats)
{
    if (!recordGiven(stats))
        return -1;
    if (!state.captureHandle) {
        setError(msg::NotReady);
        return -1;
    }
    // Windows' pcap.h adds fields that only remote captures fill: zeroed, never read.
    pcap_stat counters{};
    if (pcap_stats(state.captureHandle, &counters) < 0) {
        setErrorText(pcap_geterr(state.captureHandle));
        return -1;
    }
    stats->received = static_cast<int32_t>(counters.ps_recv);
    stats->dropped = static_cast<int32_t>(counters.ps_drop);
    stats->interfaceDropped = static_cast<int32_t>(counters.ps_ifdrop);
    return 0;
}
