// Memory services of the Windows kernel on Linux: whole-page regions that go
// straight back to the system when freed (VirtualAlloc, VirtualFree), and the
// memory status (GlobalMemoryStatusEx), whose figures take the memory limit of
// the process's control group into account where one is set.
#pragma once

#include "platform/WinTypes.h"

namespace win {

using DWORDLONG = std::uint64_t;

inline constexpr DWORD MEM_COMMIT = 0x00001000;
inline constexpr DWORD MEM_RESERVE = 0x00002000;
inline constexpr DWORD MEM_RELEASE = 0x00008000;
inline constexpr DWORD PAGE_READWRITE = 0x04;

/// Regions start on a multiple of this, as on Windows.
inline constexpr SIZE_T kAllocationGranularity = 64 * 1024;

/// Reserves and commits size bytes of zeroed read-write memory that starts on a
/// multiple of kAllocationGranularity. address must be null; type must hold
/// MEM_COMMIT. Pages take no memory before they are written. Null on failure
/// (last error ERROR_NOT_ENOUGH_MEMORY or ERROR_INVALID_PARAMETER).
LPVOID VirtualAlloc(LPVOID address, SIZE_T size, DWORD type, DWORD protect);
/// Gives a whole region back (size 0, MEM_RELEASE); its memory returns to the system at once.
BOOL VirtualFree(LPVOID address, SIZE_T size, DWORD type);

struct MEMORYSTATUSEX {
    DWORD dwLength;                 ///< set to sizeof(MEMORYSTATUSEX) by the caller
    DWORD dwMemoryLoad;             ///< percent of physical memory in use
    DWORDLONG ullTotalPhys;         ///< the machine's memory, or the control group's limit if lower
    DWORDLONG ullAvailPhys;         ///< memory that can still be had, under that limit
    DWORDLONG ullTotalPageFile;     ///< physical memory plus swap
    DWORDLONG ullAvailPageFile;
    DWORDLONG ullTotalVirtual;      ///< the process's address space (its limit, if one is set)
    DWORDLONG ullAvailVirtual;      ///< the part of it not yet mapped
    DWORDLONG ullAvailExtendedVirtual;  ///< always 0
};
using LPMEMORYSTATUSEX = MEMORYSTATUSEX*;

/// Fills the status; FALSE with ERROR_INVALID_PARAMETER when dwLength is
/// wrong, with ERROR_NOT_ENOUGH_MEMORY when no memory to read it can be had.
/// Never throws.
BOOL GlobalMemoryStatusEx(LPMEMORYSTATUSEX status);

}  // namespace win
