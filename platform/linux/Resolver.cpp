// Reverse host-name lookup (gethostbyaddr) through the system resolver, and the
// test seam that runs before each lookup. Each thread has its own result
// record, so resolver threads can look up at the same time.
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/TestHooks.h"
#include "platform/WinSock.h"
#include "platform/linux/Internal.h"

// System headers after the layer's own (see AddressList.cpp).
#include <netdb.h>

namespace win {

namespace {
using Hook = std::function<void(unsigned long address)>;

std::mutex g_hookMutex;
std::shared_ptr<const Hook> g_hook;  // guarded by g_hookMutex

std::shared_ptr<const Hook> CurrentHook() {
    std::lock_guard lock(g_hookMutex);
    return g_hook;
}

// The per-thread result of gethostbyaddr, valid until the thread's next call.
struct HostRecord {
    hostent entry;
    char name[NI_MAXHOST];
    char address[4];
    char* aliases[1];
    char* addresses[2];
};
}  // namespace

hostent* gethostbyaddr(const char* address, int length, int type) {
    if (!detail::IsWinsockStarted()) {
        WSASetLastError(WSANOTINITIALISED);
        return nullptr;
    }
    if (address == nullptr || length != 4) {
        WSASetLastError(WSAEFAULT);
        return nullptr;
    }
    if (type != AF_INET) {
        WSASetLastError(WSAEAFNOSUPPORT);
        return nullptr;
    }
    u_long networkOrder;
    std::memcpy(&networkOrder, address, sizeof networkOrder);
    // The hook runs outside the lock, so a blocking hook delays only its caller.
    if (std::shared_ptr<const Hook> hook = CurrentHook()) (*hook)(networkOrder);

    thread_local HostRecord record;
    ::sockaddr_in query{};
    query.sin_family = AF_INET;
    std::memcpy(&query.sin_addr, address, 4);
    int result = getnameinfo(reinterpret_cast<const ::sockaddr*>(&query), sizeof query, record.name,
                             sizeof record.name, nullptr, 0, NI_NAMEREQD);
    if (result != 0) {
        WSASetLastError(detail::WsaErrorFromResolver(result));
        return nullptr;
    }
    std::memcpy(record.address, address, 4);
    record.aliases[0] = nullptr;
    record.addresses[0] = record.address;
    record.addresses[1] = nullptr;
    record.entry.h_name = record.name;
    record.entry.h_aliases = record.aliases;
    record.entry.h_addrtype = AF_INET;
    record.entry.h_length = 4;
    record.entry.h_addr_list = record.addresses;
    return &record.entry;
}

namespace testing {
void SetResolverHook(std::function<void(unsigned long address)> hook) {
    std::shared_ptr<const Hook> replacement = hook ? std::make_shared<const Hook>(std::move(hook)) : nullptr;
    std::lock_guard lock(g_hookMutex);
    g_hook = std::move(replacement);
}
}  // namespace testing

}  // namespace win
