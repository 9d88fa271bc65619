// The capture's memory headroom. Every datagram kept costs memory (its record,
// its bytes, its list row), and a capture left running fills any machine; the
// engine asks this watch before it keeps one more, so that it stops while
// there is still room instead of being killed or aborted when none is left.
//
// The memory that can still be had is read with GlobalMemoryStatusEx, whose
// figures honour the memory limit of the process's control group and the
// process's address-space limit. Each of the two has a headroom of its own,
// taken from its own total: physical memory against the machine's (or the
// group's) memory, address space against the limit in force, so that a small
// address-space limit is not measured against the machine's memory. A
// reading that fails (it needs memory too) counts as no room: when memory has
// run out that far, keeping more datagrams is what must stop. Reading costs a
// few file reads, so it is read again only after a share of memory has been
// charged or a number of datagrams kept.
//
// Any thread may call every operation.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/WinMemory.h"

class MemoryWatch {
public:
    /// Bytes charged, or datagrams kept, between two readings of the status.
    static constexpr std::uint64_t kReadEveryBytes = 4u << 20;
    static constexpr std::uint64_t kReadEveryCharges = 4096;
    /// What one kept datagram costs besides its bytes: its record and its list row, rounded up.
    static constexpr std::uint64_t kPerDatagram = 128;

    MemoryWatch();

    /// The headroom to keep out of a total: 1/16 of it, at least 48 MiB and at
    /// most 256 MiB; what remains of it after the stop is what the records
    /// still queued, their rows and the window need.
    static win::DWORDLONG ReserveOf(win::DWORDLONG total);
    /// True when the status leaves less physical memory than the reserve of
    /// the physical total, or less address space than the reserve of the
    /// address-space total.
    static bool IsLow(const win::MEMORYSTATUSEX& status);
    /// The memory that can still be had by the status: the lower of physical and virtual.
    static win::DWORDLONG RoomIn(const win::MEMORYSTATUSEX& status);

    /// False once the headroom is gone: the caller keeps nothing more.
    bool HasRoom() const { return !m_bLow.load(std::memory_order_relaxed); }
    /// Counts a datagram about to be kept; reads the status when enough has
    /// been charged since the last reading. Returns HasRoom().
    /// Never throws.
    bool Charge(std::uint64_t bytes) noexcept;
    /// Reads the status now (at the start of a capture, after memory was
    /// freed). A reading that fails counts as no room. Never throws.
    bool Check() noexcept;

private:
    std::atomic<std::uint64_t> m_nChargedBytes{0};
    std::atomic<std::uint64_t> m_nCharges{0};
    std::atomic<bool> m_bLow{false};
};
