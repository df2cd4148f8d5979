// Saved capture files read through the library with the real libpcap. The
// files are written by the tests themselves with libpcap.
#include <netinet/in.h>

#include <ctime>

#include "it_support.h"

namespace
{

// The clock a header record must show for a timestamp, in UTC (see main).
struct Clock {
    int hour, minute, second;
};
Clock utcClock(int64_t seconds)
{
    time_t t = static_cast<time_t>(static_cast<uint32_t>(seconds));
    tm tm{};
    gmtime_r(&t, &tm);
    return {tm.tm_hour, tm.tm_min, tm.tm_sec};
}

Bytes truncated(Bytes frame, size_t caplen)
{
    frame.resize(caplen);
    return frame;
}

// Sizes from a bare Ethernet header to a full frame, one cut by a snap length,
// microseconds at both ends of their range, and seconds that go back to an
// earlier second (the clock of the last second is cached) and past 2^31.
std::vector<SavedPacket> knownPackets()
{
    return {
        {1700000000, 0, 60, testFrame(60, 1)},
        {1700000000, 999999, 1514, testFrame(1514, 2)},
        {1700003661, 123456, 1500, truncated(testFrame(1500, 3), 96)},
        {1700000000, 1, 14, testFrame(14, 4)},
        {3000000000LL, 500000, 200, testFrame(200, 5)},
    };
}

class SavedFile : public IntegrationTest
{
  protected:
    void SetUp() override
    {
        IntegrationTest::SetUp();
        file_ = path("known.pcap");
        writeCaptureFile(file_, knownPackets());
    }

    // Begins a capture of `file`; the mode set beforehand must not matter.
    void beginOn(const std::string &file)
    {
        ASSERT_EQ(setInt(ParamCaptureMode, ModeAlias), 0);
        ASSERT_EQ(setInt(ParamCaptureSource, SourceFile), 0);
        ASSERT_EQ(setText(ParamDumpFileName, file), 0);
        ASSERT_EQ(oxBegin(1000), 0) << lastError();
    }

    static void expectHeader(const PacketHeaderRecord &h, const SavedPacket &p, size_t i)
    {
        SCOPED_TRACE("packet " + std::to_string(i));
        const Clock c = utcClock(p.seconds);
        EXPECT_EQ(h.capturedLength, static_cast<int32_t>(p.data.size()));
        EXPECT_EQ(h.wireLength, static_cast<int32_t>(p.wireLength));
        EXPECT_EQ(h.hour, c.hour);
        EXPECT_EQ(h.minute, c.minute);
        EXPECT_EQ(h.second, c.second);
        EXPECT_EQ(h.microseconds, p.micros);
    }

    // After the last packet: -1, and the text of the last failure stays.
    static void expectEndOfFile(const std::function<int32_t()> &capture)
    {
        const std::string before = markError();
        EXPECT_EQ(capture(), -1);
        EXPECT_EQ(lastError(), before);
        EXPECT_EQ(capture(), -1) << "the end of a file stays the end";
    }

