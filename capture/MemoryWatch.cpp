// The capture's memory headroom: see MemoryWatch.h.
#include "capture/MemoryWatch.h"

#include <algorithm>

using namespace win;

MemoryWatch::MemoryWatch() = default;

DWORDLONG MemoryWatch::ReserveFor(const MEMORYSTATUSEX& status)
{
    constexpr DWORDLONG kMin = 48ull << 20;
    constexpr DWORDLONG kMax = 256ull << 20;
    return std::clamp<DWORDLONG>(status.ullTotalPhys / 16, kMin, kMax);
}

DWORDLONG MemoryWatch::RoomIn(const MEMORYSTATUSEX& status)
{
    return std::min(status.ullAvailPhys, status.ullAvailVirtual);
}

bool MemoryWatch::Check()
{
    m_nChargedBytes.store(0, std::memory_order_relaxed);
    m_nCharges.store(0, std::memory_order_relaxed);
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    // A status that cannot be read is no reason to stop.
    const bool low = GlobalMemoryStatusEx(&status) && RoomIn(status) < ReserveFor(status);
    m_bLow.store(low, std::memory_order_relaxed);
    return !low;
}

bool MemoryWatch::Charge(std::uint64_t bytes)
{
    const std::uint64_t charged = m_nChargedBytes.fetch_add(bytes + kPerDatagram, std::memory_order_relaxed) + bytes + kPerDatagram;
    const std::uint64_t charges = m_nCharges.fetch_add(1, std::memory_order_relaxed) + 1;
    // The thread that crosses a step reads the status; the others go on.
    const bool due = charged / kReadEveryBytes != (charged - bytes - kPerDatagram) / kReadEveryBytes ||
                     charges % kReadEveryCharges == 0;
    if (due) return Check();
    return HasRoom();
}
