// IP Helper services: the table of the machine's IPv4 addresses with the
// index of the interface that owns each one, and an interface's name from its
// index, so that an address can be shown with the interface it belongs to.
#pragma once

#include "WinTypes.h"

namespace win {

inline constexpr DWORD NO_ERROR = 0;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;

/// The longest interface name, without its terminating NUL.
inline constexpr int IF_MAX_STRING_SIZE = 256;

struct MIB_IPADDRROW {
    DWORD dwAddr;  // network byte order
    DWORD dwIndex;
    DWORD dwMask;  // network byte order
    DWORD dwBCastAddr;
    DWORD dwReasmSize;
    unsigned short unused1;
    unsigned short wType;
};
struct MIB_IPADDRTABLE {
    DWORD dwNumEntries;
    MIB_IPADDRROW table[1];
};
using PMIB_IPADDRTABLE = MIB_IPADDRTABLE*;

/// Fills table with one row per IPv4 address of an interface that is up.
/// ERROR_INSUFFICIENT_BUFFER, with *size set to the bytes needed, when table
/// is null or *size is too small. order sorts the rows by address.
DWORD GetIpAddrTable(PMIB_IPADDRTABLE table, ULONG* size, BOOL order);

/// The name of the interface with this index, written to name (at least
/// IF_MAX_STRING_SIZE + 1 bytes); null when there is no such interface.
char* if_indextoname(DWORD index, char* name);

}  // namespace win
