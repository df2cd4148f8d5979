// Packet delivery in every mode, and sending, against the pcap double.
#include <chrono>
#include <thread>

#include "delivery_fixture.h"

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
