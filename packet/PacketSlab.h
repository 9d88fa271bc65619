// Fixed-size slots for packet records, cut from 64 KiB regions of the system
// (VirtualAlloc). A slot costs its size and nothing more: no per-object heap
// header, no rounding. Freed slots are reused first; a region whose last slot
// is freed goes straight back to the system, so clearing every record returns
// all of their memory.
//
// Any thread may allocate and free; one mutex serialises both.
#pragma once

#include <cstddef>
#include <mutex>

class PacketSlab {
public:
    /// Slots of slotSize bytes (a multiple of 8, at most a few KiB).
    explicit PacketSlab(std::size_t slotSize);
    ~PacketSlab();
    PacketSlab(const PacketSlab&) = delete;
    PacketSlab& operator=(const PacketSlab&) = delete;

    /// A free slot; throws std::bad_alloc when no region can be had.
    void* Allocate();
    /// Gives back a slot of this slab (null is ignored).
    void Free(void* slot);

    /// Slots in use and bytes of regions held (for measurements).
    std::size_t GetLiveCount() const;
    std::size_t GetRegionBytes() const;

private:
    struct Region;
    void Unlink(Region* region);
    void PushPartial(Region* region);

    const std::size_t m_nSlotSize;
    const std::size_t m_nSlotsPerRegion;
    mutable std::mutex m_lock;
    Region* m_pPartial = nullptr;  // regions with a free slot
    std::size_t m_nRegions = 0;
    std::size_t m_nLive = 0;
};
