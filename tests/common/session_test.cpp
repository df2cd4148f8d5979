// Starting and ending captures against the pcap double.
#include "fixture.h"

namespace
{

const unsigned char kMask[4] = {255, 255, 0, 0};

class Session : public LibraryTest
{
  protected:
    // Nothing is open and the library is idle: capture calls say not ready.
    void expectIdle()
    {
        EXPECT_EQ(fake_open_handles(), 0);
        EXPECT_EQ(fake_open_dumpers(), 0);
        PacketHeaderRecord hdr{};
        host::ByteArray arr(10);
        EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), -1);
        EXPECT_EQ(error(), text::NotReady);
    }

    // After a saved-file start the mode stays copy: a live capture then
    // refuses an array shorter than the packet instead of aliasing it.
    void expectCopyModeLeftBehind()
    {
        ASSERT_EQ(setInt(ParamCaptureSource, SourceLive), 0);
        ASSERT_EQ(beginLive(), 0);
        unsigned char frame[30] = {};
        fake_push_packet(frame, 30, 30, 0, 0);
        host::ByteArray arr(10);
        PacketHeaderRecord hdr{};
        EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), -1);
        EXPECT_EQ(error(), text::BufferTooSmall);
    }
};

} // namespace

TEST_F(Session, LiveStartUsesTheSettings)
{
    ASSERT_EQ(setInt(ParamSnapLength, 1514), 0);
    ASSERT_EQ(setInt(ParamPromiscuous, 0), 0);
    ASSERT_EQ(beginLive(250), 0);
    EXPECT_EQ(liveOpens(), 1);
    EXPECT_EQ(openedSnapLength(), 1514);
    EXPECT_EQ(openedPromiscuous(), 0);
    EXPECT_EQ(openedTimeout(), 8) << "the driver's own time-out is short; the reads keep the host's";
    // Shorter positive time-outs go as they are. Npcap takes only -1 as "don't
    // wait"; libpcap on Linux keeps its short block time-out for negatives.
    const bool npcap = fake_calls("pcap_open_live") > 0;
    for (const auto &[hostMs, expected] :
         {std::pair{5, 5}, {1, 1}, {-1, npcap ? -1 : 8}, {-5, npcap ? -1 : 8}}) {
        ASSERT_EQ(ox.oxEnd(), 0);
        ASSERT_EQ(ox.oxBegin(hostMs), 0);
        EXPECT_EQ(openedTimeout(), expected) << "host time-out " << hostMs;
    }
    EXPECT_EQ(fake_arg(bufferCall(), 0), 4096000);
    EXPECT_EQ(fake_calls("pcap_dump_open"), 0) << "alias mode writes no dump";
    EXPECT_EQ(fake_calls("pcap_compile"), 0) << "no filter set";
    EXPECT_EQ(error(), "") << "a clean start writes no text";
}

TEST_F(Session, BeginTwiceKeepsTheFirstCapture)
{
    ASSERT_EQ(beginLive(), 0);
    EXPECT_EQ(ox.oxBegin(100), -1);
    EXPECT_EQ(error(), text::NotReady);
    EXPECT_EQ(liveOpens(), 1);
    EXPECT_EQ(fake_open_handles(), 1);
    unsigned char frame[20] = {};
    fake_push_packet(frame, 20, 20, 1, 0);
    host::ByteArray arr(64);
    PacketHeaderRecord hdr{};
    EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), 1) << "the first capture still delivers";
}

TEST_F(Session, EndTwiceClosesNothingTwice)
{
    EXPECT_EQ(ox.oxEnd(), 0) << "no capture";
    ASSERT_EQ(setInt(ParamCaptureMode, ModeDisk), 0);
    ASSERT_EQ(beginLive(), 0);
    EXPECT_EQ(ox.oxEnd(), 0);
    EXPECT_EQ(ox.oxEnd(), 0);
    EXPECT_EQ(fake_calls("pcap_close"), 1);
    EXPECT_EQ(fake_calls("pcap_dump_close"), 1);
    expectIdle();
}

TEST_F(Session, LiveStartWithoutAdapter)
{
    EXPECT_EQ(ox.oxBegin(100), -1) << "no OndrixInit yet";
    EXPECT_EQ(error(), text::NotReady);
    EXPECT_EQ(liveOpens(), 0);
}

TEST_F(Session, OpenFailureReplacesTheCaptureLibraryText)
{
    fake_set_error("no such device");
    fake_fail("pcap_open_live", 0);
    fake_fail("pcap_create", 0);
    EXPECT_EQ(beginLive(), -1);
    EXPECT_EQ(error(), text::OpenFailed);
    expectIdle();
}

