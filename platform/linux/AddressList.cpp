// The machine's IPv4 interface addresses: SIO_ADDRESS_LIST_QUERY's list and
// the look-up of the interface that owns an address, for bind. Both read
// getifaddrs afresh, so interfaces that come and go are seen at once.
#include <cstddef>
#include <cstring>
#include <vector>

#include "platform/WinSock.h"
#include "platform/linux/Internal.h"

// System headers after the layer's own: their AF_INET and INADDR_NONE macros
// would otherwise rewrite the layer's declarations.
#include <ifaddrs.h>
#include <net/if.h>
#include <cerrno>

namespace win::detail {

namespace {
struct Entry {
    sockaddr_in address;
    unsigned flags;
    const char* name;
};

// The IPv4 entries of getifaddrs; the names point into the list, which the
// caller frees.
std::vector<Entry> IPv4Entries(ifaddrs* list) {
    std::vector<Entry> entries;
    for (ifaddrs* item = list; item != nullptr; item = item->ifa_next) {
        if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_INET) continue;
        Entry entry{};
        // The kernel's sockaddr_in and ours share one layout.
        std::memcpy(&entry.address, item->ifa_addr, sizeof entry.address);
        entry.flags = item->ifa_flags;
        entry.name = item->ifa_name;
        entries.push_back(entry);
    }
    return entries;
}
}  // namespace

int FindInterfaceByAddress(u_long address, InterfaceInfo* info) {
    *info = InterfaceInfo{};
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return errno;
    for (const Entry& entry : IPv4Entries(list)) {
        if (entry.address.sin_addr.s_addr != address) continue;
        unsigned index = if_nametoindex(entry.name);
        if (index == 0) continue;  // went away meanwhile
        info->index = static_cast<int>(index);
        info->loopback = (entry.flags & IFF_LOOPBACK) != 0;
        break;
    }
    freeifaddrs(list);
    return 0;
}

int QueryAddressList(void* outBuffer, DWORD outLength, DWORD* bytesReturned) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return WsaErrorFromErrno(errno);
    std::vector<sockaddr_in> addresses;
    for (const Entry& entry : IPv4Entries(list)) {
        if (entry.flags & IFF_UP) addresses.push_back(entry.address);
    }
    freeifaddrs(list);

    // As on Windows: the count, the array of entries, then the address records
    // they point at, all inside the caller's buffer.
    const std::size_t count = addresses.size();
    const std::size_t arrayEnd = offsetof(SOCKET_ADDRESS_LIST, Address) + count * sizeof(SOCKET_ADDRESS);
    const std::size_t needed = arrayEnd + count * sizeof(sockaddr_in);
    *bytesReturned = static_cast<DWORD>(needed);
    if (outBuffer == nullptr || outLength < needed) return WSAEFAULT;

    auto* bytes = static_cast<char*>(outBuffer);
    auto* result = static_cast<SOCKET_ADDRESS_LIST*>(outBuffer);
    result->iAddressCount = static_cast<int>(count);
    SOCKET_ADDRESS* entries = result->Address;  // count entries from here on
    for (std::size_t i = 0; i < count; ++i) {
        auto* record = reinterpret_cast<sockaddr_in*>(bytes + arrayEnd + i * sizeof(sockaddr_in));
        *record = addresses[i];
        record->sin_port = 0;
        entries[i].lpSockaddr = reinterpret_cast<LPSOCKADDR>(record);
        entries[i].iSockaddrLength = static_cast<int>(sizeof(sockaddr_in));
    }
    return 0;
}

}  // namespace win::detail
