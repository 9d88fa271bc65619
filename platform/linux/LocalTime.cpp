// GetLocalTime: the local calendar time with milliseconds, from the realtime
// clock and the process's time zone.
//
// Converting seconds to the local calendar (localtime_r) takes the C library's
// time-zone lock and searches the zone's transitions; a capture stamps every
// datagram, so each thread keeps the conversion of the last second it saw and
// converts again when the second changes or tzset has installed another zone
// (it replaces the zone's name and offset, which are part of the key).
#include <ctime>

#include "platform/WinKernel.h"

namespace win {

namespace {

struct LocalSecond {
    time_t second = -1;
    const char* zoneName = nullptr;
    long zoneOffset = 0;
    tm local{};
};

thread_local LocalSecond t_lastSecond;

}  // namespace

void GetLocalTime(SYSTEMTIME* time) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    LocalSecond& cached = t_lastSecond;
    if (cached.second != now.tv_sec || cached.zoneName != tzname[0] || cached.zoneOffset != timezone) {
        localtime_r(&now.tv_sec, &cached.local);
        cached.second = now.tv_sec;
        cached.zoneName = tzname[0];
        cached.zoneOffset = timezone;
    }
    const tm& local = cached.local;
    time->wYear = static_cast<WORD>(local.tm_year + 1900);
    time->wMonth = static_cast<WORD>(local.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    time->wDay = static_cast<WORD>(local.tm_mday);
    time->wHour = static_cast<WORD>(local.tm_hour);
    time->wMinute = static_cast<WORD>(local.tm_min);
    time->wSecond = static_cast<WORD>(local.tm_sec > 59 ? 59 : local.tm_sec);  // a leap second reads as :59
    time->wMilliseconds = static_cast<WORD>(now.tv_nsec / 1000000);
}

}  // namespace win
