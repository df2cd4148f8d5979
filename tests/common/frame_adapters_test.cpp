// Error text, returned strings and the adapter directory.
#include <cstring>

#include "fixture.h"

using host::take;

class ErrorText : public LibraryTest
{
};

TEST_F(ErrorText, FailureTextSurvivesLaterSuccess)
{
    EXPECT_EQ(ox.oxSetCurrentAdapter(0), -1);
    EXPECT_EQ(error(), text::NotReady);
    EXPECT_EQ(listAdapters(2), 2);
    EXPECT_EQ(ox.oxGetCurrentAdapter(), -1);
    EXPECT_EQ(error(), text::NotReady);
    EXPECT_EQ(error(), text::NotReady) << "reading the text must not change it";
}

TEST_F(ErrorText, ReturnedStringsAreExactlyAsLongAsTheirText)
{
    BSTR empty = ox.oxGetErrorDescription();
    ASSERT_NE(empty, nullptr) << "an empty text is an allocated string";
    EXPECT_EQ(SysStringByteLen(empty), 0u);
    SysFreeString(empty);

    fake_add_adapter("abc", "abcd");
    ASSERT_EQ(ox.OndrixInit(), 1);
    BSTR name = nullptr, desc = nullptr;
    ASSERT_EQ(ox.oxGetAdapterInfoVB5(0, &name, &desc), 0);
    EXPECT_EQ(SysStringByteLen(name), 3u);
    EXPECT_EQ(SysStringByteLen(desc), 4u);
    EXPECT_EQ(take(name), "abc");
    EXPECT_EQ(take(desc), "abcd");
}

TEST_F(ErrorText, CaptureLibraryTextIsCutAt255)
{
    std::string longText(300, 'x');
    longText.replace(250, 10, "0123456789");
    fake_set_error(longText.c_str());
    ASSERT_EQ(setText(ParamFilter, "tcp"), 0);
    fake_fail("pcap_compile", 0);
    EXPECT_EQ(beginLive(), -1);
    EXPECT_EQ(error(), longText.substr(0, 255));
}

class Adapters : public LibraryTest
{
};

TEST_F(Adapters, RepeatedInitCountsAfreshAndReleasesTheOldList)
{
    EXPECT_EQ(listAdapters(3), 3);
    EXPECT_EQ(ox.OndrixInit(), 3);
    EXPECT_EQ(fake_open_lists(), 1);
    EXPECT_EQ(fake_calls("pcap_freealldevs"), 1);
}

TEST_F(Adapters, EmptyListCountsZeroAndCannotBeSelected)
{
    EXPECT_EQ(ox.OndrixInit(), 0);
    EXPECT_EQ(ox.oxSetCurrentAdapter(0), -1);
    EXPECT_EQ(error(), text::NotReady);
    EXPECT_EQ(ox.oxBegin(100), -1);
    EXPECT_EQ(error(), text::NotReady);
    EXPECT_EQ(liveOpens(), 0);
}

TEST_F(Adapters, FailedListingHoldsNoListAndKeepsTheIndex)
{
    ASSERT_EQ(listAdapters(3), 3);
    ASSERT_EQ(ox.oxSetCurrentAdapter(2), 0);
    fake_set_error("permission denied");
    fake_fail("pcap_findalldevs", 2);
    EXPECT_EQ(ox.OndrixInit(), -1);
    EXPECT_EQ(error(), text::InvalidState) << "our message replaces the capture library's";
    EXPECT_EQ(fake_open_lists(), 0) << "the earlier list is released too";
    EXPECT_EQ(ox.oxGetCurrentAdapter(), 2);
    AdapterInfoRecord rec;
    EXPECT_EQ(ox.oxGetAdapterInfo(0, &rec), -1);
    EXPECT_EQ(ox.oxSetCurrentAdapter(0), -1);
    EXPECT_EQ(error(), text::NotReady);
}

TEST_F(Adapters, RecordHoldsNameDescriptionAndZero)
{
    fake_add_adapter("eth0", "first");
    fake_add_adapter("100%s%n", nullptr);
    ASSERT_EQ(ox.OndrixInit(), 2);
    AdapterInfoRecord rec;
    std::memset(&rec, 0x55, sizeof rec);
    ASSERT_EQ(ox.oxGetAdapterInfo(1, &rec), 0);
    EXPECT_STREQ(rec.name, "100%s%n") << "no format interpretation";
    EXPECT_STREQ(rec.description, "");
    EXPECT_EQ(rec.reserved, 0);
    EXPECT_EQ(static_cast<unsigned char>(rec.name[8]), 0x55) << "bytes after the terminator stay";
    EXPECT_EQ(static_cast<unsigned char>(rec.description[1]), 0x55);

    ASSERT_EQ(ox.oxGetAdapterInfo(0, &rec), 0);
    EXPECT_STREQ(rec.name, "eth0");
    EXPECT_STREQ(rec.description, "first");
}

