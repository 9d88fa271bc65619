// Seams for tests of the program: they let a test stand in for conditions that
// cannot be produced on the machine (an older operating system, a slow name
// service). Nothing in the program calls these.
#pragma once

#include <functional>

#include "platform/WinKernel.h"

namespace win::testing {

/// Makes GetVersionExA answer with the given platform id and version, or, with
/// null, with the real answer again. The environment variable
/// QUORVANE_OS_VERSION="platform.major.minor" (for example "1.4.10" or "2.4.0")
/// does the same for a whole process.
void SetVersionOverride(const OSVERSIONINFOA* answer);

/// Called by gethostbyaddr with the address (network byte order) before the
/// system resolver is asked; a hook may block to stand for a slow name service.
/// Null removes the hook.
void SetResolverHook(std::function<void(unsigned long address)> hook);

}  // namespace win::testing
