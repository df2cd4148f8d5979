// Packet delivery in every mode, and sending, against the pcap double.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <arpa/inet.h>
#endif

#include "fixture.h"

using host::ByteArray;

namespace
{

std::vector<unsigned char> frame(size_t n)
{
    std::vector<unsigned char> f(n);
    for (size_t i = 0; i < n; ++i)
        f[i] = static_cast<unsigned char>(i * 7 + 1);
    return f;
}

void pushFrame(const std::vector<unsigned char> &f, uint32_t sec = 5, uint32_t usec = 123456)
{
    fake_push_packet(f.data(), static_cast<uint32_t>(f.size()), static_cast<uint32_t>(f.size()) + 4, sec,
                     usec);
}

// Ethernet, IPv4, then UDP (17) or TCP (6) to port, carrying payload (up to
// 200 bytes).
std::vector<unsigned char> ipv4Frame(int protocol, int port, const std::string &payload)
{
    const size_t header = protocol == 6 ? 20 : 8, length = 20 + header + payload.size();
    std::vector<unsigned char> f(14 + length);
    f[12] = 0x08, f[14] = 0x45, f[17] = length, f[23] = protocol, f[36] = port >> 8, f[37] = port;
    f[protocol == 6 ? 46 : 39] = protocol == 6 ? 0x50 : length - 20; // the TCP header's or UDP's length
    std::copy(payload.begin(), payload.end(), f.begin() + 34 + header);
    return f;
}

class Delivery : public LibraryTest
{
  protected:
    void SetUp() override
    {
        LibraryTest::SetUp();
        pkt = frame(60);
    }
    int begin(int32_t mode)
    {
        if (setInt(ParamCaptureMode, mode) != 0)
            return -1;
        return beginLive();
    }
    static bool same(const uint8_t *a, const std::vector<unsigned char> &b)
    {
        return std::memcmp(a, b.data(), b.size()) == 0;
    }
    // oxDecodeName on the first cut bytes of f, delivered in exactly those:
    // "kind:name", "" for none, "bad record" for a record filled otherwise.
    std::string nameOf(const std::vector<unsigned char> &f, size_t cut = SIZE_MAX)
    {
        fake_push_packet(f.data(), uint32_t(std::min(cut, f.size())), uint32_t(f.size()), 5, 0);
        ByteArray arr(4);
        PacketNameRecord n;
        std::memset(&n, 0x5A, sizeof n);
        const int32_t r = ox.oxCapture(arr.var(), &hdr) == 1 ? ox.oxDecodeName(&n) : -1;
        const std::string text(n.name, sizeof n.name), name = text.substr(0, text.find('\0'));
        if (r != (n.kind != 0) || n.length != int32_t(name.size()) || r != !name.empty() ||
            text != name + std::string(text.size() - name.size(), '\0'))
            return "bad record";
        return r ? std::to_string(n.kind) + ":" + name : "";
    }
    std::vector<unsigned char> pkt;
    PacketHeaderRecord hdr{};
};

} // namespace

TEST_F(Delivery, AliasPointsTheArrayAtThePacket)
{
    ASSERT_EQ(begin(ModeAlias), 0);
    ByteArray arr(4);
    pushFrame(pkt);
    ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
    EXPECT_EQ(arr.count(), 60u);
    EXPECT_TRUE(arr.aliased());
    EXPECT_TRUE(same(arr.data(), pkt));
    EXPECT_EQ(arr.locks(), 0u);
    EXPECT_EQ(hdr.capturedLength, 60);
    EXPECT_EQ(hdr.wireLength, 64);
    EXPECT_EQ(hdr.microseconds, 123456);
}

TEST_F(Delivery, CaptureMemCountsOneMore)
{
    ASSERT_EQ(begin(ModeCopy), 0); // the mode is not consulted
    ByteArray arr(4);
    pushFrame(pkt);
    ASSERT_EQ(ox.oxCaptureMem(arr.var(), &hdr), 1);
    EXPECT_EQ(arr.count(), 61u);
    EXPECT_TRUE(arr.aliased());
    EXPECT_TRUE(same(arr.data(), pkt));
    EXPECT_EQ(arr.locks(), 0u);
    EXPECT_EQ(hdr.capturedLength, 60);
}

TEST_F(Delivery, CopyNeedsRoomForThePacket)
{
    ASSERT_EQ(begin(ModeCopy), 0);
    ByteArray small(59, 0xEE);
    pushFrame(pkt);
    EXPECT_EQ(ox.oxCapture(small.var(), &hdr), -1);
    EXPECT_EQ(error(), text::BufferTooSmall);
    EXPECT_EQ(hdr.capturedLength, 60) << "the header is filled all the same";
    EXPECT_EQ(small.count(), 59u);
    EXPECT_EQ(small.data()[0], 0xEE) << "array untouched";
    EXPECT_EQ(small.locks(), 0u);
    EXPECT_EQ(fake_calls("pcap_next_ex"), 1) << "the packet is lost, not read again";

    for (uint32_t size : {60u, 61u}) {
        ByteArray arr(size, 0xEE);
        pushFrame(pkt);
        ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1) << size;
        EXPECT_FALSE(arr.aliased());
        EXPECT_EQ(arr.count(), size);
        EXPECT_TRUE(same(arr.data(), pkt));
        if (size == 61) {
            EXPECT_EQ(arr.data()[60], 0xEE) << "bytes after the packet keep their values";
        }
        EXPECT_EQ(arr.locks(), 0u);
    }
}

