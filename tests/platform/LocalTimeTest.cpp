// GetLocalTime: the fields are those of the local time zone at the moment of
// the call, with milliseconds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

#include "platform/WinKernel.h"

using namespace win;

namespace {

bool Matches(const SYSTEMTIME& st, std::time_t at) {
    std::tm tm{};
    localtime_r(&at, &tm);
    return st.wYear == tm.tm_year + 1900 && st.wMonth == tm.tm_mon + 1 && st.wDay == tm.tm_mday &&
           st.wDayOfWeek == tm.tm_wday && st.wHour == tm.tm_hour && st.wMinute == tm.tm_min && st.wSecond == tm.tm_sec;
}

TEST(LocalTimeTest, FieldsAreTheLocalTimeOfTheCall) {
    for (const char* zone : {"UTC0", "XYZ-3", "ABC+9:30"}) {
        SCOPED_TRACE(zone);
        setenv("TZ", zone, 1);
        tzset();
        const std::time_t before = std::time(nullptr);
        SYSTEMTIME st{};
        GetLocalTime(&st);
        const std::time_t after = std::time(nullptr);
        bool matched = false;
        for (std::time_t t = before; t <= after; ++t) matched = matched || Matches(st, t);
        EXPECT_TRUE(matched) << st.wHour << ":" << st.wMinute << ":" << st.wSecond;
        EXPECT_LT(st.wMilliseconds, 1000);
    }
    unsetenv("TZ");
    tzset();
}

TEST(LocalTimeTest, MillisecondsAdvance) {
    SYSTEMTIME first{}, later{};
    GetLocalTime(&first);
    // Within a few thousand calls, the millisecond field changes.
    bool changed = false;
    for (int i = 0; i < 1000000 && !changed; ++i) {
        GetLocalTime(&later);
        changed = later.wMilliseconds != first.wMilliseconds;
    }
    EXPECT_TRUE(changed);
}

}  // namespace
