// GetTickCount64: milliseconds of the monotonic clock, which neither jumps with
// the wall clock nor goes back.
#include <ctime>

#include "platform/WinKernel.h"

namespace win {

ULONGLONG GetTickCount64() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<ULONGLONG>(now.tv_sec) * 1000u + static_cast<ULONGLONG>(now.tv_nsec / 1000000);
}

}  // namespace win
