// A packet's local time: the header record's clock and the date and time record.
#include <cstdlib>
#include <ctime>

#include "delivery_fixture.h"

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
