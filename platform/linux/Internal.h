// Private helpers shared by the Linux implementations of the platform layer.
// Nothing outside platform/linux/ includes this file.
#pragma once

#include "platform/WinTypes.h"

namespace win::detail {

/// Maps an errno value to the Winsock error code (WSAE...), in one table.
int WsaErrorFromErrno(int error);
/// Maps an errno value to the Win32 error code (ERROR_...), in one table.
DWORD Win32ErrorFromErrno(int error);

}  // namespace win::detail