TEST_F(Session, DumpOpenFailureClosesTheAdapter)
{
    ASSERT_EQ(setInt(ParamCaptureMode, ModeDisk), 0);
    ASSERT_EQ(setText(ParamDumpFileName, "missing/dir/x.cap"), 0);
    fake_fail("pcap_dump_open", 1);
    EXPECT_EQ(beginLive(), -1);
    EXPECT_EQ(error(), text::DumpOpenFailed);
    EXPECT_EQ(strArg("pcap_dump_open"), "missing/dir/x.cap");
    expectIdle();
    EXPECT_EQ(ox.oxBegin(100), 0) << "the next start succeeds";
    EXPECT_EQ(fake_open_dumpers(), 1);
}

TEST_F(Session, FilterFailuresCloseEverythingWithTheLibraryText)
{
    ASSERT_EQ(setInt(ParamCaptureMode, ModeDisk), 0);
    ASSERT_EQ(setText(ParamFilter, "tcp port"), 0);
    for (const char *failing : {"pcap_compile", "pcap_setfilter"}) {
        fake_reset();
        fake_fail(failing, 1);
        fake_set_error(failing);
        EXPECT_EQ(beginLive(), -1) << failing;
        EXPECT_EQ(error(), failing);
        EXPECT_EQ(fake_calls("pcap_dump_open"), 1) << "the dump file is made before the filter";
        EXPECT_EQ(strArg("pcap_compile"), "tcp port");
        EXPECT_EQ(fake_arg("pcap_compile", 0), 1) << "optimised";
        expectIdle();
        EXPECT_EQ(fake_open_programs(), 0) << failing;
    }
}

TEST_F(Session, FilterIsInstalledAndReleased)
{
    ASSERT_EQ(setText(ParamFilter, "udp"), 0);
    ASSERT_EQ(beginLive(), 0);
    EXPECT_EQ(fake_calls("pcap_setfilter"), 1);
    EXPECT_EQ(fake_calls("pcap_freecode"), 1);
    EXPECT_EQ(fake_open_programs(), 0);
    ASSERT_EQ(ox.oxEnd(), 0);
    EXPECT_EQ(setText(ParamFilter, ""), -1) << "code 9 still refuses an empty text";
    EXPECT_EQ(ox.oxSetParam(ParamClearFilter, host::Variant::r8(1.5).get()), 0) << "whatever the value";
    ASSERT_EQ(setText(ParamFilter, "udp") | ox.oxSetParam(ParamClearFilter, nullptr) | beginLive(), 0);
    EXPECT_EQ(fake_calls("pcap_compile"), 1) << "every packet again";
}

TEST_F(Session, NetmaskComesFromTheFirstAddressOnly)
{
    ASSERT_EQ(setText(ParamFilter, "ip"), 0);
    fake_add_adapter("eth0", "with addresses");
    fake_add_address(0, 10, kMask); // any family: bytes 4-7 count
    fake_add_address(0, 2, reinterpret_cast<const unsigned char *>("\x01\x02\x03\x04"));
    fake_add_adapter("eth1", "no addresses");
    fake_add_adapter("eth2", "first address without netmask");
    fake_add_address(2, 2, nullptr);
    fake_add_address(2, 2, kMask);
    ASSERT_EQ(ox.OndrixInit(), 3);

    const uint32_t defaultMask = 0x00FFFFFFu;
    uint32_t firstMask;
    std::memcpy(&firstMask, kMask, 4);
    const struct {
        int adapter;
        uint32_t mask;
    } cases[] = {{0, firstMask}, {1, defaultMask}, {2, defaultMask}};
    for (auto c : cases) {
        ASSERT_EQ(ox.oxSetCurrentAdapter(c.adapter), 0);
        ASSERT_EQ(ox.oxBegin(10), 0);
        EXPECT_EQ(static_cast<uint32_t>(fake_arg("pcap_compile", 1)), c.mask) << c.adapter;
        ASSERT_EQ(ox.oxEnd(), 0);
    }
}

TEST_F(Session, DriverBufferRequests)
{
    for (int32_t size : {0, -1}) {
        fake_reset();
        ASSERT_EQ(setInt(ParamKernelBufferSize, size), 0);
        ASSERT_EQ(beginLive(), 0);
        EXPECT_EQ(bufferRequests(), 0) << size;
        ASSERT_EQ(ox.oxEnd(), 0);
    }
    fake_reset();
    ASSERT_EQ(setInt(ParamKernelBufferSize, 1 << 20), 0);
    fake_set_return("pcap_setbuff", -1);
    fake_set_return("pcap_set_buffer_size", -1);
    EXPECT_EQ(beginLive(), 0) << "a refused buffer does not stop the start";
    EXPECT_EQ(fake_arg(bufferCall(), 0), 1 << 20);
    EXPECT_EQ(error(), text::KernelBufferFailed);
}