    std::string file_;
};

TEST_F(SavedFile, CaptureCopiesEveryPacketWithLengthsAndClock)
{
    beginOn(file_);
    const auto packets = knownPackets();
    host::ByteArray array(2000, 0x5A);
    for (size_t i = 0; i < packets.size(); ++i) {
        PacketHeaderRecord h{};
        ASSERT_EQ(oxCapture(array.var(), &h), 1) << "packet " << i;
        expectHeader(h, packets[i], i);
        // A saved file is copied out, whatever mode was set before the start.
        EXPECT_FALSE(array.aliased());
        EXPECT_EQ(array.count(), 2000u);
        EXPECT_EQ(contents(array, packets[i].data.size()), packets[i].data) << "packet " << i;
        EXPECT_EQ(array.locks(), 0u);
    }
    PacketHeaderRecord h{};
    expectEndOfFile([&] { return oxCapture(array.var(), &h); });
}

TEST_F(SavedFile, CaptureMemPointsAtEveryPacket)
{
    beginOn(file_);
    const auto packets = knownPackets();
    host::ByteArray array(4);
    for (size_t i = 0; i < packets.size(); ++i) {
        PacketHeaderRecord h{};
        ASSERT_EQ(oxCaptureMem(array.var(), &h), 1) << "packet " << i;
        expectHeader(h, packets[i], i);
        EXPECT_TRUE(array.aliased());
        EXPECT_EQ(array.count(), packets[i].data.size() + 1);
        EXPECT_EQ(contents(array, packets[i].data.size()), packets[i].data) << "packet " << i;
        EXPECT_EQ(array.locks(), 0u);
    }
    PacketHeaderRecord h{};
    expectEndOfFile([&] { return oxCaptureMem(array.var(), &h); });
}

TEST_F(SavedFile, CaptureMemSafeCopiesEveryPacket)
{
    beginOn(file_);
    const auto packets = knownPackets();
    host::ByteArray array(1515, 0x5A);
    for (size_t i = 0; i < packets.size(); ++i) {
        ASSERT_EQ(oxCaptureMemSafe(array.var()), 1) << "packet " << i;
        const Bytes &d = packets[i].data;
        EXPECT_EQ(contents(array, d.size()), d) << "packet " << i;
        EXPECT_EQ(array.count(), 1515u);
        EXPECT_EQ(array.locks(), 0u);
    }
    // Bytes after the longest packet were never written.
    EXPECT_EQ(array.data()[1514], 0x5A);
    expectEndOfFile([&] { return oxCaptureMemSafe(array.var()); });
}

TEST_F(SavedFile, MissingFileFailsWithTheDumpMessageAndLeavesTheLibraryIdle)
{
    ASSERT_EQ(setInt(ParamCaptureSource, SourceFile), 0);
    ASSERT_EQ(setText(ParamDumpFileName, path("absent.pcap")), 0);
    EXPECT_EQ(oxBegin(1000), -1);
    EXPECT_EQ(lastError(), text::DumpOpenFailed);

    host::ByteArray array(100);
    PacketHeaderRecord h{};
    EXPECT_EQ(oxCapture(array.var(), &h), -1);
    EXPECT_EQ(lastError(), text::NotReady);

    // Once the file is there, the same settings start.
    writeCaptureFile(path("absent.pcap"), knownPackets());
    EXPECT_EQ(oxBegin(1000), 0) << lastError();
}

TEST_F(SavedFile, SendingIsRefusedWithoutTextAndLosesNoPacket)
{
    beginOn(file_);
    // libpcap can't send on a file; the library passes the refusal on.
    host::ByteArray frame(0);
    fill(frame, testFrame(60, 9));
    const std::string before = markError();
    EXPECT_EQ(oxSendPacket(frame.var()), -1);
    EXPECT_EQ(lastError(), before);

    host::ByteArray array(2000);
    PacketHeaderRecord h{};
    ASSERT_EQ(oxCapture(array.var(), &h), 1);
    EXPECT_EQ(contents(array, 60), knownPackets()[0].data);
}

TEST_F(SavedFile, FilterDeliversOnlyMatchingPackets)
{
    const std::vector<Bytes> frames = {
        ipFrame(IPPROTO_UDP, 40000, 53, 30),  // query: kept
        ipFrame(IPPROTO_TCP, 40001, 80, 10),  // web
        ipFrame(IPPROTO_UDP, 40002, 123, 48), // time
        ipFrame(IPPROTO_TCP, 40003, 53, 20),  // DNS over TCP: not udp
        ipFrame(IPPROTO_UDP, 53, 40000, 90),  // answer: kept
        ipFrame(IPPROTO_UDP, 5353, 5353, 40), // mDNS
    };
    std::vector<SavedPacket> packets;
    for (size_t i = 0; i < frames.size(); ++i)
        packets.push_back(
            {1700000000 + static_cast<int64_t>(i), 0, static_cast<uint32_t>(frames[i].size()), frames[i]});
    writeCaptureFile(path("mixed.pcap"), packets);

    ASSERT_EQ(setFilter("udp port 53"), 0);
    beginOn(path("mixed.pcap"));
    host::ByteArray array(2000);
    PacketHeaderRecord h{};
    ASSERT_EQ(oxCapture(array.var(), &h), 1);
    EXPECT_EQ(contents(array, h.capturedLength), frames[0]);
    ASSERT_EQ(oxCapture(array.var(), &h), 1);
    EXPECT_EQ(contents(array, h.capturedLength), frames[4]);
    EXPECT_EQ(h.second, utcClock(packets[4].seconds).second) << "the answer's own header";
    EXPECT_EQ(oxCapture(array.var(), &h), -1);
}

TEST_F(SavedFile, FilterSyntaxErrorFailsWithLibpcapTextAndLeavesTheLibraryIdle)
{
    ASSERT_EQ(setFilter("udp port 53 and and"), 0);
    ASSERT_EQ(setInt(ParamCaptureSource, SourceFile), 0);
    ASSERT_EQ(setText(ParamDumpFileName, file_), 0);
    EXPECT_EQ(oxBegin(1000), -1);
    EXPECT_NE(lastError().find("syntax error"), std::string::npos) << lastError();

    host::ByteArray array(2000);
    PacketHeaderRecord h{};
    EXPECT_EQ(oxCapture(array.var(), &h), -1);
    EXPECT_EQ(lastError(), text::NotReady);
    EXPECT_EQ(oxEnd(), 0);

    // Nothing was left open: a good filter starts on the same file.
    ASSERT_EQ(setFilter("ether proto 0x88b5"), 0);
    EXPECT_EQ(oxBegin(1000), 0) << lastError();
    EXPECT_EQ(oxCapture(array.var(), &h), 1);
}

} // namespace