TEST_F(Delivery, CaptureMemSafeNeedsOneMore)
{
    ASSERT_EQ(begin(ModeAlias), 0); // the mode is not consulted
    ByteArray arr(60, 0xEE);
    pushFrame(pkt);
    EXPECT_EQ(ox.oxCaptureMemSafe(arr.var()), -1);
    EXPECT_EQ(error(), text::BufferTooSmall);
    EXPECT_EQ(arr.data()[0], 0xEE);
    EXPECT_EQ(arr.locks(), 0u) << "the lock is released on failure";
    ASSERT_TRUE(arr.resize(61)) << "the host can resize after a failure";
    const uint8_t last = arr.data()[60];

    pushFrame(pkt);
    ASSERT_EQ(ox.oxCaptureMemSafe(arr.var()), 1);
    EXPECT_EQ(arr.count(), 61u) << "the element count is not changed";
    EXPECT_TRUE(same(arr.data(), pkt));
    EXPECT_EQ(arr.data()[60], last);
    EXPECT_EQ(arr.locks(), 0u);
}

// The dump is written out for a packet in a new second and when a read finds
// nothing waiting; a failed write-out fails its call, and the capture goes on.
TEST_F(Delivery, DiskModeAppendsToTheDumpAndWritesItOut)
{
    ASSERT_EQ(begin(ModeDisk), 0);
    ByteArray arr(4, 0xEE);
    pushFrame(pkt);
    ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
    EXPECT_EQ(arr.data()[0], 0xEE) << "the array is not touched";
    EXPECT_EQ(arr.count(), 4u);
    EXPECT_EQ(hdr.capturedLength, 60);
    pushFrame(frame(20));
    ASSERT_EQ(ox.oxCaptureDiskSafe(&hdr), 1);
    EXPECT_EQ(hdr.capturedLength, 20);
    unsigned char buf[100];
    ASSERT_EQ(fake_dumped(0, buf, sizeof buf), 60);
    EXPECT_TRUE(same(buf, pkt));
    EXPECT_EQ(fake_dumped(1, buf, sizeof buf), 20);
    EXPECT_EQ(fake_calls("pcap_dump_flush"), 1) << "for the new second, not per packet";
    EXPECT_EQ(ox.oxCaptureDiskSafe(&hdr), 0);
    EXPECT_EQ(fake_calls("pcap_dump_flush"), 2);
    pushFrame(pkt, 4);
    ASSERT_EQ(ox.oxCaptureDiskSafe(&hdr), 1);
    EXPECT_EQ(fake_calls("pcap_dump_flush"), 3) << "the clock stepped back";
    fake_set_return("pcap_dump_flush", -1);
    pushFrame(pkt, 6);
    EXPECT_EQ(ox.oxCaptureDiskSafe(&hdr), -1) << "a packet in a new second";
    pushFrame(pkt, 6);
    ASSERT_EQ(ox.oxCaptureDiskSafe(&hdr), 1);
    EXPECT_EQ(ox.oxCaptureDiskSafe(&hdr), -1) << "nothing waiting";
    EXPECT_EQ(error(), text::DumpWriteFailed);
    PacketSummaryRecord summary;
    EXPECT_EQ(ox.oxDecodePacket(&summary), -1) << "the packet before is not described";
    fake_set_return("pcap_dump_flush", 0);
    pushFrame(pkt, 6);
    EXPECT_EQ(ox.oxCaptureDiskSafe(&hdr), 1);
    EXPECT_EQ(ox.oxEnd(), -1) << "the loss is reported again";
}

// Rotation by size, headers counted; a number another capture took is passed
// over; only this capture's newest 2 files stay, one held open deleted later;
// a new file counts once its header is written out; every loss reaches oxEnd.
TEST_F(Delivery, RotatingDumpFiles)
{
    namespace fs = std::filesystem;
    const fs::path dir = "rotation-test";
    const auto file = [&](int n) { return dir / ("cap_0000" + std::to_string(n) + ".pcap"); };
    fs::remove_all(dir);
    fs::create_directory(dir);
    EXPECT_EQ(setInt(ParamDumpFileCount, -1) & setText(ParamDumpFileSize, "1"), -1) << "numbers of 0 or more";
    ASSERT_EQ(setInt(ParamDumpFileSize, INT32_MAX) | setInt(ParamDumpFileSeconds, INT32_MAX) |
                  setInt(ParamDumpFileCount, INT32_MAX) |
                  setText(ParamDumpFileName, (dir / "cap.pcap").string()) |
                  setInt(ParamDumpFileSize, 24 + 3 * 76 - 1) | setInt(ParamDumpFileSeconds, 0) |
                  setInt(ParamDumpFileCount, 2) | setInt(ParamCaptureMode, ModeDisk) | beginLive(-1),
              0);
    // Packet size; what happens first ('f': another capture makes file 4;
    // 'h', 'o', 'c': the new file's header write-out, its open, the old
    // file's write-out fail); result; the file it went into; write-outs.
    const int steps[][5] = {{60, 0, 1, 1, 1}, {60, 0, 1, 1, 0},     {60, 0, 1, 2, 3},   {60, 0, 1, 2, 0},
                            {59, 0, 1, 2, 0}, {300, 0, 1, 3, 3},    {60, 'f', 1, 5, 3}, {300, 'h', -1, 0, 2},
                            {60, 0, 1, 6, 2}, {300, 'o', -1, 0, 1}, {60, 0, 1, 7, 2},   {300, 'c', -1, 8, 3}};
    PacketSummaryRecord summary;
    for (const auto &step : steps) {
        const int i = static_cast<int>(&step - steps);
#ifdef _WIN32 // a viewer holds the file the count deletes next: file 1 over 2 rotations, 5 up to oxEnd
        static HANDLE viewer;
        if (i == 7 || i == 11) {
            EXPECT_TRUE(fs::exists(file(i == 7 ? 1 : 5)) && !fs::exists(file(2)) && CloseHandle(viewer));
        }
        if (i == 5 || i == 9)
            viewer = CreateFileW(file(i == 5 ? 1 : 5).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
#endif
        if (i == 11) { // only the failed rotations have lost packets so far
            EXPECT_EQ(ox.oxEnd(), -1);
            ASSERT_EQ(beginLive(-1), 0); // files 8 and 9
            pushFrame(frame(300));
            ASSERT_EQ(ox.oxCaptureDiskSafe(&hdr), 1);
        }
        const char *failing = step[1] == 'o' ? "pcap_dump_open" : "pcap_dump_flush";
        if (step[1] == 'f')
            std::ofstream(file(4)).put('x');
        else if (step[1])
            fake_fail(failing, fake_calls(failing) + (step[1] == 'h' ? 2 : 1));
        const int flushes = fake_calls("pcap_dump_flush");
        pushFrame(frame(step[0]));
        const int r = ox.oxCaptureDiskSafe(&hdr);
        EXPECT_EQ(r, step[2]) << step[0] << " bytes, " << step[1];
        EXPECT_EQ(fake_calls("pcap_dump_flush") - flushes, step[4]);
        if (step[3]) {
            EXPECT_EQ(strArg("pcap_dump_open"), fs::absolute(file(step[3] + (i == 11))).string());
        }
        EXPECT_EQ(r < 0 ? error().find(step[1] == 'o' ? text::DumpOpenFailed : text::DumpWriteFailed) : 0,
                  0u);
        EXPECT_EQ(ox.oxDecodePacket(&summary), r == 1 ? 0 : -1);
        if (r < 0 && !step[3]) {
            EXPECT_EQ(ox.oxCaptureDiskSafe(&hdr), 0) << "no file to write out until the next packet";
        }
    }
    EXPECT_EQ(ox.oxEnd(), -1);
    EXPECT_EQ(error(), text::DumpWriteFailed);
    EXPECT_EQ(ox.oxEnd(), 0) << "reported once";
    for (int n = 1; n <= 9; ++n)
        EXPECT_EQ(fs::exists(file(n)), n == 4 || n >= 6) << n;
    ASSERT_EQ(setInt(ParamDumpFileCount, 20) | beginLive(-1), 0); // more files than it first makes room for
    for (int n = 0; n < 40; ++n) {
        pushFrame(frame(300));
        ASSERT_EQ(ox.oxCaptureDiskSafe(&hdr), 1);
    }
    EXPECT_EQ(ox.oxEnd(), 0);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 5 + 20);
    fs::remove_all(dir);
}

