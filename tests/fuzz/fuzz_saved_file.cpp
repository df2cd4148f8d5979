// Saved-file reading with the real libpcap: the input is the file. oxBegin
// opens it as a SourceFile capture, then the capture exports take turns
// until one returns -1 (bounded). Covers truncated files, huge or
// inconsistent lengths, unknown link types, pcapng and byte-swapped headers.
// Inputs whose size is a multiple of 3 also get a filter, so compiling for
// whatever link type the file claims is exercised too. The first packets'
// names are also read from every cut of them.
#include <sys/mman.h>
#include <unistd.h>

#include <vector>

#include "decode/name.h"
#include "fuzz_support.h"
#include "ondrix.h"

using namespace ondrix;

namespace
{

struct HostArray {
    SAFEARRAY sa{};
    std::vector<uint8_t> own;
    SAFEARRAY *var = &sa;

    explicit HostArray(uint32_t count) : own(count ? count : 1, 0xEE)
    {
        sa.cDims = 1;
        sa.cbElements = 1;
        restore(count);
    }
    // What a careful host does after an aliasing delivery: take its own
    // buffer back before the next read invalidates the packet.
    void restore(uint32_t count)
    {
        sa.pvData = own.data();
        sa.rgsabound[0].cElements = count;
    }
};

// Reads every byte the host was given, so ASan sees any short buffer.
uint32_t touch(const void *p, uint32_t n)
{
    uint32_t sum = 0;
    for (uint32_t i = 0; i < n; ++i)
        sum += static_cast<const uint8_t *>(p)[i];
    return sum;
}

int memfdWith(const uint8_t *data, size_t size)
{
    int fd = memfd_create("ondrix-fuzz", 0);
    FUZZ_CHECK(fd >= 0);
    for (size_t done = 0; done < size;) {
        ssize_t n = write(fd, data + done, size - done);
        FUZZ_CHECK(n > 0);
        done += static_cast<size_t>(n);
    }
    return fd;
}

void setText(int32_t code, const char *text)
{
    std::vector<OLECHAR> wide(text, text + std::strlen(text));
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = SysAllocStringLen(wide.data(), static_cast<uint32_t>(wide.size()));
    FUZZ_CHECK(oxSetParam(code, &v) == 0);
    SysFreeString(V_BSTR(&v));
}

void setInt(int32_t code, int32_t value)
{
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = value;
    FUZZ_CHECK(oxSetParam(code, &v) == 0);
}

// Each cut in exactly its bytes, so that ASan sees a read past it; the name
// fits its record and is printable ASCII whatever the bytes were.
void nameAtEveryCut(const uint8_t *data, uint32_t caplen)
{
    for (uint32_t cut = 0; cut <= caplen && cut <= 2048; ++cut) {
        std::vector<uint8_t> bytes(data, data + cut);
        PacketNameRecord n;
        const int32_t named = decode::decodeName(bytes.data(), cut, state.linkType, &n);
        const size_t length = strnlen(n.name, sizeof n.name);
        FUZZ_CHECK(named == (n.kind != 0) && n.kind <= 4 && length == size_t(n.length) && !named == !length);
        for (size_t i = 0; i < sizeof n.name; ++i)
            FUZZ_CHECK(i < length ? n.name[i] >= 0x20 && n.name[i] < 0x7F : n.name[i] == 0);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    state = LibraryState{};
    int fd = memfdWith(data, size);
    char name[64];
    std::snprintf(name, sizeof name, "/proc/self/fd/%d", fd);
    setText(ParamDumpFileName, name);
    setInt(ParamCaptureSource, SourceFile);
    setInt(ParamCaptureMode, ModeDisk); // a saved file never opens a dump
    if (size % 3 == 0)
        setText(ParamFilter, "ip or arp or len > 0");

    if (oxBegin(100) == 0) {
        FUZZ_CHECK(state.running == 1 && state.captureHandle && !state.dumpWriter);
        FUZZ_CHECK(state.settings.captureMode == ModeCopy);
        HostArray small(60), large(262145);
        PacketHeaderRecord hdr;
        int cutsLeft = 8;
        for (int call = 0; call < 4096; ++call) {
            HostArray &arr = (call / 5) % 2 ? large : small;
            const uint32_t count = arr.sa.rgsabound[0].cElements;
            std::memset(&hdr, 0x5A, sizeof hdr);
            state.errorText[0] = '\0'; // so a read failure shows as an untouched text
            int32_t r;
            switch (call % 5) {
            case 0: // copy, as the saved-file start chose
                r = oxCapture(&arr.var, &hdr);
                if (r == 1)
                    FUZZ_CHECK(hdr.capturedLength >= 0 && static_cast<uint32_t>(hdr.capturedLength) <= count);
                break;
            case 1: // the host switches to aliasing mid-file
                state.settings.captureMode = ModeAlias;
                r = oxCapture(&arr.var, &hdr);
                state.settings.captureMode = ModeCopy;
                if (r == 1) {
                    FUZZ_CHECK(arr.sa.rgsabound[0].cElements == static_cast<uint32_t>(hdr.capturedLength));
                    touch(arr.sa.pvData, arr.sa.rgsabound[0].cElements);
                }
                arr.restore(count);
                break;
            case 2:
                r = oxCaptureMem(&arr.var, &hdr);
                if (r == 1) {
                    // One more than the packet; the last element is not its.
                    FUZZ_CHECK(arr.sa.rgsabound[0].cElements ==
                               static_cast<uint32_t>(hdr.capturedLength) + 1);
                    touch(arr.sa.pvData, arr.sa.rgsabound[0].cElements - 1);
                }
                arr.restore(count);
                break;
            case 3:
                r = oxCaptureMemSafe(&arr.var);
                FUZZ_CHECK(arr.sa.rgsabound[0].cElements == count);
                break;
            default:
                FUZZ_CHECK(oxCaptureDiskSafe(&hdr) == -1);  // no dump writer
                FUZZ_CHECK(oxSendPacket(&small.var) == -1); // a file can't send
                state.errorText[0] = '\0';
                r = oxCapture(&arr.var, &hdr);
                break;
            }
            FUZZ_CHECK(r == -1 || r == 0 || r == 1);
            FUZZ_CHECK(small.sa.cLocks == 0 && large.sa.cLocks == 0);
            if (r == 1 && call % 5 != 3) // oxCaptureMemSafe fills no header
                FUZZ_CHECK(hdr.hour >= 0 && hdr.hour <= 23 && hdr.minute >= 0 && hdr.minute <= 59);
            if (r != -1)
                FUZZ_CHECK(state.errorText[0] == '\0'); // a delivery writes no text
            // A too-short array loses one packet and reading goes on; any
            // other -1 is the end of the file or a damaged record, and
            // leaves ErrorText alone.
            if (r == -1 && state.errorText[0] == '\0')
                break;
            if (r == -1)
                FUZZ_CHECK(std::strcmp(state.errorText, "Buffer to small") == 0);
            // Whatever link type the file claims, the packet is decoded
            // within its bytes; only a call that returned 1 delivered one.
            PacketSummaryRecord summary;
            FUZZ_CHECK(oxDecodePacket(&summary) == (r == 1 ? 0 : -1));
            PacketNameRecord name;
            const int32_t named = oxDecodeName(&name);
            FUZZ_CHECK(r == 1 ? named == (name.kind != 0) : named == -1);
            if (r == 1 && cutsLeft-- > 0)
                nameAtEveryCut(state.delivered.data, state.delivered.header->caplen);
        }
    }
    FUZZ_CHECK(oxEnd() == 0);
    FUZZ_CHECK(state.running == 0 && !state.captureHandle && !state.dumpWriter);
    close(fd);
    return 0;
}