TEST_F(Session, ResizingTheDriverBuffer)
{
    EXPECT_EQ(ox.oxSetKernelBuffSize(1000), -1);
    EXPECT_EQ(error(), text::NotReady);
    ASSERT_EQ(beginLive(), 0);
    // libpcap can't resize an active handle; the Windows port can.
    const int expected = fake_calls("pcap_open_live") ? 0 : -1;
    EXPECT_EQ(ox.oxSetKernelBuffSize(1000), expected);
    EXPECT_EQ(error(), text::NotReady) << "a refusal leaves the text alone";
}

TEST_F(Session, SavedFileSourceTurnsCopyModeOn)
{
    ASSERT_EQ(setInt(ParamCaptureSource, SourceFile), 0);
    ASSERT_EQ(setInt(ParamCaptureMode, ModeDisk), 0);
    ASSERT_EQ(setText(ParamDumpFileName, "in.pcap"), 0);
    ASSERT_EQ(ox.oxBegin(0), 0) << "no adapter is needed";
    EXPECT_EQ(strArg("pcap_open_offline"), "in.pcap");
    EXPECT_EQ(fake_calls("pcap_dump_open"), 0) << "a saved file never writes a dump";
    EXPECT_EQ(liveOpens(), 0);
    ASSERT_EQ(ox.oxEnd(), 0);

    expectCopyModeLeftBehind();
}

TEST_F(Session, SavedFileFailures)
{
    ASSERT_EQ(setInt(ParamCaptureSource, SourceFile), 0);
    fake_set_error("No such file or directory");
    fake_fail("pcap_open_offline", 1);
    EXPECT_EQ(ox.oxBegin(0), -1);
    EXPECT_EQ(error(), text::DumpOpenFailed);
    expectIdle();

    // A failing filter still leaves copy mode behind.
    ASSERT_EQ(setText(ParamFilter, "bad"), 0);
    fake_fail("pcap_compile", 0);
    EXPECT_EQ(ox.oxBegin(0), -1);
    ASSERT_EQ(setText(ParamFilter, "ip"), 0);
    fake_reset();
    expectCopyModeLeftBehind();
}

TEST_F(Session, LostDumpDataIsReported)
{
    ASSERT_EQ(setInt(ParamCaptureMode, ModeDisk), 0);
    ASSERT_EQ(beginLive(), 0);
    fake_set_return("pcap_dump_flush", -1);
    EXPECT_EQ(ox.oxEnd(), -1);
    EXPECT_EQ(error(), text::DumpWriteFailed);
    EXPECT_EQ(fake_calls("pcap_dump_close"), 1) << "closed all the same";
    expectIdle();
    EXPECT_EQ(ox.oxEnd(), 0);
}

TEST_F(Session, SettingsChangedWhileRunningWaitForTheNextStart)
{
    ASSERT_EQ(listAdapters(2), 2);
    ASSERT_EQ(ox.oxBegin(10), 0);
    ASSERT_EQ(setInt(ParamSnapLength, 96), 0);
    ASSERT_EQ(ox.oxSetCurrentAdapter(1), 0);
    EXPECT_EQ(ox.OndrixInit(), 2) << "a new list while running";
    EXPECT_EQ(fake_open_handles(), 1);
    ASSERT_EQ(ox.oxEnd(), 0);
    ASSERT_EQ(ox.oxSetCurrentAdapter(1), 0);
    ASSERT_EQ(ox.oxBegin(10), 0);
    EXPECT_EQ(openedSnapLength(), 96);
    EXPECT_EQ(openedName(), "eth1");
}

TEST_F(Session, StatsOfTheRunningCapture)
{
    CaptureStatsRecord stats{7, 7, 7};
    EXPECT_EQ(ox.oxGetStats(&stats), -1) << "no capture";
    EXPECT_EQ(error(), text::NotReady);
    EXPECT_EQ(stats.received, 7) << "the record is left alone";
    ASSERT_EQ(beginLive(), 0);
    fake_set_stats(0xFFFFFFFEu, 3, 1);
    ASSERT_EQ(ox.oxGetStats(&stats), 0);
    EXPECT_EQ(stats.received, -2) << "stored bit for bit";
    EXPECT_EQ(stats.dropped, 3);
    EXPECT_EQ(stats.interfaceDropped, 1);
    EXPECT_EQ(ox.oxGetStats(nullptr), -1);
    EXPECT_EQ(error(), text::NoRecord);
    fake_set_stats(1, 0x80000001u, 0xFFFFFFFFu);
    ASSERT_EQ(ox.oxGetStats(&stats), 0);
    EXPECT_EQ(stats.dropped, INT32_MIN + 1) << "every count keeps its bits past 2^31";
    EXPECT_EQ(stats.interfaceDropped, -1);
    fake_set_error("no counters here");
    fake_fail("pcap_stats", 0);
    EXPECT_EQ(ox.oxGetStats(&stats), -1);
    EXPECT_EQ(error(), "no counters here");
    EXPECT_EQ(stats.received, 1) << "a refused count leaves the record as it was";
    EXPECT_EQ(stats.dropped, INT32_MIN + 1);
}