// Numbers go on above the highest already there under the name (5 to 10
// digits, any case); the name is a full path from oxBegin on, whatever the
// current folder. Rotation by time alone, to the microsecond.
TEST_F(Delivery, RotatedNamesStayInTheirFolder)
{
    namespace fs = std::filesystem;
    struct Case {
        std::vector<std::u16string> present;
        std::u16string name, first;
    };
    const Case cases[] = {
        {{u"cap_00006.pcap", u"CAP_00007.pcap", u"cap-00009.pcap"}, u"Cap.pcap", u"Cap_00008.pcap"},
        {{u"cap_1000000000.pcap"}, u"cap.pcap", u"cap_1000000001.pcap"},
        {{u".cap_00003"}, u".cap", u".cap_00004"},
#ifdef _WIN32 // trailing spaces and dots dropped, case ignored beyond A to Z, a drive's current folder
        {{u"cap_00004.pcap"}, u"cap.pcap. ", u"cap_00005.pcap"},
        {{u"\u00DCberwachung_00002"}, u"\u00FCberwachung", u"\u00FCberwachung_00003"},
        {{}, u"?:cap", u"cap_00001"},
#endif
    };
    const fs::path home = fs::current_path(), dir = home / "rotation-names";
    for (const Case &c : cases) {
        fake_reset();
        fs::remove_all(dir);
        fs::create_directory(dir);
        for (const std::u16string &name : c.present)
            std::ofstream(dir / name).put('x');
        fs::current_path(dir);
        std::u16string name = c.name, second = c.first;
        if (name[0] == u'?')
            name[0] = dir.u16string()[0];
        ++second[second.find_last_of(u"0123456789")];
        EXPECT_EQ(ox.oxSetParam(ParamDumpFileName, host::Variant::str(name).get()) |
                      setInt(ParamDumpFileSeconds, 2) | begin(ModeDisk),
                  0);
        fs::current_path(home);
        for (uint32_t at : {5900000u, 7100000u, 7900000u}) { // microseconds
            pushFrame(pkt, at / 1000000, at % 1000000);
            EXPECT_EQ(ox.oxCaptureDiskSafe(&hdr), 1);
            EXPECT_EQ(fake_calls("pcap_dump_open"), at < 7900000 ? 1 : 2) << at;
        }
        EXPECT_EQ(ox.oxEnd(), 0);
        EXPECT_TRUE(fs::exists(dir / c.first) && fs::exists(dir / second)) << fs::path(c.first);
    }
    fs::remove_all(dir);
}

TEST_F(Delivery, DiskNeedsADumpWriter)
{
    ASSERT_EQ(begin(ModeAlias), 0);
    pushFrame(pkt);
    EXPECT_EQ(ox.oxCaptureDiskSafe(&hdr), -1);
    EXPECT_EQ(error(), text::NotReady);
    ASSERT_EQ(setInt(ParamCaptureMode, ModeDisk), 0); // switched while running
    ByteArray arr(100);
    EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), -1);
    EXPECT_EQ(error(), text::NotReady);
    EXPECT_EQ(fake_calls("pcap_next_ex"), 0) << "no packet taken";
    ASSERT_EQ(setInt(ParamCaptureMode, ModeCopy), 0); // read on every call
    ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
    EXPECT_FALSE(arr.aliased());
}

