// Arbitrary sequences of the exports with arbitrary arguments against the
// pcap double, which the same input scripts: adapter list, failing calls,
// answers, and packets. After every call: no crash, every host array's lock
// count back where it was, nothing open in the double beyond what the state
// holds, and the state consistent. At the end everything is released.
//
// Input: a script header (adapters, failures, answers), then operations of
// one selector byte each and their arguments; see readScript and the switch.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fake_pcap.h"
#include "fuzz_support.h"
#include "ondrix.h"

using namespace ondrix;

namespace
{

const char *const kFailable[] = {
    "pcap_findalldevs",  "pcap_create",          "pcap_set_snaplen", "pcap_set_promisc",
    "pcap_set_timeout",  "pcap_set_buffer_size", "pcap_activate",    "pcap_setnonblock",
    "pcap_open_offline", "pcap_dump_open",       "pcap_compile",     "pcap_setfilter",
    "pcap_next_ex",      "pcap_dump_flush",      "pcap_sendpacket",  "pcap_stats"};
constexpr int kFailableCount = sizeof kFailable / sizeof kFailable[0];

struct HostArray {
    SAFEARRAY sa{};
    std::vector<uint8_t> own;
    uint32_t count;

    explicit HostArray(uint32_t n) : own(n ? n : 1, 0xEE), count(n)
    {
        sa.cDims = 1;
        sa.cbElements = 1;
        restore();
    }
    // A careful host takes its buffer back after an aliasing delivery.
    void restore()
    {
        sa.pvData = own.data();
        sa.rgsabound[0].cElements = count;
    }
};

struct Host {
    SAFEARRAY *none = nullptr; // an array never given a size
    HostArray arrays[3] = {HostArray(0), HostArray(60), HostArray(70000)};
    SAFEARRAY *vars[3] = {&arrays[0].sa, &arrays[1].sa, &arrays[2].sa};
    BSTR nameSlot = nullptr, descriptionSlot = nullptr;

