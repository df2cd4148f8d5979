// The DLL as a VB host meets it: exports by name and ordinal, the __stdcall
// stack contract, and strings and variants made by the real oleaut32.
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "fixture.h"

using host::take;

namespace
{

struct StdcallProbe {
    int32_t result;
    int32_t espMoved;
    uint32_t ebx, esi, edi, ebp, ebpBefore;
};

extern "C" int32_t ox_stdcall_probe(const void *fn, const uint32_t *args, uint32_t count, StdcallProbe *out);

struct Export {
    int ordinal;
    const char *name;
    uint32_t argBytes;
};

const Export exportsTable[] = {
    {1, "OndrixInit", 0},
    {2, "oxGetAdapterInfo", 8},
    {3, "OndrixTerminate", 0},
    {4, "oxSetCurrentAdapter", 4},
    {5, "oxGetCurrentAdapter", 0},
    {6, "oxBegin", 4},
    {7, "oxEnd", 0},
    {8, "oxCaptureMem", 8},
    {9, "oxCaptureMemSafe", 4},
    {10, "oxSetKernelBuffSize", 4},
    {11, "oxGetErrorDescription", 0},
    {12, "oxCaptureDiskSafe", 4},
    {13, "oxSetParam", 8},
    {14, "oxSendPacket", 4},
    {15, "oxCapture", 8},
    {16, "oxGetAdapterInfoVB5", 12},
    {17, "oxGetStats", 4},
    {18, "oxGetAdapterDetails", 8},
    {19, "oxFindAdapter", 4},
    {20, "oxDecodePacket", 4},
    {21, "oxGetPacketTime", 4},
    {22, "oxDecodeName", 4},
};

const Export &byName(const char *name)
{
    for (const Export &e : exportsTable)
        if (std::strcmp(e.name, name) == 0)
            return e;
    throw std::logic_error(name);
}

template <typename T> uint32_t arg(T *p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

HMODULE ondrixModule() { return GetModuleHandleA("ONDRIX.dll"); }

class Exports : public LibraryTest
{
  protected:
    // Calls one export through the probe, resolved by name or by ordinal, and
    // checks what a VB caller relies on: the callee popped exactly its own
    // arguments and kept the registers the convention gives to the caller.
    int32_t call(bool byOrdinal, const char *name, std::vector<uint32_t> args)
    {
        const Export &e = byName(name);
        EXPECT_EQ(args.size() * 4, e.argBytes) << name;
        FARPROC fn = byOrdinal ? GetProcAddress(ondrixModule(), MAKEINTRESOURCEA(e.ordinal))
                               : GetProcAddress(ondrixModule(), e.name);
        if (!fn) {
            ADD_FAILURE() << name << " not found";
            return INT32_MIN;
        }
        StdcallProbe p{};
        ox_stdcall_probe(reinterpret_cast<const void *>(fn), args.data(), static_cast<uint32_t>(args.size()),
                         &p);
        EXPECT_EQ(p.espMoved, 0) << name << " must remove its " << e.argBytes << " bytes of arguments";
        EXPECT_EQ(p.ebx, 0x1BADB002u) << name << " changed EBX";
        EXPECT_EQ(p.esi, 0x5EED5EEDu) << name << " changed ESI";
        EXPECT_EQ(p.edi, 0xD15EA5E0u) << name << " changed EDI";
        EXPECT_EQ(p.ebp, p.ebpBefore) << name << " changed EBP";
        return p.result;
    }

    // One pass over the exports, each doing real work.
    void session(bool byOrdinal)
    {
        fake_add_adapter("eth0", "Adapter 0");
        fake_add_adapter("eth1", nullptr);
        static const unsigned char frame[60] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 1,
                                                2,    3,    4,    5,    6,    0x08, 0x00};
        for (int i = 0; i < 3; ++i)
            fake_push_packet(frame, sizeof frame, sizeof frame, 5, 7);

        AdapterInfoRecord rec;
        std::memset(&rec, 0x55, sizeof rec);
        BSTR name = nullptr, desc = nullptr;
        PacketHeaderRecord hdr{};
        host::ByteArray arr(100), alias(4);
        host::Variant copyMode = host::Variant::i4(ModeCopy);

        EXPECT_EQ(call(byOrdinal, "OndrixInit", {}), 2);
        EXPECT_EQ(call(byOrdinal, "oxGetAdapterInfo", {1, arg(&rec)}), 0);
        EXPECT_STREQ(rec.name, "eth1");
        EXPECT_EQ(rec.reserved, 0);
        EXPECT_EQ(call(byOrdinal, "oxGetAdapterInfoVB5", {0, arg(&name), arg(&desc)}), 0);
        EXPECT_EQ(take(name), "eth0");
        EXPECT_EQ(take(desc), "Adapter 0");
        // Only the low 16 bits of the 32-bit stack slot are the index.
        EXPECT_EQ(call(byOrdinal, "oxSetCurrentAdapter", {0x00010001}), 0);
        EXPECT_EQ(call(byOrdinal, "oxGetCurrentAdapter", {}), 1);
        EXPECT_EQ(call(byOrdinal, "oxSetCurrentAdapter", {0x8000}), -1);
        AdapterDetailsRecord details;
        EXPECT_EQ(call(byOrdinal, "oxGetAdapterDetails", {0x00010001, arg(&details)}), 0);
        EXPECT_EQ(details.mtu, -1);
        EXPECT_EQ(call(byOrdinal, "oxFindAdapter", {arg(" ADAPTER 0 ")}), 0);
        EXPECT_EQ(call(byOrdinal, "oxSetParam", {ParamCaptureMode, arg(copyMode.get())}), 0);
        EXPECT_EQ(call(byOrdinal, "oxBegin", {250}), 0);
        EXPECT_EQ(openedName(), "eth1");
        EXPECT_EQ(call(byOrdinal, "oxSetKernelBuffSize", {1u << 20}), 0);
        EXPECT_EQ(fake_arg("pcap_setbuff", 0), 1 << 20);
        EXPECT_EQ(call(byOrdinal, "oxCapture", {arg(arr.var()), arg(&hdr)}), 1);
        EXPECT_EQ(hdr.capturedLength, 60);
        EXPECT_EQ(hdr.microseconds, 7);
        EXPECT_EQ(arr.data()[6], 1);
        EXPECT_EQ(call(byOrdinal, "oxCaptureMem", {arg(alias.var()), arg(&hdr)}), 1);
        EXPECT_EQ(alias.count(), 61u);
        PacketSummaryRecord summary{};
        EXPECT_EQ(call(byOrdinal, "oxDecodePacket", {arg(&summary)}), 0);
        EXPECT_EQ(summary.etherType, 0x0800);
        EXPECT_EQ(summary.sourceMac[5], 6);
        PacketTimeRecord time{};
        EXPECT_EQ(call(byOrdinal, "oxGetPacketTime", {arg(&time)}), 0);
        EXPECT_EQ(time.microseconds, 7);
        PacketNameRecord packetName{};
        EXPECT_EQ(call(byOrdinal, "oxDecodeName", {arg(&packetName)}), 0)
            << "an IPv4 frame of zeros has no name";
        EXPECT_EQ(call(byOrdinal, "oxCaptureMemSafe", {arg(arr.var())}), 1);
        EXPECT_EQ(call(byOrdinal, "oxSendPacket", {arg(arr.var())}), 0);
        EXPECT_EQ(fake_sent(0, nullptr, 0), 100);
        fake_set_stats(3, 1, 0);
        CaptureStatsRecord stats{};
        EXPECT_EQ(call(byOrdinal, "oxGetStats", {arg(&stats)}), 0);
        EXPECT_EQ(stats.received, 3);
        EXPECT_EQ(call(byOrdinal, "oxCaptureDiskSafe", {arg(&hdr)}), -1);
        BSTR text = reinterpret_cast<BSTR>(
            static_cast<uintptr_t>(static_cast<uint32_t>(call(byOrdinal, "oxGetErrorDescription", {}))));
        EXPECT_EQ(take(text), text::NotReady);
        EXPECT_EQ(call(byOrdinal, "oxEnd", {}), 0);
        EXPECT_EQ(call(byOrdinal, "OndrixTerminate", {}), 0);
        EXPECT_EQ(fake_open_handles(), 0);
        EXPECT_EQ(fake_open_lists(), 0);
    }
};

int32_t __cdecl addCdecl(int32_t a, int32_t b) { return a + b; }
int32_t __stdcall subStdcall(int32_t a, int32_t b) { return a - b; }

// The probe itself must tell the two conventions apart, or its zeros prove nothing.
TEST(StdcallProbeSelfCheck, SeesWhoRemovesTheArguments)
{
    const uint32_t args[2] = {7, 5};
    StdcallProbe p{};
    EXPECT_EQ(ox_stdcall_probe(reinterpret_cast<const void *>(&addCdecl), args, 2, &p), 12);
    EXPECT_EQ(p.espMoved, -8) << "a cdecl callee leaves its arguments on the stack";
    EXPECT_EQ(ox_stdcall_probe(reinterpret_cast<const void *>(&subStdcall), args, 2, &p), 2);
    EXPECT_EQ(p.espMoved, 0);
    EXPECT_EQ(p.ebp, p.ebpBefore);
}

TEST_F(Exports, NamesAndOrdinalsReachTheSameFunctions)
{
    HMODULE m = ondrixModule();
    ASSERT_NE(m, nullptr);
    for (const Export &e : exportsTable) {
        FARPROC named = GetProcAddress(m, e.name);
        ASSERT_NE(named, nullptr) << e.name;
        EXPECT_EQ(named, GetProcAddress(m, MAKEINTRESOURCEA(e.ordinal)))
            << e.name << " is not ordinal " << e.ordinal;
        char decorated[64];
        std::snprintf(decorated, sizeof decorated, "%s@%u", e.name, static_cast<unsigned>(e.argBytes));
        EXPECT_EQ(GetProcAddress(m, decorated), nullptr) << decorated << " is exported";
    }
    EXPECT_EQ(GetProcAddress(m, MAKEINTRESOURCEA(23)), nullptr) << "an export beyond the twenty-two";
    EXPECT_EQ(GetProcAddress(m, "DllMain"), nullptr);
}

TEST_F(Exports, EveryExportCleansItsStackAndKeepsCalleeSavedRegistersByName) { session(false); }

TEST_F(Exports, EveryExportCleansItsStackAndKeepsCalleeSavedRegistersByOrdinal) { session(true); }

TEST_F(Exports, FailurePathsCleanTheStackToo)
{
    // Early returns must leave through the same epilogue.
    AdapterInfoRecord rec;
    BSTR a = nullptr, b = nullptr;
    PacketHeaderRecord hdr;
    host::ByteArray arr(4);
    host::Variant r8 = host::Variant::r8(1.5);
    EXPECT_EQ(call(false, "oxGetAdapterInfo", {0xFFFF, arg(&rec)}), -1);
    EXPECT_EQ(call(false, "oxGetAdapterInfoVB5", {3, arg(&a), arg(&b)}), -1);
    EXPECT_EQ(call(false, "oxSetCurrentAdapter", {0}), -1);
    EXPECT_EQ(call(false, "oxBegin", {0}), -1);
    EXPECT_EQ(call(false, "oxCapture", {arg(arr.var()), arg(&hdr)}), -1);
    EXPECT_EQ(call(false, "oxCaptureMem", {arg(arr.var()), arg(&hdr)}), -1);
    EXPECT_EQ(call(false, "oxCaptureMemSafe", {arg(arr.var())}), -1);
    EXPECT_EQ(call(false, "oxSendPacket", {arg(arr.var())}), -1);
    EXPECT_EQ(call(false, "oxSetKernelBuffSize", {100}), -1);
    EXPECT_EQ(call(false, "oxSetParam", {0, arg(r8.get())}), -1);
    EXPECT_EQ(call(false, "oxGetPacketTime", {0}), -1);
    EXPECT_EQ(call(false, "oxDecodeName", {0}), -1);
}

} // namespace
