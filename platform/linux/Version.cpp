// GetVersionExA and the test seam that overrides it. The answer is an
// NT-family system, version 5.1, whenever the running kernel offers packet
// sockets (what the capture socket is built on); otherwise a non-NT platform,
// so the program's own check ends it. A process-wide override comes from
// QUORVANE_OS_VERSION="platform.major.minor", a test override from
// SetVersionOverride, which takes precedence.
// The layer's headers come first: the system's socket macros would otherwise
// rewrite the Winsock constants of the same names.
#include "platform/TestHooks.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

namespace win {

namespace {

constexpr DWORD kInfoSize = sizeof(OSVERSIONINFOA);
static_assert(kInfoSize == 148);

std::mutex g_overrideMutex;
std::optional<OSVERSIONINFOA> g_override;

/// Whether the kernel has AF_PACKET. Without the capability the socket call
/// fails with EPERM or EACCES, which still means it is offered.
bool KernelOffersPacketSockets() {
    const int fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    return errno != EAFNOSUPPORT;
}

OSVERSIONINFOA Answer(DWORD platform, DWORD major, DWORD minor) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = kInfoSize;
    info.dwPlatformId = platform;
    info.dwMajorVersion = major;
    info.dwMinorVersion = minor;
    info.dwBuildNumber = 2600;
    return info;
}

std::optional<OSVERSIONINFOA> FromEnvironment() {
    const char* text = std::getenv("QUORVANE_OS_VERSION");
    if (text == nullptr) return std::nullopt;
    unsigned platform = 0, major = 0, minor = 0;
    char tail = 0;
    if (std::sscanf(text, "%u.%u.%u%c", &platform, &major, &minor, &tail) != 3) return std::nullopt;
    return Answer(platform, major, minor);
}

}  // namespace

BOOL GetVersionExA(OSVERSIONINFOA* info) {
    if (info == nullptr || info->dwOSVersionInfoSize != kInfoSize) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::optional<OSVERSIONINFOA> answer;
    {
        std::lock_guard<std::mutex> guard(g_overrideMutex);
        answer = g_override;
    }
    if (!answer) answer = FromEnvironment();
    if (!answer) {
        answer = KernelOffersPacketSockets() ? Answer(VER_PLATFORM_WIN32_NT, 5, 1)
                                             : Answer(VER_PLATFORM_WIN32_WINDOWS, 4, 10);
    }
    *info = *answer;
    return TRUE;
}

namespace testing {

void SetVersionOverride(const OSVERSIONINFOA* answer) {
    std::lock_guard<std::mutex> guard(g_overrideMutex);
    if (answer == nullptr) {
        g_override.reset();
        return;
    }
    g_override = *answer;
    g_override->dwOSVersionInfoSize = kInfoSize;
}

}  // namespace testing

}  // namespace win