    ~Host()
    {
        SysFreeString(nameSlot);
        SysFreeString(descriptionSlot);
    }
    // Selector 0 is the variable without a descriptor.
    SAFEARRAY **var(uint8_t sel) { return sel % 4 == 0 ? &none : &vars[sel % 4 - 1]; }
    HostArray *array(uint8_t sel) { return sel % 4 == 0 ? nullptr : &arrays[sel % 4 - 1]; }
};

std::string pattern(size_t n, uint8_t seed)
{
    std::string s(n, 'a');
    for (size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(0x21 + (seed + i * 7) % 0x5E); // printable, '%' included
    return s;
}

void addFailure(fuzz::Reader &in)
{
    uint8_t fn = in.u8();
    fake_fail(kFailable[fn % kFailableCount], in.u8() % 8); // 0: every call
}

void readScript(fuzz::Reader &in)
{
    int adapters = in.u8() % 5;
    for (int a = 0; a < adapters; ++a) {
        uint8_t flags = in.u8();
        std::string name = pattern(flags & 0x80 ? 300 : in.u8() % 40 + 1, flags);
        std::string description = pattern(in.u8(), flags);
        int index = fake_add_adapter(name.c_str(), flags & 1 ? description.c_str() : nullptr);
        for (int k = 0; k < (flags >> 1 & 3); ++k) {
            unsigned char mask[4];
            in.bytes(mask, sizeof mask);
            fake_add_address(index, flags & 8 ? 2 : 10, flags & 16 ? mask : nullptr);
        }
    }
    int failures = in.u8() % 4;
    for (int i = 0; i < failures; ++i)
        addFailure(in);
    uint8_t answers = in.u8();
    if (answers & 1)
        fake_set_return("pcap_set_buffer_size", -1);
    if (answers & 2)
        fake_set_return("pcap_sendpacket", -1);
    if (answers & 4)
        fake_set_return("pcap_dump_flush", -1);
}

void pushPacket(fuzz::Reader &in)
{
    uint32_t caplen = in.u16() % 300;
    uint32_t len = in.u8() & 1 ? in.u32() : caplen;
    uint32_t sec = in.u32(), usec = in.u32();
    std::vector<unsigned char> bytes(caplen ? caplen : 1);
    in.bytes(bytes.data(), caplen < 8 ? caplen : 8);
    fake_push_packet(bytes.data(), caplen, len, sec, usec);
}

int32_t setParam(fuzz::Reader &in)
{
    uint8_t sel = in.u8();
    int32_t code = sel < 0x80 ? sel % 13 : static_cast<int32_t>(in.u32());
    VARIANT v;
    std::memset(&v, 0, sizeof v);
    static const VARTYPE kTags[] = {VT_I2, VT_I4, VT_BSTR, VT_I4 | VT_BYREF, VT_R8, VT_EMPTY};
    V_VT(&v) = kTags[in.u8() % 6];
    if (V_VT(&v) == VT_BSTR) {
        uint8_t n = in.u8();
        if (n != 0xFF) {
            std::vector<OLECHAR> units(n % 40u);
            in.bytes(units.data(), units.size() * sizeof(OLECHAR));
            V_BSTR(&v) = SysAllocStringLen(units.data(), static_cast<uint32_t>(units.size()));
        }
    } else {
        v.lVal = static_cast<int32_t>(in.u32());
    }
    int32_t r = oxSetParam(code, &v);
    if (V_VT(&v) == VT_BSTR)
        SysFreeString(V_BSTR(&v));
    if (std::strchr(state.settings.dumpFileName, '/')) // see LLVMFuzzerInitialize
        std::strcpy(state.settings.dumpFileName, "fuzz.cap");
    return r;
}

int32_t index(fuzz::Reader &in)
{
    uint8_t sel = in.u8();
    return sel < 0xF0 ? sel % 6 - 1 : static_cast<int32_t>(in.u32());
}

// Reads every byte the host now sees, so ASan catches a short buffer.
void touch(const SAFEARRAY &sa, uint32_t n)
{
    volatile uint32_t sum = 0;
    for (uint32_t i = 0; i < n; ++i)
        sum = sum + static_cast<const uint8_t *>(sa.pvData)[i];
}

void checkState()
{
    FUZZ_CHECK(state.running == 0 || state.running == 1);
    FUZZ_CHECK((state.running == 1) == (state.captureHandle != nullptr));
    FUZZ_CHECK(!state.dumpWriter || (state.captureHandle && state.liveCapture));
    FUZZ_CHECK(fake_open_handles() == (state.captureHandle ? 1 : 0));
    FUZZ_CHECK(fake_open_dumpers() == (state.dumpWriter ? 1 : 0));
    FUZZ_CHECK(fake_open_lists() == (state.adapterList ? 1 : 0));
    FUZZ_CHECK(fake_open_programs() == 0);
    int32_t count = 0;
    bool currentFound = state.currentAdapter == nullptr;
    for (pcap_if_t *d = state.adapterList; d; d = d->next, ++count)
        currentFound = currentFound || d == state.currentAdapter;
    FUZZ_CHECK(count == state.adapterCount);
    FUZZ_CHECK(currentFound);
    FUZZ_CHECK(state.currentIndex >= -1 && state.currentIndex < 32768);
    FUZZ_CHECK(fuzz::terminated(state.errorText, sizeof state.errorText));
    fuzz::checkSettings(state.settings);
}

} // namespace

// Rotated dump files are real files, made before the double's writer opens
// them: a run keeps them in a folder of its own, emptied after each input.
extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    char folder[] = "/tmp/ondrix-fuzz-files.XXXXXX";
    return mkdtemp(folder) && chdir(folder) == 0 ? 0 : 1;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    state = LibraryState{};
    fake_reset();
    fuzz::Reader in(data, size);
    readScript(in);
    {
        Host host;
        PacketHeaderRecord hdr;
        for (int ops = 0; in.more() && ops < 2000; ++ops) {
            uint8_t op = in.u8() % 20;
            uint8_t sel = 0;
            int32_t r = 0;
            switch (op) {
            case 0:
                r = OndrixInit();
                FUZZ_CHECK(r >= -1);
                break;
            case 1:
                FUZZ_CHECK(OndrixTerminate() == 0);
                break;
            case 2: {
                AdapterInfoRecord info;
                std::memset(&info, 0x5A, sizeof info);
                r = oxGetAdapterInfo(index(in), &info);
                if (r == 0)
                    FUZZ_CHECK(fuzz::terminated(info.name, sizeof info.name) &&
                               fuzz::terminated(info.description, sizeof info.description) &&
                               info.reserved == 0);
                break;
            }
            case 3:
                r = oxGetAdapterInfoVB5(index(in), &host.nameSlot, &host.descriptionSlot);
                break;
            case 4:
                r = oxSetCurrentAdapter(index(in));
                break;
            case 5:
                r = oxGetCurrentAdapter();
                FUZZ_CHECK(r == state.currentIndex);
                break;
            case 6:
                r = oxBegin(static_cast<int32_t>(in.u32()));
                break;
            case 7:
                r = oxEnd();
                break;
            case 8:
            case 9:
            case 10: {
                sel = in.u8();
                std::memset(&hdr, 0x5A, sizeof hdr);
                const int32_t mode = state.settings.captureMode;
                r = op == 8   ? oxCapture(host.var(sel), &hdr)
                    : op == 9 ? oxCaptureMem(host.var(sel), &hdr)
                              : oxCaptureMemSafe(host.var(sel));
                HostArray *a = host.array(sel);
                if (r == 1 && a && (op == 9 || (op == 8 && mode == ModeAlias))) {
                    const uint32_t n = a->sa.rgsabound[0].cElements;
                    FUZZ_CHECK(n == static_cast<uint32_t>(hdr.capturedLength) + (op == 9 ? 1 : 0));
                    touch(a->sa, static_cast<uint32_t>(hdr.capturedLength));
                    a->restore();
                }
                if (a)
                    FUZZ_CHECK(a->sa.rgsabound[0].cElements == a->count);
                break;
            }
            case 11:
                r = oxCaptureDiskSafe(&hdr);
                break;
            case 12:
                r = setParam(in);
                break;
            case 13:
                r = oxSendPacket(host.var(in.u8()));
                break;
            case 14:
                r = oxSetKernelBuffSize(static_cast<int32_t>(in.u32()));
                break;
            case 15: { // the two queries
                SysFreeString(oxGetErrorDescription());
                CaptureStatsRecord stats;
                r = oxGetStats(&stats);
                break;
            }
            case 16:
                pushPacket(in);
                break;
            case 17:
                fake_push_result(-static_cast<int>(in.u8() % 3));
                break; // 0, -1, -2
            case 18:
                addFailure(in);
                break;
            default: { // the common start, so that sequences reach captures quickly
                uint8_t how = in.u8();
                if (how & 1)
                    OndrixInit();
                r = oxBegin(100);
                break;
            }
            }
            FUZZ_CHECK(r >= -1);
            for (const HostArray &a : host.arrays)
                FUZZ_CHECK(a.sa.cLocks == 0);
            checkState();
        }
    }
    oxEnd();
    OndrixTerminate();
    for (const auto &file : std::filesystem::directory_iterator("."))
        std::filesystem::remove(file.path());
    FUZZ_CHECK(fake_open_handles() == 0 && fake_open_dumpers() == 0 && fake_open_lists() == 0 &&
               fake_open_programs() == 0);
    return 0;
}
