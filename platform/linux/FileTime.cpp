// File times: 100-nanosecond intervals since 1601-01-01 UTC, the form in which
// a datagram's arrival time is kept. GetSystemTimeAsFileTime reads the
// realtime clock; FileTimeToLocalFileTime adds the zone's offset at that
// moment; FileTimeToSystemTime splits a file time into calendar fields.
//
// Every datagram's time is converted, so each thread keeps the offset of the
// last second it converted (with the zone it was read under, as
// GetLocalTime does) and asks the C library again only when either changes.
#include <cstdint>
#include <ctime>

#include "platform/WinKernel.h"

namespace win {

namespace {

constexpr std::int64_t kTicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kEpochDifference = 11'644'473'600;
// The last file time FileTimeToSystemTime accepts (year 30827, as on Windows).
constexpr std::uint64_t kMaxFileTime = 0x7fffffffffffffffULL;

struct ZoneOffset {
    time_t second = -1;
    const char* zoneName = nullptr;
    long zoneOffset = 0;
    long offset = 0;  // seconds east of UTC
};

thread_local ZoneOffset t_lastOffset;

std::uint64_t Join(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

void Split(std::uint64_t value, FILETIME* time) {
    time->dwLowDateTime = static_cast<DWORD>(value);
    time->dwHighDateTime = static_cast<DWORD>(value >> 32);
}

}  // namespace

void GetSystemTimeAsFileTime(FILETIME* time) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    Split(static_cast<std::uint64_t>((now.tv_sec + kEpochDifference) * kTicksPerSecond + now.tv_nsec / 100), time);
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
    const std::uint64_t value = Join(*utc);
    if (value > kMaxFileTime) return FALSE;
    const time_t second = static_cast<time_t>(static_cast<std::int64_t>(value / kTicksPerSecond) - kEpochDifference);
    ZoneOffset& cached = t_lastOffset;
    if (cached.second != second || cached.zoneName != tzname[0] || cached.zoneOffset != timezone) {
        tm fields{};
        if (localtime_r(&second, &fields) == nullptr) return FALSE;
        cached.second = second;
        cached.zoneName = tzname[0];
        cached.zoneOffset = timezone;
        cached.offset = fields.tm_gmtoff;
    }
    const std::int64_t shifted = static_cast<std::int64_t>(value) + cached.offset * kTicksPerSecond;
    if (shifted < 0) return FALSE;
    Split(static_cast<std::uint64_t>(shifted), local);
    return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* time, SYSTEMTIME* fields) {
    const std::uint64_t value = Join(*time);
    if (value > kMaxFileTime) return FALSE;
    const std::int64_t seconds = static_cast<std::int64_t>(value / kTicksPerSecond);
    std::int64_t days = seconds / 86400 - 134774;  // days since 1970-01-01
    const std::int64_t inDay = seconds % 86400;
    const int weekday = static_cast<int>((days % 7 + 11) % 7);  // 1970-01-01 was a Thursday

    // Civil date from a day count (H. Hinnant's algorithm), in eras of 400 years from 0000-03-01.
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthIndex = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * monthIndex + 2) / 5 + 1;
    const std::int64_t month = monthIndex < 10 ? monthIndex + 3 : monthIndex - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    fields->wYear = static_cast<WORD>(year);
    fields->wMonth = static_cast<WORD>(month);
    fields->wDayOfWeek = static_cast<WORD>(weekday);
    fields->wDay = static_cast<WORD>(day);
    fields->wHour = static_cast<WORD>(inDay / 3600);
    fields->wMinute = static_cast<WORD>(inDay / 60 % 60);
    fields->wSecond = static_cast<WORD>(inDay % 60);
    fields->wMilliseconds = static_cast<WORD>(value % kTicksPerSecond / 10000);
    return TRUE;
}

}  // namespace win