TEST_F(Adapters, LongTextsAreCutInTheRecordAndWholeInSlots)
{
    std::string name(300, 'n'), desc(300, 'd');
    fake_add_adapter(name.c_str(), desc.c_str());
    ASSERT_EQ(ox.OndrixInit(), 1);
    AdapterInfoRecord rec;
    std::memset(&rec, 0x55, sizeof rec);
    ASSERT_EQ(ox.oxGetAdapterInfo(0, &rec), 0);
    EXPECT_EQ(std::string(rec.name), name.substr(0, 254));
    EXPECT_EQ(std::string(rec.description), desc.substr(0, 256));
    EXPECT_EQ(rec.reserved, 0);

    BSTR n = nullptr, d = nullptr;
    ASSERT_EQ(ox.oxGetAdapterInfoVB5(0, &n, &d), 0);
    EXPECT_EQ(take(n), name);
    EXPECT_EQ(take(d), desc);
}

TEST_F(Adapters, SlotsGetNewStringsAndNullForMissingDescription)
{
    fake_add_adapter("eth0", nullptr);
    ASSERT_EQ(ox.OndrixInit(), 1);
    // The slots hold strings from an earlier call; they are freed, not leaked.
    BSTR n = host::wide("old name"), d = host::wide("old description");
    ASSERT_EQ(ox.oxGetAdapterInfoVB5(0, &n, &d), 0);
    EXPECT_EQ(take(n), "eth0");
    EXPECT_EQ(d, nullptr);
    // A C host passes a null slot for the text it doesn't want.
    n = nullptr;
    ASSERT_EQ(ox.oxGetAdapterInfoVB5(0, &n, nullptr) | ox.oxGetAdapterInfoVB5(0, nullptr, nullptr), 0);
    EXPECT_EQ(take(n), "eth0");
}

TEST_F(Adapters, OutOfRangeIndexesFailAndTouchNothing)
{
    ASSERT_EQ(listAdapters(3), 3);
    AdapterInfoRecord rec;
    std::memset(&rec, 0x55, sizeof rec);
    BSTR n = host::wide("keep"), d = nullptr;
    for (int32_t index : {-1, 3, 32768, 65535, 0x7FFF}) {
        EXPECT_EQ(ox.oxGetAdapterInfo(index, &rec), -1) << index;
        EXPECT_EQ(error(), text::BadAdapterId);
        EXPECT_EQ(ox.oxGetAdapterInfoVB5(index, &n, &d), -1) << index;
        EXPECT_EQ(ox.oxSetCurrentAdapter(index), -1) << index;
        EXPECT_EQ(error(), text::BadAdapterId);
    }
    EXPECT_EQ(static_cast<unsigned char>(rec.name[0]), 0x55);
    EXPECT_EQ(host::bytes(n), std::string("k\0e\0e\0p\0", 8));
    EXPECT_EQ(d, nullptr);
    SysFreeString(n);
    EXPECT_EQ(ox.oxGetCurrentAdapter(), -1) << "selection unchanged";
}

TEST_F(Adapters, OnlyTheLow16BitsOfAnIndexCount)
{
    ASSERT_EQ(listAdapters(3), 3);
    AdapterInfoRecord rec;
    ASSERT_EQ(ox.oxGetAdapterInfo(65536 + 2, &rec), 0);
    EXPECT_STREQ(rec.name, "eth2");
    EXPECT_EQ(ox.oxSetCurrentAdapter(65536), 0);
    EXPECT_EQ(ox.oxGetCurrentAdapter(), 0);
}

TEST_F(Adapters, SelectionDecidesWhichAdapterOpens)
{
    ASSERT_EQ(listAdapters(3), 3);
    EXPECT_EQ(ox.oxGetCurrentAdapter(), -1);
    ASSERT_EQ(ox.oxBegin(10), 0);
    EXPECT_EQ(openedName(), "eth0") << "the first adapter is current after init";
    ASSERT_EQ(ox.oxEnd(), 0);

    ASSERT_EQ(ox.oxSetCurrentAdapter(2), 0);
    EXPECT_EQ(ox.oxGetCurrentAdapter(), 2);
    EXPECT_EQ(ox.oxSetCurrentAdapter(2), 0) << "the current index again changes nothing";
    ASSERT_EQ(ox.oxBegin(10), 0);
    EXPECT_EQ(openedName(), "eth2");
    ASSERT_EQ(ox.oxEnd(), 0);

    EXPECT_EQ(ox.OndrixInit(), 3);
    EXPECT_EQ(ox.oxGetCurrentAdapter(), -1) << "a repeated init forgets the selection";
}

TEST_F(Adapters, NothingIsCurrentBeforeTheFirstListing)
{
    EXPECT_EQ(ox.oxGetCurrentAdapter(), -1);
    EXPECT_EQ(ox.oxBegin(100), -1);
    EXPECT_EQ(error(), text::NotReady);
}