TEST_F(Delivery, TimeOutErrorAndEndOfFile)
{
    // A negative time-out reads once: each scripted result is one call's.
    ASSERT_EQ(setInt(ParamCaptureMode, ModeCopy), 0);
    ASSERT_EQ(beginLive(-1), 0);
    ByteArray arr(100, 0xEE);
    hdr.capturedLength = -7;
    fake_push_result(0);
    fake_push_result(0);
    fake_push_result(-1);
    fake_push_result(-2);
    ox.oxSetCurrentAdapter(99); // leaves a known text
    EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), 0);
    EXPECT_EQ(ox.oxCaptureMemSafe(arr.var()), 0);
    EXPECT_EQ(ox.oxCaptureMem(arr.var(), &hdr), -1);
    EXPECT_EQ(error(), "fake pcap error") << "a failed live read says why";
    ox.oxSetCurrentAdapter(99);
    EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), -1);
    EXPECT_EQ(hdr.capturedLength, -7) << "nothing written";
    EXPECT_EQ(arr.data()[0], 0xEE);
    EXPECT_EQ(arr.count(), 100u);
    EXPECT_EQ(error(), text::BadAdapterId) << "the end of a file leaves the text alone";
    ASSERT_EQ(ox.oxEnd() | setInt(ParamCaptureSource, SourceFile) | ox.oxBegin(0), 0);
    fake_push_result(-1);
    EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), -1);
    EXPECT_EQ(error(), text::BadAdapterId) << "so does a saved file's read error";
}

// A read keeps the host's time-out whatever the capture library's: a packet
// that comes while it waits is handed over within milliseconds, an idle read
// ends when the time-out has passed, and a wake-up for nothing (a frame
// libpcap drops) neither ends it early nor starts it again. The bounds are
// loose: they tell these apart, not how fast the machine is.
TEST_F(Delivery, ReadsKeepTheHostsTimeOut)
{
    using namespace std::chrono;
    fake_selectable();
    const auto since = [](steady_clock::time_point t) {
        return duration_cast<milliseconds>(steady_clock::now() - t).count();
    };
    const auto wakeAfter = [](int ms) {
        return std::thread([ms] {
            std::this_thread::sleep_for(milliseconds(ms));
            fake_wake();
        });
    };
    ByteArray arr(100);
    ASSERT_EQ(setInt(ParamCaptureMode, ModeCopy), 0);
    for (int32_t timeout : {0, 1000, 5000}) {
        ASSERT_EQ(beginLive(timeout), 0);
        fake_delay_next(300);
        pushFrame(pkt);
        const auto start = steady_clock::now();
        std::thread arrival = wakeAfter(300);
        EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), 1) << timeout;
        arrival.join();
        PacketSummaryRecord summary;
        EXPECT_EQ(ox.oxDecodePacket(&summary), 0) << "the packet that came during the wait is described";
        EXPECT_LT(since(start), 550) << "a packet 300 ms into a read with time-out " << timeout;
        // A read that fails while it waits ends, saying why. Wake-ups for the
        // first read, the failing one, and a packet a read missing it takes.
        fake_push_result(0);
        fake_push_result(-1);
        pushFrame(pkt);
        for (int i = 0; i < 3; ++i)
            fake_wake();
        EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), -1) << timeout;
        EXPECT_EQ(error(), "fake pcap error");
        fake_reset();
        fake_selectable();
        ASSERT_EQ(ox.oxEnd(), 0);
    }
    ASSERT_EQ(beginLive(1000), 0);
    const auto start = steady_clock::now();
    std::thread nothing = wakeAfter(600);
    EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), 0);
    nothing.join();
    EXPECT_GE(since(start), 1000) << "the idle read ended early";
    EXPECT_LT(since(start), 1500) << "the wake-up started the time-out again";
#ifndef _WIN32
    ASSERT_EQ(ox.oxEnd(), 0);
    ASSERT_EQ(beginLive(0), 0);
    fake_hang_up();
    EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), 0)
        << "a hung-up descriptor is left to the next call, not spun on";
#endif
}

TEST_F(Delivery, NotRunning)
{
    ByteArray arr(100);
    EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), -1);
    EXPECT_EQ(error(), text::NotReady);
    ox.oxSetCurrentAdapter(99);
    EXPECT_EQ(ox.oxCaptureMem(arr.var(), &hdr), -1);
    EXPECT_EQ(error(), text::NotReady);
    ox.oxSetCurrentAdapter(99);
    EXPECT_EQ(ox.oxCaptureMemSafe(arr.var()), -1);
    EXPECT_EQ(error(), text::NotReady);
    ox.oxSetCurrentAdapter(99);
    EXPECT_EQ(ox.oxCaptureDiskSafe(&hdr), -1);
    EXPECT_EQ(error(), text::NotReady);
    ox.oxSetCurrentAdapter(99);
    EXPECT_EQ(ox.oxSendPacket(arr.var()), -1);
    EXPECT_EQ(error(), text::NotReady);
    EXPECT_EQ(fake_calls("pcap_sendpacket"), 0);
}

TEST_F(Delivery, ArrayWithoutDescriptorIsRefusedBeforeAPacketIsTaken)
{
    SAFEARRAY *none = nullptr;
    for (int32_t mode : {ModeAlias, ModeCopy}) {
        fake_reset();
        ASSERT_EQ(begin(mode), 0);
        pushFrame(pkt);
        EXPECT_EQ(ox.oxCapture(&none, &hdr), -1);
        EXPECT_EQ(error(), text::BufferTooSmall);
        EXPECT_EQ(ox.oxCaptureMem(&none, &hdr), -1);
        EXPECT_EQ(ox.oxCaptureMemSafe(&none), -1);
        EXPECT_EQ(ox.oxSendPacket(&none), -1);
        EXPECT_EQ(ox.oxCaptureMem(nullptr, &hdr) & ox.oxCaptureMemSafe(nullptr) & ox.oxSendPacket(nullptr),
                  -1);
        EXPECT_EQ(error(), text::BufferTooSmall) << "no array variable at all";
        EXPECT_EQ(ox.oxCapture(&none, nullptr) & ox.oxCaptureMem(&none, nullptr), -1);
        EXPECT_EQ(error(), text::NoRecord);
        EXPECT_EQ(fake_calls("pcap_next_ex"), 0) << "no packet lost";
        EXPECT_EQ(fake_calls("pcap_sendpacket"), 0);
        ByteArray arr(100);
        EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), 1) << "the packet is still there";
        ASSERT_EQ(ox.oxEnd(), 0);
    }
    fake_reset();
    ASSERT_EQ(begin(ModeDisk), 0);
    pushFrame(pkt);
    EXPECT_EQ(ox.oxCapture(&none, nullptr) & ox.oxCaptureDiskSafe(nullptr), -1);
    EXPECT_EQ(error(), text::NoRecord);
    EXPECT_EQ(ox.oxCapture(&none, &hdr), 1) << "disk mode does not look at the array";
    EXPECT_EQ(none, nullptr);
}

