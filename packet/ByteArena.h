// An append-only arena for the bytes of received datagrams. Blocks are cut one
// after the other from 64 KiB regions of the system (VirtualAlloc), with no
// per-block header and no alignment padding, and never reused one by one: a
// region goes back to the system when its last block is freed, except for a
// few emptied regions kept as spares: a capture whose records are freed as
// fast as they come would otherwise map, fault in and unmap a region every few
// dozen datagrams. Records are freed all at once when their rows are cleared,
// so clearing returns the memory of every byte kept but the spares.
//
// Blocks of at most kMaxBlock bytes come from here; callers keep larger ones
// elsewhere. Any thread may allocate and free; one mutex serialises both.
#pragma once

#include <cstddef>
#include <mutex>

class ByteArena {
public:
    /// The largest block the arena hands out.
    static constexpr std::size_t kMaxBlock = 8192;
    /// Emptied regions kept for reuse instead of going back to the system:
    /// 2 MiB, the bytes of a receive batch of 1,024 full-size Ethernet
    /// datagrams (about 24 regions), which a consumer frees together. With
    /// fewer, a capture whose records are freed as they come maps and unmaps
    /// regions all the time: 4 cost about 0.2 to 0.4 µs per 1,400-byte
    /// datagram more than 32 in the capture benchmark.
    static constexpr std::size_t kSpareRegions = 32;

    ByteArena() = default;
    ~ByteArena();
    ByteArena(const ByteArena&) = delete;
    ByteArena& operator=(const ByteArena&) = delete;

    /// size bytes (1 to kMaxBlock), unaligned; throws std::bad_alloc when no
    /// region can be had.
    void* Allocate(std::size_t size);
    /// Gives back a block of this arena (null is ignored).
    void Free(void* block);

    /// Blocks in use and bytes of regions held, spares included (for measurements).
    std::size_t GetLiveCount() const;
    std::size_t GetRegionBytes() const;

private:
    struct Region;

    /// Keeps an emptied region as a spare, or gives it back; m_lock held.
    void Retire(Region* region);

    mutable std::mutex m_lock;
    Region* m_pCurrent = nullptr;  // the region blocks are cut from now
    Region* m_pSpares[kSpareRegions] = {};  // emptied regions, m_nSpares of them
    std::size_t m_nSpares = 0;
    std::size_t m_nRegions = 0;
    std::size_t m_nLive = 0;
};
