// Live capture and sending with the real libpcap, on loopback in the test
// process's own network namespace (see private_net.h). On lo the link type is
// Ethernet with zero addresses, and a frame sent on the capture handle comes
// back to it once.
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

#include "it_support.h"
#include "private_net.h"
#include "test_veths.h"

namespace
{

// A short read time-out keeps the loops of untilNotTimeout quick.
constexpr int32_t kReadTimeoutMs = 250;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

TEST(Adapters, ListIsWhatLibpcapListsWithNamesAndDescriptions)
{
    // In the private namespace the list can't change between the two calls.
    REQUIRE_PRIVATE_NETWORK();
    pcap_if_t *devs = nullptr;
    char err[PCAP_ERRBUF_SIZE];
    ASSERT_EQ(pcap_findalldevs(&devs, err), 0) << err;

    const int32_t count = OndrixInit();
    int32_t expected = 0;
    bool sawLoopback = false;
    for (pcap_if_t *d = devs; d; d = d->next, ++expected) {
        SCOPED_TRACE(d->name);
        AdapterInfoRecord info;
        std::memset(&info, 0x7F, sizeof info);
        ASSERT_EQ(oxGetAdapterInfo(expected, &info), 0);
        EXPECT_EQ(std::string(info.name), std::string(d->name).substr(0, 254));
        EXPECT_EQ(std::string(info.description),
                  std::string(d->description ? d->description : "").substr(0, 256));
        EXPECT_EQ(info.reserved, 0);

        BSTR name = SysAllocStringByteLen("old", 3), description = nullptr;
        ASSERT_EQ(oxGetAdapterInfoVB5(expected, &name, &description), 0);
        EXPECT_EQ(host::take(name), d->name);
        if (d->description) {
            EXPECT_EQ(host::take(description), d->description);
        } else {
            EXPECT_EQ(description, nullptr) << "no description gives a null string";
        }
        sawLoopback |= std::string(d->name) == "lo";
    }
    EXPECT_EQ(count, expected);
    EXPECT_TRUE(sawLoopback);

    AdapterInfoRecord info;
    EXPECT_EQ(oxGetAdapterInfo(count, &info), -1);
    EXPECT_EQ(lastError(), text::BadAdapterId);
    EXPECT_EQ(OndrixInit(), count) << "a second listing counts afresh";
    pcap_freealldevs(devs);
    OndrixTerminate();
}

TEST(Adapters, DetailsAreWhatTheKernelWasGiven)
{
    REQUIRE_PRIVATE_NETWORK();
    // A VPN's half of the addresses is no default route (Wine's iphlpapi takes its next hop for one).
    ASSERT_EQ(
        std::system(ONDRIX_TEST_VETHS " && ip route replace 0.0.0.0/1 via 198.51.100.1 dev oxd2 onlink"), 0);
    ASSERT_GT(OndrixInit(), 0) << lastError();
    for (const VethFacts &e : kVethFacts) {
        SCOPED_TRACE(e.name);
        const int32_t index = oxFindAdapter(e.name);
        ASSERT_GE(index, 0) << lastError();
        AdapterDetailsRecord d;
        std::memset(&d, 0x55, sizeof d);
        ASSERT_EQ(oxGetAdapterDetails(index, &d), 0);
        expectDetails(e, d);
    }
    EXPECT_EQ(oxFindAdapter(" 02:11:22:33:44:55 "), oxFindAdapter("oxd0"));
    EXPECT_EQ(oxFindAdapter("00-00-00-00-00-00"), -1) << "loopback's zeros are no address";
    OndrixTerminate();
}

class Loopback : public IntegrationTest
{
  protected:
    void SetUp() override
    {
        IntegrationTest::SetUp();
        REQUIRE_PRIVATE_NETWORK();
        useAdapter("lo");
    }

    static void useAdapter(const std::string &name)
    {
        const int32_t count = OndrixInit();
        ASSERT_GT(count, 0) << lastError();
        for (int32_t i = 0; i < count; ++i) {
            AdapterInfoRecord info{};
            ASSERT_EQ(oxGetAdapterInfo(i, &info), 0);
            if (info.name == name) {
                ASSERT_EQ(oxSetCurrentAdapter(i), 0);
                return;
            }
        }
        FAIL() << "no adapter named " << name;
    }