TEST_F(Delivery, Sending)
{
    ASSERT_EQ(begin(ModeAlias), 0);
    ByteArray arr(42, 0x11);
    EXPECT_EQ(ox.oxSendPacket(arr.var()), 0);
    unsigned char buf[64];
    EXPECT_EQ(fake_sent(0, buf, sizeof buf), 42);
    EXPECT_EQ(buf[41], 0x11);
    EXPECT_EQ(arr.locks(), 0u);

    ByteArray empty(0);
    EXPECT_EQ(ox.oxSendPacket(empty.var()), 0) << "handed on; the library answers";
    EXPECT_EQ(fake_arg("pcap_sendpacket", 0), 0);

    ox.oxSetCurrentAdapter(99);
    fake_set_return("pcap_sendpacket", -1);
    EXPECT_EQ(ox.oxSendPacket(arr.var()), -1);
    EXPECT_EQ(error(), text::BadAdapterId) << "a refused send leaves the text alone";
}

TEST_F(Delivery, SendWorksOnASavedFileHandleToo)
{
    ASSERT_EQ(setInt(ParamCaptureSource, SourceFile), 0);
    ASSERT_EQ(ox.oxBegin(0), 0);
    ByteArray arr(14);
    EXPECT_EQ(ox.oxSendPacket(arr.var()), 0);
}

// The C runtime reads the zone at its first conversion; tzset makes it read again.
void useZone(const char *tz)
{
#ifdef _WIN32
    _putenv_s("TZ", tz);
    _tzset();
    // msvcrt reading TZ leaves the daylight-saving bias as it was: 0 after a
    // host zone without daylight saving, so that a TZ read later would never
    // apply it. Hosts don't change zones; tests do.
    _dstbias = -3600;
#else
    setenv("TZ", tz, 1);
    tzset();
#endif
}

TEST_F(Delivery, HeaderTimeIsLocalTimeOfTheLow32Bits)
{
    useZone("UTC0");
    ASSERT_EQ(begin(ModeCopy), 0);
    ByteArray arr(100);
    pushFrame(pkt, 5, 999999);
    ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
    EXPECT_EQ(hdr.hour, 0);
    EXPECT_EQ(hdr.minute, 0);
    EXPECT_EQ(hdr.second, 5);
    EXPECT_EQ(hdr.microseconds, 999999);

    // 2^32 - 1 seconds read as unsigned: 2106-02-07 06:28:15 UTC.
    pushFrame(pkt, 0xFFFFFFFFu, 1);
    ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
    EXPECT_EQ(hdr.hour, 6);
    EXPECT_EQ(hdr.minute, 28);
    EXPECT_EQ(hdr.second, 15);

    // Packets within one second share their clock; the next second moves on,
    // also back to second 0, the value a cache starts from.
    pushFrame(pkt, 3599, 0);
    pushFrame(pkt, 3599, 500000);
    pushFrame(pkt, 3600, 0);
    pushFrame(pkt, 0, 0);
    int32_t seen[4];
    for (int32_t &s : seen) {
        ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
        s = hdr.hour * 3600 + hdr.minute * 60 + hdr.second;
    }
    EXPECT_EQ(seen[0], 3599);
    EXPECT_EQ(seen[1], 3599);
    EXPECT_EQ(seen[2], 3600);
    EXPECT_EQ(seen[3], 0);
}

TEST_F(Delivery, HeaderTimeInAHalfHourZone)
{
    useZone("IST-5:30");
    ASSERT_EQ(begin(ModeCopy), 0);
    ByteArray arr(100);
    // Second 0 first: a clock cache that started out valid would give 00:00:00.
    pushFrame(pkt, 0, 42);
    ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
    useZone("UTC0");
    EXPECT_EQ(hdr.hour, 5);
    EXPECT_EQ(hdr.minute, 30);
    EXPECT_EQ(hdr.second, 0);
    EXPECT_EQ(hdr.microseconds, 42);
}

// The date and time record, on both sides of a daylight-saving change and of
// midnight, in a zone west of UTC and in one half an hour off the hour; its
// clock is the header record's.
TEST_F(Delivery, PacketTimeIsTheLocalDateWithTheOffsetOfThatInstant)
{
    struct Row {
        const char *zone;
        uint32_t seconds, microseconds;
        int32_t vbDay, clock, offset; // the clock in seconds of the day
    };
    const Row rows[] = {{"EST5EDT", 1678597199, 0, 44996, 86399, -300},     // 2023-03-11 23:59:59
                        {"EST5EDT", 1678597200, 500000, 44997, 0, -300},    // 2023-03-12 00:00:00.5
                        {"EST5EDT", 1678604399, 999999, 44997, 7199, -300}, // 01:59:59.999999 EST
                        {"EST5EDT", 1678604400, 0, 44997, 10800, -240},     // 03:00:00 EDT
                        {"IST-5:30", 66599, 250000, 25569, 86399, 330},     // 1970-01-01 23:59:59.25
                        {"IST-5:30", 66600, 0, 25570, 0, 330}};
    ASSERT_EQ(begin(ModeCopy), 0);
    ByteArray arr(100);
    PacketTimeRecord t;
    for (const Row &r : rows) {
        useZone(r.zone);
        pushFrame(pkt, r.seconds, r.microseconds);
        ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
        ASSERT_EQ(ox.oxGetPacketTime(&t), 0);
        EXPECT_EQ(hdr.hour * 3600 + hdr.minute * 60 + hdr.second, r.clock) << r.seconds;
        EXPECT_NEAR(t.localDate, r.vbDay + (r.clock + r.microseconds / 1e6) / 86400, 1e-6 / 86400)
            << r.seconds;
        EXPECT_DOUBLE_EQ(t.unixSeconds, r.seconds + r.microseconds / 1e6);
        EXPECT_EQ(t.microseconds, static_cast<int32_t>(r.microseconds));
        EXPECT_EQ(t.utcOffsetMinutes, r.offset) << r.seconds;
    }
    useZone("UTC0");
}

