// GetLocalTime: the local calendar time with milliseconds, from the realtime
// clock and the process's time zone.
#include <ctime>

#include "platform/WinKernel.h"

namespace win {

void GetLocalTime(SYSTEMTIME* time) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
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