    static void send(const Bytes &frame)
    {
        host::ByteArray array(0);
        fill(array, frame);
        ASSERT_EQ(oxSendPacket(array.var()), 0) << "frame of " << frame.size() << " bytes";
    }

    // oxCapture or oxCaptureMem until a packet comes; lo in a fresh namespace
    // carries only what the test sends.
    static int32_t captureInto(decltype(&oxCapture) fn, host::ByteArray &array, PacketHeaderRecord &h)
    {
        return untilNotTimeout([&] { return fn(array.var(), &h); });
    }

    static void expectLengths(const PacketHeaderRecord &h, size_t captured, size_t wire)
    {
        EXPECT_EQ(h.capturedLength, static_cast<int32_t>(captured));
        EXPECT_EQ(h.wireLength, static_cast<int32_t>(wire));
        EXPECT_GE(h.microseconds, 0);
        EXPECT_LE(h.microseconds, 999999);
        EXPECT_TRUE(h.hour >= 0 && h.hour < 24 && h.minute >= 0 && h.minute < 60 && h.second >= 0 &&
                    h.second <= 60);
    }

    static off_t fileSize(const std::string &file)
    {
        struct stat st {
        };
        return stat(file.c_str(), &st) == 0 ? st.st_size : -1;
    }
};

TEST_F(Loopback, SentFramesComeBackInAliasCopyAndMemDeliveries)
{
    ASSERT_EQ(oxBegin(kReadTimeoutMs), 0) << lastError();
    EXPECT_EQ(oxBegin(kReadTimeoutMs), -1) << "one capture at a time";
    EXPECT_EQ(lastError(), text::NotReady);

    // Alias mode: the array is pointed at the packet.
    const Bytes a = testFrame(60, 1);
    send(a);
    host::ByteArray array(8);
    PacketHeaderRecord h{};
    ASSERT_EQ(captureInto(oxCapture, array, h), 1);
    expectLengths(h, a.size(), a.size());
    EXPECT_TRUE(array.aliased());
    EXPECT_EQ(array.count(), a.size());
    EXPECT_EQ(contents(array, a.size()), a);

    // Copy mode, switched while running: copied into the host's own memory.
    ASSERT_EQ(setInt(ParamCaptureMode, ModeCopy), 0);
    const Bytes b = testFrame(1514, 2);
    send(b);
    host::ByteArray copy(2000, 0x5A);
    ASSERT_EQ(captureInto(oxCapture, copy, h), 1);
    expectLengths(h, b.size(), b.size());
    EXPECT_FALSE(copy.aliased());
    EXPECT_EQ(copy.count(), 2000u);
    EXPECT_EQ(contents(copy, b.size()), b);
    EXPECT_EQ(copy.data()[b.size()], 0x5A);

    // oxCaptureMem aliases whatever the mode, one element longer.
    const Bytes c = testFrame(333, 3);
    send(c);
    host::ByteArray mem(8);
    ASSERT_EQ(captureInto(oxCaptureMem, mem, h), 1);
    expectLengths(h, c.size(), c.size());
    EXPECT_TRUE(mem.aliased());
    EXPECT_EQ(mem.count(), c.size() + 1);
    EXPECT_EQ(contents(mem, c.size()), c);

    // oxCaptureMemSafe copies and leaves the count alone.
    const Bytes d = testFrame(100, 4);
    send(d);
    host::ByteArray safe(200, 0x5A);
    ASSERT_EQ(untilNotTimeout([&] { return oxCaptureMemSafe(safe.var()); }), 1);
    EXPECT_EQ(safe.count(), 200u);
    EXPECT_EQ(contents(safe, d.size()), d);
    EXPECT_EQ(oxEnd(), 0);
}

TEST_F(Loopback, SnapLengthCutsCapturedBytesButNotTheWireLength)
{
    ASSERT_EQ(setInt(ParamSnapLength, 100), 0);
    ASSERT_EQ(oxBegin(kReadTimeoutMs), 0) << lastError();
    const Bytes f = testFrame(300, 7);
    send(f);
    host::ByteArray array(8);
    PacketHeaderRecord h{};
    ASSERT_EQ(captureInto(oxCapture, array, h), 1);
    expectLengths(h, 100, 300);
    EXPECT_EQ(contents(array, 100), Bytes(f.begin(), f.begin() + 100));
}

TEST_F(Loopback, FilterOnTheAdapterDropsOtherFrames)
{
    // lo has addresses, so the filter is compiled with its netmask.
    ASSERT_EQ(setFilter("ether proto 0x88b5"), 0);
    ASSERT_EQ(oxBegin(kReadTimeoutMs), 0) << lastError();
    Bytes other = testFrame(80, 1);
    other[13] = 0xB6;
    send(other);
    const Bytes wanted = testFrame(90, 2);
    send(wanted);
    host::ByteArray array(8);
    PacketHeaderRecord h{};
    ASSERT_EQ(untilNotTimeout([&] { return oxCapture(array.var(), &h); }), 1);
    EXPECT_EQ(contents(array, h.capturedLength), wanted) << "the first frame delivered is the matching one";
}

TEST_F(Loopback, DiskModeWritesAFileThatTcpdumpReadsBack)
{
    const std::string file = path("live.pcap");
    ASSERT_EQ(setInt(ParamCaptureMode, ModeDisk), 0);
    ASSERT_EQ(setText(ParamDumpFileName, file), 0);
    ASSERT_EQ(oxBegin(kReadTimeoutMs), 0) << lastError();
    EXPECT_GE(fileSize(file), 0) << "the dump file is created at the start";

    const std::vector<Bytes> sent = {testFrame(14, 1), testFrame(60, 2), testFrame(1514, 3),
                                     testFrame(9000, 4), testFrame(61, 5)};
    for (const Bytes &f : sent)
        send(f);

    // Both disk deliveries, in turns; oxCapture leaves the array alone.
    std::vector<PacketHeaderRecord> headers;
    host::ByteArray untouched(4, 0x5A);
    for (size_t i = 0; i < sent.size(); ++i) {
        PacketHeaderRecord h{};
        const int32_t r =
            untilNotTimeout([&] { return i % 2 ? oxCaptureDiskSafe(&h) : oxCapture(untouched.var(), &h); });
        ASSERT_EQ(r, 1) << "frame " << i;
        expectLengths(h, sent[i].size(), sent[i].size());
        headers.push_back(h);
    }
    EXPECT_FALSE(untouched.aliased());
    EXPECT_EQ(contents(untouched, 4), Bytes(4, 0x5A));
    CaptureStatsRecord stats{};
    ASSERT_EQ(oxGetStats(&stats), 0) << lastError();
    EXPECT_GE(stats.received, static_cast<int32_t>(sent.size())) << "counts at least what was delivered";
    ASSERT_EQ(oxEnd(), 0) << lastError();

    // libpcap reads back what was delivered, with the same header fields.
    const std::vector<SavedPacket> saved = readCaptureFile(file);
    ASSERT_EQ(saved.size(), sent.size());
    for (size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(saved[i].data, sent[i]);
        EXPECT_EQ(saved[i].wireLength, sent[i].size());
        EXPECT_EQ(saved[i].micros, headers[i].microseconds);
        EXPECT_EQ(saved[i].seconds % 60, headers[i].second);
    }
    char err[PCAP_ERRBUF_SIZE];
    pcap_t *p = pcap_open_offline(file.c_str(), err);
    ASSERT_NE(p, nullptr) << err;
    EXPECT_EQ(pcap_datalink(p), DLT_EN10MB);
    pcap_close(p);

    // And so does an independent reader: one summary line per packet.
    const ToolRun run = tcpdumpRead(file);
    if (run.status == -1)
        GTEST_SKIP() << "tcpdump not found at configure time";
    EXPECT_EQ(run.status, 0) << run.output;
    // (tcpdump adds tab-indented hex lines for an EtherType it doesn't know.)
    std::istringstream lines(run.output);
    size_t summaries = 0;
    for (std::string line; std::getline(lines, line);)
        summaries += !line.empty() && line[0] != '\t';
    EXPECT_EQ(summaries, sent.size()) << run.output;
}

TEST_F(Loopback, DiskModeStartAndEndWithoutPacketsLeavesAReadableEmptyFile)
{
    const std::string file = path("empty.pcap");
    ASSERT_EQ(setInt(ParamCaptureMode, ModeDisk), 0);
    ASSERT_EQ(setText(ParamDumpFileName, file), 0);
    ASSERT_EQ(oxBegin(kReadTimeoutMs), 0) << lastError();
    ASSERT_EQ(oxEnd(), 0) << lastError();
    EXPECT_EQ(fileSize(file), 24) << "only the capture-file header";
    EXPECT_TRUE(readCaptureFile(file).empty());
    const ToolRun run = tcpdumpRead(file);
    if (run.status != -1) {
        EXPECT_EQ(run.status, 0);
    }
}

TEST_F(Loopback, DiskModeStartWithFailingFilterLeavesOnlyTheFileHeader)
{
    const std::string file = path("filtered.pcap");
    ASSERT_EQ(setInt(ParamCaptureMode, ModeDisk), 0);
    ASSERT_EQ(setText(ParamDumpFileName, file), 0);
    ASSERT_EQ(setFilter("ether proto"), 0);
    EXPECT_EQ(oxBegin(kReadTimeoutMs), -1);
    EXPECT_NE(lastError().find("syntax error"), std::string::npos) << lastError();
    EXPECT_EQ(fileSize(file), 24) << "created before the filter, closed on its failure";
    EXPECT_TRUE(readCaptureFile(file).empty());

    PacketHeaderRecord h{};
    EXPECT_EQ(oxCaptureDiskSafe(&h), -1) << "nothing stays open";
    EXPECT_EQ(lastError(), text::NotReady);
}

TEST_F(Loopback, DumpIntoMissingFolderFailsUntilTheNameIsFixed)
{
    ASSERT_EQ(setInt(ParamCaptureMode, ModeDisk), 0);
    ASSERT_EQ(setText(ParamDumpFileName, path("no/such/folder/x.pcap")), 0);
    EXPECT_EQ(oxBegin(kReadTimeoutMs), -1);
    EXPECT_EQ(lastError(), text::DumpOpenFailed);
    host::ByteArray frame(0);
    fill(frame, testFrame(60, 1));
    EXPECT_EQ(oxSendPacket(frame.var()), -1) << "the adapter was closed again";
    EXPECT_EQ(lastError(), text::NotReady);

    ASSERT_EQ(setText(ParamDumpFileName, path("x.pcap")), 0);
    ASSERT_EQ(oxBegin(kReadTimeoutMs), 0) << lastError();
    send(testFrame(60, 1));
    PacketHeaderRecord h{};
    EXPECT_EQ(untilNotTimeout([&] { return oxCaptureDiskSafe(&h); }), 1);
    EXPECT_EQ(oxEnd(), 0);
    EXPECT_EQ(readCaptureFile(path("x.pcap")).size(), 1u);
}

TEST_F(Loopback, DumpDataThatCannotBeWrittenIsReported)
{
    // /dev/full opens fine and takes buffered writes; they fail when written out.
    ASSERT_EQ(setInt(ParamCaptureMode, ModeDisk), 0);
    ASSERT_EQ(setText(ParamDumpFileName, "/dev/full"), 0);
    ASSERT_EQ(oxBegin(kReadTimeoutMs), 0) << lastError();
    send(testFrame(200, 1));
    PacketHeaderRecord h{};
    EXPECT_EQ(untilNotTimeout([&] { return oxCaptureDiskSafe(&h); }), -1) << "a capture's first write-out";
    EXPECT_EQ(oxEnd(), -1) << "lost data is not a success";
    EXPECT_EQ(lastError(), text::DumpWriteFailed);

    // Everything was closed all the same.
    EXPECT_EQ(oxEnd(), 0);
    EXPECT_EQ(oxCaptureDiskSafe(&h), -1);
    ASSERT_EQ(setText(ParamDumpFileName, path("after.pcap")), 0);
    EXPECT_EQ(oxBegin(kReadTimeoutMs), 0) << lastError();
    EXPECT_EQ(oxEnd(), 0);
    EXPECT_EQ(fileSize(path("after.pcap")), 24);
}

TEST_F(Loopback, IdleReadReturnsAfterTheTimeOutAndWaitsAgain)
{
    ASSERT_EQ(oxBegin(1000), 0) << lastError();
    host::ByteArray array(8);
    for (int call = 1; call <= 2; ++call) {
        PacketHeaderRecord h{};
        const auto start = Clock::now();
        int32_t r;
        {
            Watchdog bound(5, "an idle read with a 1000 ms time-out");
            r = oxCapture(array.var(), &h);
        }
        const double seconds = secondsSince(start);
        std::printf("idle read %d with a 1000 ms time-out returned %d after %.3f s\n", call, r, seconds);
        EXPECT_EQ(r, 0) << "a time-out is 0, neither a packet nor a failure";
        EXPECT_LT(seconds, 10.0) << "returns rather than waiting for a packet";
        // No wait ends before its time-out, so this lower bound is safe.
        EXPECT_GE(seconds, 0.9) << "each call waits for the time-out";
    }
    EXPECT_FALSE(array.aliased());

    ASSERT_EQ(oxEnd(), 0);
    ASSERT_EQ(oxBegin(-1), 0) << lastError();
    PacketHeaderRecord h{};
    Watchdog bound(5, "an idle read with a negative time-out");
    EXPECT_EQ(oxCapture(array.var(), &h), 0) << "a negative time-out does not wait";
}

// A frame that arrives while a read waits ends that read, whatever the
// time-out, 0 (none) included. The frame goes out on a handle of its own,
// 300 ms after the read began. The bound of 100 ms is far above the few
// milliseconds this takes and far below the time-out a held-back frame
// waits for; a read the machine delayed past it gets two more chances.
TEST_F(Loopback, AFrameEndsTheReadWaitingForIt)
{
    ASSERT_EQ(setFilter("ether proto 0x88b5"), 0);
    ASSERT_EQ(setInt(ParamCaptureMode, ModeCopy), 0);
    char err[PCAP_ERRBUF_SIZE];
    const std::unique_ptr<pcap_t, void (*)(pcap_t *)> sender(pcap_open_live("lo", 100, 0, 100, err),
                                                             pcap_close);
    ASSERT_NE(sender, nullptr) << err;
    const Bytes frame = testFrame(60, 9);
    for (int32_t timeoutMs : {0, 1000, 5000}) {
        SCOPED_TRACE("read time-out " + std::to_string(timeoutMs) + " ms");
        ASSERT_EQ(oxBegin(timeoutMs), 0) << lastError();
        double fastest = 1e9;
        for (int attempt = 0; attempt < 3 && fastest > 0.1; ++attempt) {
            host::ByteArray array(100);
            PacketHeaderRecord h{};
            std::atomic<Clock::rep> sentAt{0};
            std::thread later([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
                sentAt = Clock::now().time_since_epoch().count();
                pcap_sendpacket(sender.get(), frame.data(), static_cast<int>(frame.size()));
            });
            int32_t r;
            {
                Watchdog bound(2, "a read with a frame sent 0.3 s after it began");
                r = oxCapture(array.var(), &h);
            }
            const auto returnedAt = Clock::now();
            later.join();
            ASSERT_EQ(r, 1) << "the read that was waiting delivers the frame";
            EXPECT_EQ(contents(array, frame.size()), frame);
            const double delay =
                std::chrono::duration<double>(returnedAt - Clock::time_point(Clock::duration(sentAt.load())))
                    .count();
            std::printf("time-out %d ms: delivered %.2f ms after it was sent\n", timeoutMs, delay * 1000);
            fastest = std::min(fastest, delay);
        }
        ASSERT_LT(fastest, 0.1);
        ASSERT_EQ(oxEnd(), 0);
    }
}

TEST_F(Loopback, KernelBufferIsSetAtStartButNotWhileRunning)
{
    ASSERT_EQ(setInt(ParamKernelBufferSize, 4096000), 0);
    markError();
    ASSERT_EQ(oxBegin(kReadTimeoutMs), 0) << lastError();
    EXPECT_NE(lastError(), text::KernelBufferFailed);

    // libpcap can't resize an active handle: refused without a text.
    const std::string before = markError();
    EXPECT_EQ(oxSetKernelBuffSize(8 * 1024 * 1024), -1);
    EXPECT_EQ(lastError(), before);

    // The capture is unharmed.
    const Bytes f = testFrame(64, 1);
    send(f);
    host::ByteArray array(8);
    PacketHeaderRecord h{};
    ASSERT_EQ(captureInto(oxCapture, array, h), 1);
    EXPECT_EQ(contents(array, f.size()), f);
}

TEST_F(Loopback, SavedFileCaptureLeavesCopyModeForTheNextLiveCapture)
{
    writeCaptureFile(path("one.pcap"), {{1700000000, 0, 60, testFrame(60, 1)}});
    ASSERT_EQ(setInt(ParamCaptureMode, ModeAlias), 0);
    ASSERT_EQ(setInt(ParamCaptureSource, SourceFile), 0);
    ASSERT_EQ(setText(ParamDumpFileName, path("one.pcap")), 0);
    ASSERT_EQ(oxBegin(kReadTimeoutMs), 0) << lastError();
    CaptureStatsRecord stats{};
    EXPECT_EQ(oxGetStats(&stats), -1) << "a saved file has no counters";
    EXPECT_NE(lastError(), "") << "libpcap says why";
    ASSERT_EQ(oxEnd(), 0);

    ASSERT_EQ(setInt(ParamCaptureSource, SourceLive), 0);
    ASSERT_EQ(oxBegin(kReadTimeoutMs), 0) << lastError();
    const Bytes f = testFrame(70, 2);
    send(f);
    host::ByteArray array(100, 0x5A);
    PacketHeaderRecord h{};
    ASSERT_EQ(captureInto(oxCapture, array, h), 1);
    EXPECT_FALSE(array.aliased()) << "still copy mode, not the alias mode set before the file";
    EXPECT_EQ(contents(array, f.size()), f);
}

// Disk-mode captures on ox1 of a veth pair made for each test (the last one
// is removed first), of frames numbered 0, 1, ... (mod 256) sent on ox0.
class VethPair : public Loopback
{
  protected:
    void SetUp() override
    {
        Loopback::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        ASSERT_EQ(
            std::system(
                "ip link del ox0 2>/dev/null; ip link add ox0 up type veth peer ox1 && ip link set ox1 up"),
            0);
        useAdapter("ox1");
        ASSERT_EQ(setFilter("ether proto 0x88b5") | setInt(ParamCaptureMode, ModeDisk), 0);
    }
    static void sendNumbered(size_t from, size_t to, int gapMs = 0)
    {
        char err[PCAP_ERRBUF_SIZE];
        pcap_t *p = pcap_open_live("ox0", 100, 0, 100, err);
        ASSERT_NE(p, nullptr) << err;
        for (size_t n = from; n < to; ++n, std::this_thread::sleep_for(std::chrono::milliseconds(gapMs)))
            pcap_sendpacket(p, testFrame(60, static_cast<uint8_t>(n)).data(), 60);
        pcap_close(p);
    }
    static void expectNumbered(const std::string &file, size_t from, size_t count)
    {
        const std::vector<SavedPacket> saved = readCaptureFile(file);
        ASSERT_EQ(saved.size(), count) << file;
        for (size_t i = 0; i < count; ++i)
            EXPECT_EQ(saved[i].data, testFrame(60, static_cast<uint8_t>(from + i))) << file;
    }
};

// kill -9 during traffic at 500 frames a second: the file holds every packet
// of the seconds before the last one's, and after a pause all. The host counts
// in shared memory: begun, handed over, of them before the last one's second,
// that second.
TEST_F(VethPair, AKilledHostLeavesItsFileWrittenOut)
{
    const std::string file = path("killed.pcap");
    ASSERT_EQ(setText(ParamDumpFileName, file), 0);
    auto *count = static_cast<std::atomic<int32_t> *>(
        mmap(nullptr, 16, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(count, MAP_FAILED);
    const pid_t host = fork();
    if (host == 0) {
        PacketHeaderRecord h{};
        count[0] = oxBegin(0) == 0;
        for (int32_t r; (r = oxCaptureDiskSafe(&h)) >= 0; count[1] += r)
            if (r == 1 && h.second != count[3])
                count[2] = count[1].load(), count[3] = h.second;
        _exit(1);
    }
    ASSERT_GT(host, 0);
    const auto waitUntil = [](const std::function<bool()> &done) {
        for (int i = 0; i < 500 && !done(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    };
    waitUntil([&] { return count[0] == 1; });
    sendNumbered(0, 300, 2);
    waitUntil([&] { return fileSize(file) == 24 + 300 * 76; });
    EXPECT_EQ(fileSize(file), 24 + 300 * 76) << "all written out at the pause";
    sendNumbered(300, 1300, 2);
    kill(host, SIGKILL);
    waitpid(host, nullptr, 0);
    const size_t inFile = readCaptureFile(file).size();
    EXPECT_GE(inFile, static_cast<size_t>(count[2])) << count[1] << " handed over";
    expectNumbered(file, 0, inFile);
}

// Rotating files: complete, in sequence, the newest 2 kept, a name without an
// extension numbered at its end. The adapter removed under a read waiting
// without a time-out, the read ends with libpcap's reason.
TEST_F(VethPair, RotatingCaptureUntilTheAdapterIsRemoved)
{
    ASSERT_EQ(setText(ParamDumpFileName, path("cap")) | setInt(ParamDumpFileSize, 24 + 3 * 76) |
                  setInt(ParamDumpFileCount, 2) | oxBegin(0),
              0);
    sendNumbered(0, 8);
    ASSERT_EQ(std::system("(sleep 0.5; ip link del ox0) &"), 0);
    int32_t r = 1;
    {
        Watchdog bound(3.5, "a read whose adapter was removed 0.5 s into it");
        for (PacketHeaderRecord h{}; r == 1;)
            r = oxCaptureDiskSafe(&h);
    }
    EXPECT_EQ(r, -1);
    EXPECT_NE(lastError().find("interface"), std::string::npos) << lastError();
    EXPECT_EQ(oxEnd(), 0);
    EXPECT_EQ(fileSize(path("cap_00001")), -1);
    expectNumbered(path("cap_00002"), 3, 3);
    expectNumbered(path("cap_00003"), 6, 2);
}

// Two programs log to one relative name at once, each keeping its newest 3
// files of 2 frames: 6 files are left, each whole.
TEST_F(VethPair, TwoCapturesLogToOneName)
{
    const auto home = std::filesystem::current_path();
    std::filesystem::current_path(path(""));
    ASSERT_EQ(setText(ParamDumpFileName, "cap.pcap") | setInt(ParamDumpFileSize, 24 + 2 * 76) |
                  setInt(ParamDumpFileCount, 3),
              0);
    auto *begun = static_cast<std::atomic<int32_t> *>(
        mmap(nullptr, 4, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(begun, MAP_FAILED);
    pid_t hosts[2];
    for (pid_t &host : hosts)
        if ((host = fork()) == 0) {
            int32_t got = 0;
            if (oxBegin(kReadTimeoutMs) == 0 && ++*begun)
                for (PacketHeaderRecord h{};
                     got < 20 && untilNotTimeout([&] { return oxCaptureDiskSafe(&h); }) == 1;)
                    ++got;
            _exit(got == 20 && oxEnd() == 0 ? 0 : 1);
        }
    std::filesystem::current_path(home);
    for (int i = 0; i < 500 && *begun < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    sendNumbered(0, 20);
    for (pid_t host : hosts) {
        int status = -1;
        EXPECT_TRUE(waitpid(host, &status, 0) == host && status == 0) << "a capture lost a packet";
    }
    std::multiset<int> firsts;
    for (const auto &entry : std::filesystem::directory_iterator(path(""))) {
        const std::vector<SavedPacket> saved = readCaptureFile(entry.path());
        ASSERT_EQ(saved.size(), 2u) << entry.path();
        firsts.insert(saved[0].data[14]);
        expectNumbered(entry.path(), saved[0].data[14], 2);
    }
    EXPECT_EQ(firsts, (std::multiset<int>{14, 14, 16, 16, 18, 18}));
}

// A full disk: a 16 KiB file system holds 2 files of up to 8,000 bytes only
// when the oldest goes before the next is made. The files left are whole.
TEST_F(VethPair, RotationOnAFullDisk)
{
    const std::string disk = path("disk");
    std::filesystem::create_directory(disk);
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=16k") != 0)
        GTEST_SKIP() << "no tmpfs in a private mount namespace: " << std::strerror(errno);
    ASSERT_EQ(setText(ParamDumpFileName, disk + "/cap") | setInt(ParamDumpFileSize, 8000) |
                  setInt(ParamDumpFileCount, 2) | oxBegin(kReadTimeoutMs),
              0);
    sendNumbered(0, 400);
    PacketHeaderRecord h{};
    for (int got = 0; got < 400; ++got)
        ASSERT_EQ(untilNotTimeout([&] { return oxCaptureDiskSafe(&h); }), 1) << got << ": " << lastError();
    EXPECT_EQ(oxEnd(), 0) << lastError();
    expectNumbered(disk + "/cap_00003", 208, 104); // 24 + 104 * 76 bytes
    expectNumbered(disk + "/cap_00004", 312, 88);
    umount2(disk.c_str(), MNT_DETACH);
}

} // namespace