TEST_F(Delivery, LockCountIsBackAfterEveryPath)
{
    // A fresh array each time: an aliased one points at memory the next read frees.
    auto allPaths = [&] {
        for (auto mode : {ModeAlias, ModeCopy, ModeDisk}) {
            ByteArray arr(61);
            setInt(ParamCaptureMode, mode);
            pushFrame(pkt);
            ox.oxCapture(arr.var(), &hdr);
            EXPECT_EQ(arr.locks(), 0u) << mode;
        }
        ByteArray mem(61);
        pushFrame(pkt);
        ox.oxCaptureMem(mem.var(), &hdr);
        EXPECT_EQ(mem.locks(), 0u);
        ByteArray small(10);
        pushFrame(pkt);
        ox.oxCaptureMemSafe(small.var());
        setInt(ParamCaptureMode, ModeCopy);
        pushFrame(pkt);
        ox.oxCapture(small.var(), &hdr);
        EXPECT_EQ(small.locks(), 0u);
        ox.oxSendPacket(small.var());
        EXPECT_EQ(small.locks(), 0u);
    };
    allPaths(); // not running
    ASSERT_EQ(begin(ModeDisk), 0);
    allPaths();
}

TEST_F(Delivery, DecodeDescribesOnlyAPacketJustDelivered)
{
    PacketSummaryRecord summary, untouched;
    std::memset(&untouched, 0x5A, sizeof untouched);
    summary = untouched;
    ByteArray arr(59);
    EXPECT_EQ(ox.oxDecodePacket(&summary), -1); // no capture yet
    EXPECT_EQ(error(), text::NotReady);
    ASSERT_EQ(begin(ModeCopy), 0);
    pushFrame(pkt);
    pushFrame(pkt);
    PacketNameRecord name;
    PacketTimeRecord time;
    EXPECT_EQ(ox.oxDecodeName(&name) & ox.oxGetPacketTime(&time), -1);
    EXPECT_EQ(error(), text::NoPacketYet) << "a capture is open";
    EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), -1); // the packet was lost: too short
    EXPECT_EQ(ox.oxDecodePacket(&summary), -1);
    EXPECT_EQ(ox.oxCaptureMem(arr.var(), &hdr), 1);
    EXPECT_EQ(ox.oxDecodePacket(nullptr) & ox.oxDecodeName(nullptr) & ox.oxGetPacketTime(nullptr), -1);
    EXPECT_EQ(error(), text::NoRecord);
    EXPECT_EQ(ox.oxDecodePacket(&summary), 0);
    EXPECT_EQ(summary.linkType, 1);
    EXPECT_TRUE(same(summary.destinationMac, {pkt.begin(), pkt.begin() + 6}));
    EXPECT_EQ(ox.oxCapture(arr.var(), nullptr), -1); // takes no packet, forgets the last
    EXPECT_EQ(ox.oxDecodePacket(&summary), -1);
    EXPECT_EQ(error(), text::NoPacketYet);
    EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), 0); // time-out
    summary = untouched;
    EXPECT_EQ(ox.oxDecodePacket(&summary), -1);
    pushFrame(pkt);
    EXPECT_EQ(ox.oxCaptureMem(arr.var(), &hdr), 1);
    EXPECT_EQ(ox.oxEnd(), 0);
    EXPECT_EQ(ox.oxDecodePacket(&summary), -1);
    EXPECT_EQ(error(), text::NotReady);
    EXPECT_EQ(std::memcmp(&summary, &untouched, sizeof summary), 0);
}

using namespace std::string_literals;

TEST_F(Delivery, NameOfADnsQuestion)
{
    ASSERT_EQ(begin(ModeAlias), 0);
    const std::string query = "\x12\x34\x01\0\0\x01\0\0\0\0\0\0"s;
    // A label's own dot, backslash and control bytes as \DDD, its space kept.
    EXPECT_EQ(nameOf(ipv4Frame(17, 53, query + "\x07x.y\\\x07 z\x04host\0"s)), "1:x\\046y\\092\\007 z.host");
    // Loops: a pointer to itself, and a label before a pointer back to it.
    EXPECT_EQ(nameOf(ipv4Frame(17, 53, query + "\xC0\x0C"s)), "");
    EXPECT_EQ(nameOf(ipv4Frame(17, 53, query + "\x01x\xC0\x0C"s)), "");
    // 255 bytes of text fit the record; 256 are no name.
    const std::string escaped = query + '\x3F' + std::string(62, '\x01') + 'b'; // 249 bytes as text
    EXPECT_EQ(nameOf(ipv4Frame(17, 53, escaped + "\x05zzzzz\0"s)).size(), 2 + 255u);
    EXPECT_EQ(nameOf(ipv4Frame(17, 53, escaped + "\x06zzzzzz\0"s)), "");
    // Over TCP the message is as long as its 2-byte prefix says.
    EXPECT_EQ(nameOf(ipv4Frame(6, 53, "\0\x11"s + query + "\x03www\0"s)), "1:www");
    EXPECT_EQ(nameOf(ipv4Frame(6, 53, "\0\x10"s + query + "\x03www\0"s)), "");
}

