// The one process-wide record every export reads and changes.
#pragma once

#include <cstdint>

#include "frame/pcap_api.h"

namespace ondrix
{

constexpr int kTextSize = 260;      // dumpFileName and filterText, terminator included
constexpr int kErrorTextSize = 256; // PCAP_ERRBUF_SIZE: pcap writes into ErrorText directly
constexpr int kPathSize = 4096;     // a full path made from dumpFileName

struct CaptureSettings {
    int32_t snapLength = 65536;
    int32_t promiscuous = 1;
    char dumpFileName[kTextSize] = "Ondrixdump.cap";
    int32_t kernelBufferSize = 4096000;
    int32_t captureMode = 8;
    int32_t captureSource = 1001;
    char filterText[kTextSize] = "";
    // Dump-file rotation: a file's size limit in bytes, its time span in
    // seconds, and how many of a capture's files are kept; 0 is off.
    int32_t dumpFileSize = 0;
    int32_t dumpFileSeconds = 0;
    int32_t dumpFileCount = 0;
};

// The open dump file: when it was last written out, and where a rotating
// capture stands. Set by oxBegin from the settings of that moment.
struct DumpFileState {
    // From oxBegin to oxEnd of a disk-mode capture, also while a rotating one
    // has no file because the next could not be made.
    bool active = false;
    // What each disk delivery compares its packet's second with: the second
    // of the last write-out, or -1, which no second matches, while rotating.
    int64_t checkSecond = -1;
    int64_t writtenOutSecond = -1;
    bool lost = false; // a packet or a write-out was lost during this capture
    bool rotating = false;
    int32_t sizeLimit = 0, secondsLimit = 0, countLimit = 0;
    char name[kPathSize] = ""; // the full path the numbers go into
    uint64_t nextNumber = 0;   // the number the next file is tried with
    uint64_t bytes = 0;        // the current file's size, its header included
    bool hasPacket = false;
    uint32_t firstSecond = 0; // the current file's first packet's time
    int32_t firstMicroseconds = 0;
    // With a count set, the numbers of this capture's files on disk, oldest
    // first (others' files may lie between them); allocated, freed by oxEnd.
    uint64_t *own = nullptr;
    uint32_t ownCount = 0, ownCapacity = 0;
};

struct LibraryState {
    CaptureSettings settings;

    pcap_if_t *adapterList = nullptr;
    int32_t adapterCount = 0;
    pcap_if_t *currentAdapter = nullptr;
    int32_t currentIndex = -1;

    pcap_t *captureHandle = nullptr;
    pcap_dumper_t *dumpWriter = nullptr;
    DumpFileState dumpFile;
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
