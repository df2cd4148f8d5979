// The one process-wide record every export reads and changes.
#pragma once

#include <cstdint>

#include "platform/pcap_api.h"

namespace ondrix
{

constexpr int kTextSize = 260;      // dumpFileName and filterText, terminator included
constexpr int kErrorTextSize = 256; // PCAP_ERRBUF_SIZE: pcap writes into ErrorText directly

struct CaptureSettings {
    int32_t snapLength = 65536;
    int32_t promiscuous = 1;
    char dumpFileName[kTextSize] = "Ondrixdump.cap";
    int32_t kernelBufferSize = 4096000;
    int32_t captureMode = 8;
    int32_t captureSource = 1001;
    char filterText[kTextSize] = "";
};

struct LibraryState {
    CaptureSettings settings;

    pcap_if_t *adapterList = nullptr;
    int32_t adapterCount = 0;
    pcap_if_t *currentAdapter = nullptr;
    int32_t currentIndex = -1;

    pcap_t *captureHandle = nullptr;
    pcap_dumper_t *dumpWriter = nullptr;
    int32_t running = 0;
    // How the open capture is read: live adapters honour the read time-out.
    bool liveCapture = false;
    int32_t readTimeoutMs = 0;

    // The capture's pcap link type, read once when it begins.
    int32_t linkType = -1;
    // The packet last delivered, for oxDecodePacket: valid until the next
    // capture call or oxEnd, as pcap keeps its header and bytes that long;
    // none when header is null. Only pointers are stored: storing the length
    // would make every delivery read pcap's header again after it.
    struct {
        const pcap_pkthdr *header = nullptr;
        const uint8_t *data = nullptr;
    } delivered;

    char errorText[kErrorTextSize] = {};

    // Local clock of the last packet's second: the zone is read once per
    // process, so the same second always gives the same clock.
    // Seconds are kept wider than a timestamp's 32 bits, so that "none yet"
    // needs no flag of its own and the check stays one compare.
    static constexpr uint64_t kNoSecond = UINT64_MAX;
    struct {
        uint64_t seconds = kNoSecond;
        int32_t hour = 0, minute = 0, second = 0;
    } clock;
};

// Constant-initialised: nothing runs at load.
extern LibraryState state;

} // namespace ondrix