// Each kind's packet cut at every length, delivered in exactly its bytes so
// that ASan sees a read past the end: a name once it is whole, and from a
// whole ClientHello only.
TEST_F(Delivery, NameNeverReadsPastTheCapturedLength)
{
    ASSERT_EQ(begin(ModeAlias), 0);
    auto vec = [](const std::string &s) { return std::string{char(s.size() >> 8), char(s.size())} + s; };
    const std::string hello = "\x03\x03"s + std::string(33, 0) + vec("\x13\x01") + "\x01\0"s +
                              vec("\0\0"s + vec(vec("\0"s + vec("www.host.org"))) + "\0\x17\0\0"s);
    const struct {
        std::vector<unsigned char> frame;
        size_t after; // bytes after the name's end
        std::string name;
    } cases[] = {
        {ipv4Frame(17, 53, "\x12\x34\x81\x80\0\x01\0\0\0\0\0\0\x03www\xC0\x16\0\x01\0\x01\x04host\x03org\0"s),
         0, "2:www.host.org"},
        {ipv4Frame(6, 443, "\x16\x03\x01"s + vec("\x01\0"s + vec(hello))), 0, "3:www.host.org"},
        {ipv4Frame(6, 80, "GET /a HTTP/1.1\r\nUser-Agent: t\r\nhOsT: \t www.host.org:80 \r\n\r\n"), 2,
         "4:www.host.org:80"},
    };
    for (const auto &c : cases)
        for (size_t cut = 0; cut <= c.frame.size(); ++cut)
            ASSERT_EQ(nameOf(c.frame, cut), cut + c.after >= c.frame.size() ? c.name : "") << cut;
    EXPECT_EQ(nameOf(ipv4Frame(6, 80, "GET / HTTP/1.1\r\n\r\nHost: a\r\n")), ""); // after the headers
}

// Every cut of a tagged IPv6 packet with extension headers and TCP options,
// delivered in exactly its bytes, so that ASan sees any read past the end.
TEST_F(Delivery, DecodeNeverReadsPastTheCapturedLength)
{
    const unsigned char head[] = {1,    2,    3,    4,    5,    6,    7,    8,    9,    10,
                                  11,   12,   0x88, 0xA8, 0x20, 0x05, 0x81, 0x00, 0x00, 0x07,
                                  0x86, 0xDD, 0x60, 0,    0,    0,    0,    44,   0,    64};
    const unsigned char tail[] = {44, 0,  1,    2,    3,   4,   5,   6,        // hop-by-hop, 8 bytes
                                  6,  0,  0,    1,    0,   0,   0,   9,        // first fragment, more follow
                                  0,  80, 0x1F, 0x90, 0,   0,   0,   1,  0, 0, // TCP: ports 80 > 8080
                                  0,  0,  0x60, 0x12, 0,   0,   0,   0,  0, 0, // 24-byte header, SYN+ACK
                                  2,  4,  5,    0xB4, 'd', 'a', 't', 'a'};
    std::vector<unsigned char> f(sizeof head + 32 + sizeof tail, 0x20); // addresses all 0x20
    std::memcpy(f.data(), head, sizeof head);
    std::memcpy(f.data() + sizeof head + 32, tail, sizeof tail);
    ByteArray arr(4);
    ASSERT_EQ(begin(ModeAlias), 0);
    PacketSummaryRecord r;
    for (size_t cut = 0; cut <= f.size(); ++cut) {
        fake_push_packet(f.data(), static_cast<uint32_t>(cut), static_cast<uint32_t>(f.size()), 5, 0);
        ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
        ASSERT_EQ(ox.oxDecodePacket(&r), 0);
        EXPECT_EQ(r.ipVersion, cut >= 62 ? 6 : 0);
        EXPECT_EQ(r.tcpFlags, cut >= 92 ? 0x12 : -1) << cut;
    }
    EXPECT_EQ(r.vlanId, 5);
    EXPECT_EQ(r.destinationPort, 8080);
    EXPECT_EQ(r.payloadOffset, 102);
    EXPECT_EQ(r.payloadLength, 4); // 44 declared, less 16 of extensions and 24 of TCP
}

namespace
{

std::vector<unsigned char> hex(const std::string &text)
{
    std::vector<unsigned char> out;
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] != ' ')
            out.push_back(static_cast<unsigned char>(std::stoi(text.substr(i++, 2), nullptr, 16)));
    return out;
}

// Headers in hex: Ethernet (source MAC 02:...), IPv4 192.0.2.1 > 192.0.2.2,
// IPv6 with addresses of 0x22 bytes, UDP 53 > 1024, a 20-byte TCP header 80 > 8080.
const std::string kEth = "0a0b0c0d0e0f 020304050607 ", kUdp8 = "0035 0400 0008 0000 ",
                  kTcp = "0050 1f90 00000001 00000000 5012 0000 0000 0000 ";
std::string v4(const char *totalLength, const char *protocol)
{
    return std::string("4500") + totalLength + "00000000 40" + protocol + "0000 c0000201 c0000202 ";
}
std::string v6(const char *payloadLength, const char *next)
{
    return std::string("60000000") + payloadLength + next + "40" + std::string(64, '2') + " ";
}

} // namespace

