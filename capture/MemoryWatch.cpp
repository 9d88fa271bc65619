// The capture's memory headroom: see MemoryWatch.h.
#include "capture/MemoryWatch.h"

#include <algorithm>

using namespace win;

MemoryWatch::MemoryWatch() = default;

DWORDLONG MemoryWatch::ReserveOf(DWORDLONG total)
{
    constexpr DWORDLONG kMin = 48ull << 20;
    constexpr DWORDLONG kMax = 256ull << 20;
    return std::clamp<DWORDLONG>(total / 16, kMin, kMax);
}

bool MemoryWatch::IsLow(const MEMORYSTATUSEX& status)
{
    return status.ullAvailPhys < ReserveOf(status.ullTotalPhys) ||
           status.ullAvailVirtual < ReserveOf(status.ullTotalVirtual);
}

DWORDLONG MemoryWatch::RoomIn(const MEMORYSTATUSEX& status)
{
    return std::min(status.ullAvailPhys, status.ullAvailVirtual);
}

bool MemoryWatch::Check() noexcept
{
    m_nChargedBytes.store(0, std::memory_order_relaxed);
    m_nCharges.store(0, std::memory_order_relaxed);
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    bool read = false;
    try {
        read = GlobalMemoryStatusEx(&status) != FALSE;
    } catch (...) {
        // The layer reports its failures; should anything still be thrown,
        // it is a failed reading like any other.
        read = false;
    }
    const bool low = !read || IsLow(status);
    m_bLow.store(low, std::memory_order_relaxed);
    return !low;
}

bool MemoryWatch::Charge(std::uint64_t bytes) noexcept
{
    const std::uint64_t charged = m_nChargedBytes.fetch_add(bytes + kPerDatagram, std::memory_order_relaxed) + bytes + kPerDatagram;
    const std::uint64_t charges = m_nCharges.fetch_add(1, std::memory_order_relaxed) + 1;
    // The thread that crosses a step reads the status; the others go on.
    const bool due = charged / kReadEveryBytes != (charged - bytes - kPerDatagram) / kReadEveryBytes ||
                     charges % kReadEveryCharges == 0;
    if (due) return Check();
    return HasRoom();
}
