// 10,000 rounds of listing and releasing adapters, and of starting and
// ending captures, against the pcap double: nothing accumulates.
#include <functional>

#include "../cycles/resources.h"
#include "fixture.h"

namespace
{

class Cycles : public LibraryTest
{
  protected:
    // Runs round() kRounds times after a warm-up and checks that descriptors
    // are exactly as before and resident and heap memory stay within their
    // bounds. The double's call log grows by design; it is cleared as often
    // as the warm-up lets it grow, so its own memory is all taken before the
    // count.
    template <class Round> void expectFlat(Round round)
    {
        constexpr int kLogRounds = 100;
        for (int i = 0; i < kLogRounds; ++i)
            round();
        clearCallLog();
        const int fds = cycles::openDescriptors();
        const long rss = cycles::residentBytes();
        const long heap = cycles::heapBytesInUse();
        for (int i = 0; i < cycles::kRounds; ++i) {
            round();
            if (i % kLogRounds == kLogRounds - 1)
                clearCallLog();
        }
        clearCallLog();
        EXPECT_EQ(cycles::openDescriptors(), fds);
        if (cycles::kResidentMeaningful) {
            EXPECT_LT(cycles::residentBytes() - rss, cycles::kResidentGrowthBound);
            EXPECT_LT(cycles::heapBytesInUse() - heap, cycles::kHeapGrowthBound);
        }
        EXPECT_EQ(fake_open_handles(), 0);
        EXPECT_EQ(fake_open_dumpers(), 0);
        EXPECT_EQ(fake_open_programs(), 0);
    }

    // fake_reset forgets the script too; put back what the rounds need.
    std::function<void()> rescript = [] {};
    void clearCallLog()
    {
        fake_reset();
        rescript();
    }
};

} // namespace

TEST_F(Cycles, InitAndTerminate)
{
    rescript = [] {
        fake_add_adapter("eth0", "Adapter 0");
        const unsigned char mask[4] = {255, 255, 255, 0};
        fake_add_address(0, 2, mask);
        fake_add_adapter("eth1", nullptr);
    };
    rescript();
    // As a VB host does: the slots keep their strings from round to round,
    // and each call replaces (and must free) what they held.
    BSTR name = nullptr, description = nullptr;
    expectFlat([&] {
        ASSERT_EQ(ox.OndrixInit(), 2);
        ASSERT_EQ(ox.oxSetCurrentAdapter(1), 0);
        ASSERT_EQ(ox.oxGetAdapterInfoVB5(0, &name, &description), 0);
        ASSERT_EQ(ox.OndrixTerminate(), 0);
    });
    SysFreeString(name);
    SysFreeString(description);
    EXPECT_EQ(fake_open_lists(), 0);
}

TEST_F(Cycles, BeginAndEndLiveDiskModeWithFilter)
{
    rescript = [] { fake_add_adapter("eth0", "Adapter 0"); };
    rescript();
    ASSERT_EQ(setInt(ParamCaptureMode, ModeDisk), 0);
    ASSERT_EQ(setText(ParamFilter, "ip"), 0);
    ASSERT_EQ(ox.OndrixInit(), 1);
    host::ByteArray arr(64);
    PacketHeaderRecord hdr{};
    expectFlat([&] {
        ASSERT_EQ(ox.oxBegin(100), 0);
        unsigned char frame[60] = {};
        fake_push_packet(frame, sizeof frame, sizeof frame, 5, 0);
        ASSERT_EQ(ox.oxCapture(arr.var(), &hdr), 1);
        ASSERT_EQ(ox.oxEnd(), 0);
    });
    EXPECT_EQ(arr.locks(), 0u);
}

TEST_F(Cycles, FailedStartsLeaveNothingBehind)
{
    rescript = [] {
        fake_add_adapter("eth0", "Adapter 0");
        fake_fail("pcap_setfilter", 0);
    };
    rescript();
    ASSERT_EQ(setInt(ParamCaptureMode, ModeDisk), 0);
    ASSERT_EQ(setText(ParamFilter, "ip"), 0);
    ASSERT_EQ(ox.OndrixInit(), 1);
    expectFlat([] { ASSERT_EQ(ox.oxBegin(100), -1); });
}
