// 10,000 rounds against the real libpcap: listing and releasing the
// adapters, and starting and ending a capture of a saved file (with a
// filter, reading its packets). Descriptors stay exactly as they were,
// resident memory within a generous bound, and LeakSanitizer (in the
// sanitizer build) finds nothing.
#include <gtest/gtest.h>
#include <pcap.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "ondrix.h"
#include "resources.h"

namespace
{

int setInt(int32_t code, int32_t value)
{
    VARIANT v{};
    v.vt = VT_I4;
    v.lVal = value;
    return oxSetParam(code, &v);
}

int setText(int32_t code, const std::string &text)
{
    std::vector<OLECHAR> wide(text.begin(), text.end());
    VARIANT v{};
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocStringLen(wide.data(), static_cast<uint32_t>(wide.size()));
    int r = oxSetParam(code, &v);
    SysFreeString(v.bstrVal);
    return r;
}

template <class Round> void expectFlat(Round round)
{
    for (int i = 0; i < 100; ++i)
        round();
    const int fds = cycles::openDescriptors();
    const long rss = cycles::residentBytes();
    for (int i = 0; i < cycles::kRounds && !::testing::Test::HasFatalFailure(); ++i)
        round();
    EXPECT_EQ(cycles::openDescriptors(), fds);
    if (cycles::kResidentMeaningful) {
        EXPECT_LT(cycles::residentBytes() - rss, cycles::kResidentGrowthBound);
    }
}

// A saved file of three small Ethernet frames, written with libpcap.
std::string writeSavedFile()
{
    char path[] = "/tmp/ondrix-cycles-XXXXXX";
    int fd = mkstemp(path);
    if (fd < 0)
        return "";
    close(fd);
    pcap_t *dead = pcap_open_dead(DLT_EN10MB, 65535);
    pcap_dumper_t *dumper = pcap_dump_open(dead, path);
    if (!dumper) {
        pcap_close(dead);
        return "";
    }
    unsigned char frame[60] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 2, 0, 0, 0, 0, 1, 0x08, 0x00};
    for (int i = 0; i < 3; ++i) {
        pcap_pkthdr h{};
        h.ts.tv_sec = 5 + i;
        h.caplen = h.len = sizeof frame;
        pcap_dump(reinterpret_cast<u_char *>(dumper), &h, frame);
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
    return path;
}

} // namespace

TEST(CyclesRealPcap, InitAndTerminate)
{
    expectFlat([] {
        ASSERT_GE(OndrixInit(), 0);
        ASSERT_EQ(OndrixTerminate(), 0);
    });
}

TEST(CyclesRealPcap, BeginAndEndOnASavedFile)
{
    const std::string file = writeSavedFile();
    ASSERT_FALSE(file.empty());
    ASSERT_EQ(setText(ParamDumpFileName, file), 0);
    ASSERT_EQ(setInt(ParamCaptureSource, SourceFile), 0);
    ASSERT_EQ(setText(ParamFilter, "ip or arp"), 0);
    std::vector<uint8_t> bytes(100);
    SAFEARRAY sa{};
    sa.cDims = 1;
    sa.cbElements = 1;
    sa.pvData = bytes.data();
    sa.rgsabound[0].cElements = static_cast<uint32_t>(bytes.size());
    SAFEARRAY *var = &sa;
    PacketHeaderRecord hdr{};
    expectFlat([&] {
        ASSERT_EQ(oxBegin(0), 0);
        ASSERT_EQ(oxCapture(&var, &hdr), 1);
        ASSERT_EQ(hdr.capturedLength, 60);
        ASSERT_EQ(oxEnd(), 0);
    });
    EXPECT_EQ(sa.cLocks, 0u);
    std::remove(file.c_str());
}

TEST(CyclesRealPcap, FailedStartsOnAMissingFile)
{
    ASSERT_EQ(setText(ParamDumpFileName, "/nonexistent/ondrix-cycles.cap"), 0);
    ASSERT_EQ(setInt(ParamCaptureSource, SourceFile), 0);
    expectFlat([] { ASSERT_EQ(oxBegin(0), -1); });
}
