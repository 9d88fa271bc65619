// The per-thread last-error code of the kernel services.
#include "platform/WinKernel.h"

namespace win {

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD error) { t_lastError = error; }

}  // namespace win
