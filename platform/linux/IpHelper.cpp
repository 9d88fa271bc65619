// GetIpAddrTable and if_indextoname on getifaddrs and the kernel's interface
// names. Both read the system afresh at each call.
#include <cstring>
#include <vector>

#include "platform/WinIpHelper.h"
#include "platform/linux/Internal.h"

// System headers after the layer's own, whose names their macros would rewrite.
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <algorithm>
#include <cerrno>
#include <cstddef>

namespace win {

DWORD GetIpAddrTable(PMIB_IPADDRTABLE table, ULONG* size, BOOL order) {
    if (size == nullptr) return ERROR_INVALID_PARAMETER;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return detail::Win32ErrorFromErrno(errno);
    std::vector<MIB_IPADDRROW> rows;
    for (ifaddrs* item = list; item != nullptr; item = item->ifa_next) {
        if (item->ifa_addr == nullptr || item->ifa_addr->sa_family != AF_INET || !(item->ifa_flags & IFF_UP)) continue;
        const unsigned index = ::if_nametoindex(item->ifa_name);
        if (index == 0) continue;  // went away meanwhile
        MIB_IPADDRROW row{};
        row.dwAddr = reinterpret_cast<const ::sockaddr_in*>(item->ifa_addr)->sin_addr.s_addr;
        row.dwIndex = index;
        if (item->ifa_netmask != nullptr)
            row.dwMask = reinterpret_cast<const ::sockaddr_in*>(item->ifa_netmask)->sin_addr.s_addr;
        if ((item->ifa_flags & IFF_BROADCAST) && item->ifa_broadaddr != nullptr)
            row.dwBCastAddr = reinterpret_cast<const ::sockaddr_in*>(item->ifa_broadaddr)->sin_addr.s_addr;
        row.dwReasmSize = 65535;
        rows.push_back(row);
    }
    freeifaddrs(list);
    if (order) {
        std::sort(rows.begin(), rows.end(),
                  [](const MIB_IPADDRROW& a, const MIB_IPADDRROW& b) { return ntohl(a.dwAddr) < ntohl(b.dwAddr); });
    }

    // The table holds at least its one declared row, also when it is empty.
    const std::size_t needed =
        offsetof(MIB_IPADDRTABLE, table) + std::max<std::size_t>(rows.size(), 1) * sizeof(MIB_IPADDRROW);
    if (table == nullptr || *size < needed) {
        *size = static_cast<ULONG>(needed);
        return ERROR_INSUFFICIENT_BUFFER;
    }
    table->dwNumEntries = static_cast<DWORD>(rows.size());
    MIB_IPADDRROW* out = table->table;  // dwNumEntries rows from here on
    for (std::size_t i = 0; i < rows.size(); ++i) out[i] = rows[i];
    return NO_ERROR;
}

char* if_indextoname(DWORD index, char* name) {
    if (name == nullptr) return nullptr;
    char buffer[IF_NAMESIZE] = {};
    if (::if_indextoname(index, buffer) == nullptr) return nullptr;
    std::memcpy(name, buffer, sizeof buffer);
    name[IF_NAMESIZE - 1] = '\0';
    return name;
}

}  // namespace win
