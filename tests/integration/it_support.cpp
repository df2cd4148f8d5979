#include "it_support.h"

#include <netinet/in.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{
// The library offers no way to remove a stored filter, and all tests of a
// process share one library state.
bool g_filterStored = false;
} // namespace

std::string lastError() { return host::take(oxGetErrorDescription()); }

std::string markError()
{
    AdapterInfoRecord info;
    EXPECT_EQ(oxGetAdapterInfo(0x7FFF, &info), -1);
    std::string now = lastError();
    EXPECT_EQ(now, text::BadAdapterId);
    return now;
}

int setInt(int32_t code, int32_t value) { return oxSetParam(code, host::Variant::i4(value).get()); }

int setText(int32_t code, const std::string &value)
{
    return oxSetParam(code, host::Variant::str(value).get());
}

int setFilter(const std::string &expression)
{
    g_filterStored = true;
    return setText(ParamFilter, expression);
}

void fill(host::ByteArray &array, const Bytes &bytes)
{
    ASSERT_TRUE(array.resize(static_cast<uint32_t>(bytes.size())));
    if (!bytes.empty())
        std::memcpy((*array.var())->pvData, bytes.data(), bytes.size());
}

Bytes contents(const host::ByteArray &array, size_t count)
{
    return Bytes(array.data(), array.data() + count);
}

Bytes testFrame(size_t length, uint8_t seq)
{
    Bytes f(length < 14 ? 14 : length, 0);
    f[12] = kTestEtherType >> 8;
    f[13] = kTestEtherType & 0xFF;
    for (size_t i = 14; i < f.size(); ++i)
        f[i] = static_cast<uint8_t>(seq * 31 + i * 7);
    if (f.size() > 14)
        f[14] = seq;
    return f;
}

Bytes ipFrame(uint8_t protocol, uint16_t srcPort, uint16_t dstPort, size_t payload)
{
    const size_t l4 = protocol == IPPROTO_TCP ? 20 : 8;
    Bytes f(14 + 20 + l4 + payload, 0);
    const uint8_t mac[] = {0x02, 0, 0, 0, 0, 1, 0x02, 0, 0, 0, 0, 2};
    std::memcpy(f.data(), mac, sizeof mac);
    f[12] = 0x08; // IPv4
    uint8_t *ip = f.data() + 14;
    const size_t ipLength = 20 + l4 + payload;
    ip[0] = 0x45;
    ip[2] = static_cast<uint8_t>(ipLength >> 8);
    ip[3] = static_cast<uint8_t>(ipLength);
    ip[8] = 64;
    ip[9] = protocol;
    const uint8_t addrs[] = {192, 0, 2, 1, 192, 0, 2, 53};
    std::memcpy(ip + 12, addrs, sizeof addrs);
    uint8_t *l4h = ip + 20;
    l4h[0] = static_cast<uint8_t>(srcPort >> 8);
    l4h[1] = static_cast<uint8_t>(srcPort);
    l4h[2] = static_cast<uint8_t>(dstPort >> 8);
    l4h[3] = static_cast<uint8_t>(dstPort);
    if (protocol == IPPROTO_TCP) {
        l4h[12] = 0x50;
    } else {
        l4h[4] = static_cast<uint8_t>((8 + payload) >> 8);
        l4h[5] = static_cast<uint8_t>(8 + payload);
    }
    for (size_t i = 0; i < payload; ++i)
        l4h[l4 + i] = static_cast<uint8_t>(i + dstPort);
    return f;
}

void writeCaptureFile(const std::string &path, const std::vector<SavedPacket> &packets, int linkType)
{
    pcap_t *dead = pcap_open_dead(linkType, 65535);
    ASSERT_NE(dead, nullptr);
    pcap_dumper_t *dumper = pcap_dump_open(dead, path.c_str());
    ASSERT_NE(dumper, nullptr) << pcap_geterr(dead);
    for (const SavedPacket &p : packets) {
        pcap_pkthdr h{};
        h.ts.tv_sec = static_cast<time_t>(p.seconds);
        h.ts.tv_usec = p.micros;
        h.caplen = static_cast<bpf_u_int32>(p.data.size());
        h.len = p.wireLength;
        pcap_dump(reinterpret_cast<u_char *>(dumper), &h, p.data.data());
    }
    pcap_dump_close(dumper);
    pcap_close(dead);
}

std::vector<SavedPacket> readCaptureFile(const std::string &path)
{
    std::vector<SavedPacket> out;
    char err[PCAP_ERRBUF_SIZE] = {};
    pcap_t *p = pcap_open_offline(path.c_str(), err);
    EXPECT_NE(p, nullptr) << err;
    if (!p)
        return out;
    pcap_pkthdr *h;
    const u_char *data;
    while (pcap_next_ex(p, &h, &data) == 1)
        out.push_back({static_cast<int64_t>(h->ts.tv_sec), static_cast<int32_t>(h->ts.tv_usec), h->len,
                       Bytes(data, data + h->caplen)});
    pcap_close(p);
    return out;
}

int32_t untilNotTimeout(const std::function<int32_t()> &capture)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int32_t r;
    do
        r = capture();
    while (r == 0 && std::chrono::steady_clock::now() < deadline);
    return r;
}

Watchdog::Watchdog(double seconds, std::string what)
{
    thread_ = std::thread([this, seconds, what = std::move(what)] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (done_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return returned_; }))
            return;
        std::fprintf(stderr, "\nFAILED: %s has not returned after %.1f s\n", what.c_str(), seconds);
        std::fflush(stderr);
        std::_Exit(1);
    });
}

Watchdog::~Watchdog()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        returned_ = true;
    }
    done_.notify_one();
    thread_.join();
}

ToolRun tcpdumpRead(const std::string &path)
{
#ifdef ONDRIX_TCPDUMP
    std::string cmd = std::string(ONDRIX_TCPDUMP) + " -nn -r '" + path + "' 2>/dev/null";
    FILE *pipe = popen(cmd.c_str(), "r");
    if (!pipe)
        return {-1, {}};
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0)
        out.append(buf, n);
    int status = pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 128, out};
#else
    (void)path;
    return {-1, {}};
#endif
}

void IntegrationTest::SetUp()
{
    oxEnd();
    OndrixTerminate();
    ASSERT_EQ(setInt(ParamSnapLength, 65536), 0);
    ASSERT_EQ(setInt(ParamPromiscuous, 1), 0);
    ASSERT_EQ(setInt(ParamKernelBufferSize, 4096000), 0);
    ASSERT_EQ(setInt(ParamCaptureMode, ModeAlias), 0);
    ASSERT_EQ(setInt(ParamCaptureSource, SourceLive), 0);
    ASSERT_EQ(setText(ParamDumpFileName, "Ondrixdump.cap"), 0);
    ASSERT_EQ(setInt(ParamDumpFileSize, 0) | setInt(ParamDumpFileSeconds, 0) | setInt(ParamDumpFileCount, 0),
              0);
    // "greater 0" lets every packet through: the nearest thing to no filter.
    if (g_filterStored) {
        ASSERT_EQ(setText(ParamFilter, "greater 0"), 0);
    }

    std::string pattern = (std::filesystem::temp_directory_path() / "ondrix-it-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
}

void IntegrationTest::TearDown()
{
    oxEnd();
    OndrixTerminate();
    std::error_code ec;
    if (!dir_.empty())
        std::filesystem::remove_all(dir_, ec);
}