// Crafted frames for the decoder's paths that no saved capture takes.
TEST_F(Delivery, DecodeCraftedFrames)
{
    ByteArray arr(200);
    PacketSummaryRecord r;
    // want: etherType vlanId ipVersion protocol ports(2) icmp(2) payloadOffset payloadLength sourceMac[0]
    auto decoded = [&](const char *what, int32_t link, std::vector<int32_t> want, const std::string &bytes) {
        const std::vector<unsigned char> f = hex(bytes);
        fake_set_linktype(link);
        ASSERT_EQ(begin(ModeCopy), 0);
        fake_push_packet(f.data(), static_cast<uint32_t>(f.size()), 1500, 5, 0);
        ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
        ASSERT_EQ(ox.oxDecodePacket(&r), 0);
        EXPECT_EQ(std::vector<int32_t>({r.etherType, r.vlanId, r.ipVersion, r.protocol, r.sourcePort,
                                        r.destinationPort, r.icmpType, r.icmpCode, r.payloadOffset,
                                        r.payloadLength, r.sourceMac[0]}),
                  want)
            << what;
        ASSERT_EQ(ox.oxEnd(), 0);
    };
    decoded("0x9100 tag", 1, {0x800, 7, 4, 17, 53, 1024, -1, -1, 46, 0, 2},
            kEth + "9100 0007 0800" + v4("001c", "11") + kUdp8);
    decoded("0x0600 is a type", 1, {0x600, -1, 0, -1, -1, -1, -1, -1, -1, -1, 2}, kEth + "0600 00000000");
    decoded("13 bytes: no MACs", 1, {-1, -1, 0, -1, -1, -1, -1, -1, -1, -1, 0}, kEth + "08");
    decoded("padding after the datagram", 1, {0x800, -1, 4, 1, -1, -1, 8, -1, 34, 1, 2},
            kEth + "0800" + v4("0015", "01") + "08" + std::string(50, '0'));
    decoded("IPv4 length 0 (offload)", 1, {0x800, -1, 4, 6, 80, 8080, -1, -1, 54, 2, 2},
            kEth + "0800" + v4("0000", "06") + kTcp + "6869");
    decoded("destination options", 1, {0x86DD, -1, 6, 17, 53, 1024, -1, -1, 70, 0, 2},
            kEth + "86dd" + v6("0010", "3c") + "1100 0000 00000000" + kUdp8);
    decoded("nothing after the extensions", 1, {0x86DD, -1, 6, 59, -1, -1, -1, -1, 62, 0, 2},
            kEth + "86dd" + v6("0008", "00") + "3b00 0000 00000000");
    decoded("IPv6 on macOS loopback", 0, {0x86DD, -1, 6, 17, 53, 1024, -1, -1, 52, 0, 0},
            "1e000000" + v6("0008", "11") + kUdp8);
    decoded("SLL2 source MAC", 276, {0x800, -1, 4, 17, 53, 1024, -1, -1, 48, 0, 2},
            "0800 0000 00000001 0001 00 06 020304050607 0000" + v4("001c", "11") + kUdp8);
    decoded("cut SLL2 header", 276, {-1, -1, 0, -1, -1, -1, -1, -1, -1, -1, 2},
            "0800 0000 00000001 0001 00 06 020304050607");
    decoded("IPv6 length 0 behind hop-by-hop", 1, {0x86DD, -1, 6, 6, 80, 8080, -1, -1, 82, 2, 2},
            kEth + "86dd" + v6("0000", "00") + "0600 0000 00000000" + kTcp + "6869");
    decoded("payload past the capture", 1, {0x800, -1, 4, 6, 80, 8080, -1, -1, -1, 20, 2},
            kEth + "0800" + v4("0064", "06") + "0050 1f90 00000001 00000000 f012 0000 0000 0000");
    decoded("UDP length past the IP payload", 1, {0x800, -1, 4, 17, 53, 1024, -1, -1, 42, 4, 2},
            kEth + "0800" + v4("0020", "11") + "0035 0400 0064 0000 61626364");
    decoded("ICMPv6's number in IPv4", 1, {0x800, -1, 4, 58, -1, -1, -1, -1, 34, 8, 2},
            kEth + "0800" + v4("001c", "3a") + "8000 0000 00000000");
    decoded("ICMP's number in IPv6", 1, {0x86DD, -1, 6, 1, -1, -1, -1, -1, 54, 8, 2},
            kEth + "86dd" + v6("0008", "01") + "0800 0000 00000000");
}

#ifndef _WIN32
// Address texts as inet_ntop writes them: edge addresses, then random ones with
// runs of zero groups, and every byte value first in IPv4.
TEST_F(Delivery, DecodedAddressesReadAsInetNtopWritesThem)
{
    const char *const edges[] = {"::",         "::1",     "1::",          "::ffff:1.2.3.4",
                                 "1:0:0:2::3", "::1:2:3", "1::2:0:0:3:4", "1:0:2:3:4:5:6:7",
                                 "::ffff:0:0"};
    std::vector<unsigned char> frames[] = {hex(kEth + "0800" + v4("001c", "11") + kUdp8),
                                           hex(kEth + "86dd" + v6("0008", "11") + kUdp8)};
    ByteArray arr(100);
    PacketSummaryRecord r;
    char want[INET6_ADDRSTRLEN];
    ASSERT_EQ(begin(ModeCopy), 0);
    for (int i = 0; i < 4000; ++i) {
        const int six = i % 2, n = i / 2;
        unsigned char *a = &frames[six][six ? 22 : 26];
        for (int k = 0; k < (six ? 16 : 4); k += 2) {
            const int group = six ? (std::rand() % 2 ? 0 : std::rand() % (k % 4 ? 16 : 65536)) : std::rand();
            a[k] = static_cast<unsigned char>(six || k ? group >> 8 : n);
            a[k + 1] = static_cast<unsigned char>(group);
        }
        if (six && n < 9)
            inet_pton(AF_INET6, edges[n], a);
        fake_push_packet(frames[six].data(), static_cast<uint32_t>(frames[six].size()), 60, 5, 0);
        ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
        ASSERT_EQ(ox.oxDecodePacket(&r), 0);
        inet_ntop(six ? AF_INET6 : AF_INET, a, want, sizeof want);
        // glibc keeps the dotted form of IPv4-compatible addresses (::a.b.c.d), which RFC 5952 drops.
        if (std::strncmp(want, "::", 2) || !std::strchr(want, '.') || !std::strncmp(want, "::ffff:", 7)) {
            EXPECT_STREQ(r.sourceAddress, want) << i;
        }
    }
}
#endif
