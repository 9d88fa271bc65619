// File times: the split into calendar fields agrees with the C library's over
// four centuries and across leap days; the local conversion uses the offset
// in force at that moment, daylight saving included.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <ctime>

#include "platform/WinKernel.h"

using namespace win;

namespace {

constexpr std::int64_t kEpochDifference = 11'644'473'600;

FILETIME At(std::int64_t unixSeconds, std::int64_t ticks = 0) {
    const std::uint64_t value = static_cast<std::uint64_t>((unixSeconds + kEpochDifference) * 10'000'000 + ticks);
    return FILETIME{static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

std::uint64_t Value(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

void ExpectFields(const SYSTEMTIME& st, const std::tm& tm) {
    EXPECT_EQ(st.wYear, tm.tm_year + 1900);
    EXPECT_EQ(st.wMonth, tm.tm_mon + 1);
    EXPECT_EQ(st.wDay, tm.tm_mday);
    EXPECT_EQ(st.wDayOfWeek, tm.tm_wday);
    EXPECT_EQ(st.wHour, tm.tm_hour);
    EXPECT_EQ(st.wMinute, tm.tm_min);
    EXPECT_EQ(st.wSecond, tm.tm_sec);
}

class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) { setenv("TZ", zone, 1), tzset(); }
    ~ZoneGuard() { unsetenv("TZ"), tzset(); }
};

}  // namespace

TEST(FileTimeTest, FieldsAgreeWithTheCalendar) {
    // From 1601 through leap days (2000, 2024), a non-leap century (1900) and far ahead.
    for (std::int64_t seconds : std::initializer_list<std::int64_t>{-kEpochDifference, -2'208'988'800LL - 86400, 0LL, 951'782'399LL, 951'868'800LL,
                                 1'709'164'800LL, 1'796'947'199LL, 32'503'680'000LL}) {
        SCOPED_TRACE(seconds);
        const std::time_t at = static_cast<std::time_t>(seconds);
        std::tm tm{};
        gmtime_r(&at, &tm);
        const FILETIME time = At(seconds, 1'234'567);
        SYSTEMTIME st{};
        ASSERT_TRUE(FileTimeToSystemTime(&time, &st));
        ExpectFields(st, tm);
        EXPECT_EQ(st.wMilliseconds, 123);
    }
    const FILETIME beyond{0xffffffff, 0xffffffff};
    SYSTEMTIME st{};
    EXPECT_FALSE(FileTimeToSystemTime(&beyond, &st));
}

TEST(FileTimeTest, LocalTimeUsesTheOffsetOfThatMoment) {
    ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
    // 2026-01-15 12:00 UTC is 13:00 CET; 2026-07-15 12:00 UTC is 14:00 CEST.
    for (auto [seconds, hour] : {std::pair<std::int64_t, int>{1'768'478'400, 13}, std::pair<std::int64_t, int>{1'784'116'800, 14}}) {
        const FILETIME utc = At(seconds, 5'000);
        FILETIME local{};
        ASSERT_TRUE(FileTimeToLocalFileTime(&utc, &local));
        EXPECT_EQ(Value(local) - Value(utc), static_cast<std::uint64_t>(hour - 12) * 3600 * 10'000'000);
        SYSTEMTIME st{};
        ASSERT_TRUE(FileTimeToSystemTime(&local, &st));
        EXPECT_EQ(st.wHour, hour);
    }
}

TEST(FileTimeTest, NowIsTheRealtimeClock) {
    const std::time_t before = std::time(nullptr);
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const std::time_t after = std::time(nullptr);
    const std::int64_t seconds = static_cast<std::int64_t>(Value(now) / 10'000'000) - kEpochDifference;
    EXPECT_GE(seconds, before);
    EXPECT_LE(seconds, after);
}
