// oxGetPacketTime: the date and time of the packet last delivered.
#include "frame/delivered.h"
#include "ondrix.h"
#include "platform/platform.h"

using namespace ondrix;

namespace
{

constexpr int64_t kSecondsPerDay = 86400;
// VB's day 0, 1899-12-30, is 25569 days before 1970-01-01.
constexpr int64_t kVbEpochSeconds = 25569 * kSecondsPerDay;

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
int64_t daysFromCivil(int64_t year, int32_t month, int32_t day)
{
    year -= month <= 2;
    const int64_t era = (year >= 0 ? year : year - 399) / 400;
    const int64_t yearOfEra = year - era * 400;
    const int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

// The local clock read as if it were UTC: seconds since 1970-01-01 local.
int64_t localSeconds(const platform::LocalTime &t)
{
    return daysFromCivil(t.year, t.month, t.day) * kSecondsPerDay + t.hour * 3600 + t.minute * 60 + t.second;
}

// To the nearest minute: a zone's offset was a whole number of minutes
// since 1972 everywhere.
int32_t minutesOf(int64_t seconds) { return static_cast<int32_t>((seconds + (seconds < 0 ? -30 : 30)) / 60); }

} // namespace

extern "C" int32_t ONDRIX_CALL oxGetPacketTime(PacketTimeRecord *time)
{
    const pcap_pkthdr *h = deliveredPacket(time);
    if (!h)
        return -1;
    // As the header record reads it: the low 32 bits, unsigned.
    const uint32_t seconds = static_cast<uint32_t>(h->ts.tv_sec);
    const int32_t microseconds = static_cast<int32_t>(h->ts.tv_usec);
    platform::LocalTime local;
    if (!platform::localTime(seconds, &local)) {
        setError(msg::NoLocalTime);
        return -1;
    }
    const int64_t clock = localSeconds(local);
    const double fraction = microseconds / 1e6;
    time->localDate = (static_cast<double>(clock + kVbEpochSeconds) + fraction) / kSecondsPerDay;
    time->unixSeconds = static_cast<double>(seconds) + fraction;
    time->microseconds = microseconds;
    time->utcOffsetMinutes = minutesOf(clock - seconds);
    return 0;
}