TEST_F(Adapters, AfterTerminate)
{
    ASSERT_EQ(listAdapters(3), 3);
    ASSERT_EQ(ox.oxSetCurrentAdapter(1), 0);
    EXPECT_EQ(ox.OndrixTerminate(), 0);
    EXPECT_EQ(fake_open_lists(), 0);
    AdapterInfoRecord rec;
    EXPECT_EQ(ox.oxGetAdapterInfo(0, &rec), -1);
    EXPECT_EQ(error(), text::BadAdapterId);
    EXPECT_EQ(ox.oxSetCurrentAdapter(0), -1);
    EXPECT_EQ(error(), text::NotReady);
    EXPECT_EQ(ox.oxGetCurrentAdapter(), 1);
    EXPECT_EQ(ox.OndrixTerminate(), 0) << "terminate with no list does nothing";
    EXPECT_EQ(fake_calls("pcap_freealldevs"), 1);
    // The current adapter went with the list (the double poisons what it
    // freed, so a stale one would open under a telling name).
    EXPECT_EQ(ox.oxBegin(100), -1) << "opened " << openedName();
    EXPECT_EQ(error(), text::NotReady);
    EXPECT_EQ(liveOpens(), 0);
}

TEST_F(Adapters, TerminateLeavesARunningCaptureAlone)
{
    ASSERT_EQ(beginLive(), 0);
    EXPECT_EQ(ox.OndrixTerminate(), 0);
    EXPECT_EQ(fake_open_handles(), 1);
    uint8_t frame[60] = {1, 2, 3};
    fake_push_packet(frame, 60, 60, 5, 0);
    host::ByteArray arr(100);
    PacketHeaderRecord hdr{};
    EXPECT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
}

// Details from pcap's own list, under names no system knows.
TEST_F(Adapters, DetailsTakeTheFirstIpv4AndPreferAGlobalIpv6)
{
    const unsigned char v4a[4] = {192, 0, 2, 7}, v4b[4] = {10, 0, 0, 1};
    const unsigned char linkLocal[16] = {0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
                        global[16] = {0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5},
                        fe81[16] = {0xfe, 0x81, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1},
                        febf[16] = {0xfe, 0xbf, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2};
    const uint32_t kUp = 0x2, kRunning = 0x4; // PCAP_IF_*, the connection status unknown
    const int a = fake_add_adapter("ox-a", nullptr);
    fake_add_ip(a, 6, fe81, 64);
    fake_add_ip(a, 6, febf, 64);
    fake_set_flags(a, kUp); // without carrier
    const int b = fake_add_adapter("ox-b", "Second Card");
    fake_set_flags(b, kUp | kRunning);
    fake_add_ip(b, 6, linkLocal, 64);
    fake_add_ip(b, 4, v4a, 24);
    fake_add_ip(b, 6, global, 48);
    fake_add_ip(b, 4, v4b, 8);
    fake_add_adapter("ox-c", "second card");
    ASSERT_EQ(ox.OndrixInit(), 3);
    AdapterDetailsRecord d;
    std::memset(&d, 0x55, sizeof d);
    EXPECT_EQ(ox.oxGetAdapterDetails(3, &d), -1);
    EXPECT_EQ(error(), text::BadAdapterId);
    EXPECT_EQ(ox.oxGetAdapterInfo(0, nullptr) & ox.oxGetAdapterDetails(0, nullptr), -1);
    EXPECT_EQ(error(), text::NoRecord);
    ASSERT_EQ(ox.oxGetAdapterDetails(65536 + 1, &d), 0);
    EXPECT_STREQ(d.ipv4Address, "192.0.2.7");
    EXPECT_EQ(d.ipv4PrefixLength, 24);
    EXPECT_STREQ(d.ipv6Address, "2001:db8::5");
    EXPECT_EQ(d.ipv6PrefixLength, 48);
    EXPECT_EQ(d.ipv6Address[12], 0) << "texts are zero-filled";
    EXPECT_EQ(d.flags, AdapterConnected);
    ASSERT_EQ(ox.oxGetAdapterDetails(0, &d), 0);
    EXPECT_STREQ(d.ipv6Address, "fe81::1") << "fe80::/10 is link-local: the first is kept";
    EXPECT_EQ(d.flags, 0);

    EXPECT_EQ(ox.oxFindAdapter("OX-A"), 0);
    EXPECT_EQ(ox.oxFindAdapter(" \tsecond card  "), 1) << "the first of two";
    EXPECT_EQ(ox.oxFindAdapter("10.0.0.1"), 1) << "any of its addresses";
    EXPECT_EQ(ox.oxFindAdapter("2001:DB8::5"), 1);
    for (const char *miss : {"192.0.2.70", "Second", ""}) {
        EXPECT_EQ(ox.oxFindAdapter(miss), -1) << miss;
        EXPECT_EQ(error(), "No adapter matches \"" + std::string(miss) + "\"");
    }
    EXPECT_EQ(ox.oxFindAdapter(nullptr), -1);
    EXPECT_EQ(ox.oxFindAdapter(std::string(400, 'x').c_str()), -1);
    EXPECT_EQ(error().size(), 255u) << "cut to fit";
    ASSERT_EQ(ox.OndrixTerminate(), 0);
    EXPECT_EQ(ox.oxFindAdapter("ox-a"), -1);
    EXPECT_EQ(error(), "No adapter matches \"ox-a\" (no adapters are listed: call OndrixInit first)");
}
