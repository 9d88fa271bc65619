// WSAStartup and WSACleanup with their reference count, and the per-thread
// Winsock error code, which as on Windows is the thread's last-error code.
#include <atomic>
#include <cstring>
#include <mutex>

#include "platform/TestHooks.h"
#include "platform/WinKernel.h"
#include "platform/WinSock.h"
#include "platform/linux/CaptureSocket.h"
#include "platform/linux/Internal.h"

namespace win {

namespace {
constexpr WORD kVersion = 0x0202;  // 2.2: low byte major, high byte minor

std::mutex g_startupMutex;
int g_startupCount = 0;  // guarded by g_startupMutex
std::atomic<int> g_startupFailure{0};  // test seam: the error every start-up returns
}  // namespace

int WSAStartup(WORD versionRequested, LPWSADATA data) {
    // WSAStartup reports its failure as its result, not as the last error.
    BYTE major = versionRequested & 0xFF;
    BYTE minor = versionRequested >> 8;
    if (major < 2 || (major == 2 && minor < 2)) return WSAVERNOTSUPPORTED;
    if (data == nullptr) return WSAEFAULT;
    if (int failure = g_startupFailure.load()) return failure;

    std::memset(data, 0, sizeof *data);
    data->wVersion = kVersion;
    data->wHighVersion = kVersion;
    std::strcpy(data->szDescription, "WinSock 2.0");
    std::strcpy(data->szSystemStatus, "Running");

    std::lock_guard lock(g_startupMutex);
    ++g_startupCount;
    return 0;
}

int WSACleanup() {
    std::vector<std::shared_ptr<detail::CaptureSocket>> orphans;
    {
        std::lock_guard lock(g_startupMutex);
        if (g_startupCount == 0) return detail::FailWith(WSANOTINITIALISED);
        // The last clean-up closes every socket still open, as on Windows.
        if (--g_startupCount == 0) orphans = detail::RemoveAllSockets();
    }
    for (const auto& socket : orphans) socket->Close();
    return 0;
}

int WSAGetLastError() { return static_cast<int>(GetLastError()); }

void WSASetLastError(int error) { SetLastError(static_cast<DWORD>(error)); }

namespace testing {
void SetStartupFailure(int error) { g_startupFailure.store(error); }
}  // namespace testing

namespace detail {

bool IsWinsockStarted() {
    std::lock_guard lock(g_startupMutex);
    return g_startupCount > 0;
}

int FailWith(int wsaError) {
    WSASetLastError(wsaError);
    return SOCKET_ERROR;
}

}  // namespace detail
}  // namespace win
