// Slots in 64 KiB regions: see PacketSlab.h. A region starts with its header;
// the region of a slot is found by rounding the slot's address down to the
// region size, which VirtualAlloc's alignment guarantees.
#include "packet/PacketSlab.h"

#include <cstdint>
#include <new>

#include "platform/WinMemory.h"

namespace {

constexpr std::size_t kRegionSize = win::kAllocationGranularity;

struct FreeSlot {
    FreeSlot* next;
};

}  // namespace

struct PacketSlab::Region {
    Region* prev;
    Region* next;
    FreeSlot* free;         // slots given back, reused first
    std::size_t used;       // slots handed out at least once (from the front)
    std::size_t live;       // slots in use now
    bool partial;           // on the partial list
};

namespace {

constexpr std::size_t kHeaderSize = 64;

}  // namespace

PacketSlab::PacketSlab(std::size_t slotSize)
    : m_nSlotSize((slotSize + 7) / 8 * 8), m_nSlotsPerRegion((kRegionSize - kHeaderSize) / ((slotSize + 7) / 8 * 8))
{
    static_assert(sizeof(Region) <= kHeaderSize);
}

PacketSlab::~PacketSlab()
{
    // Regions of slots still in use are left alone: their objects may outlive us.
}

void PacketSlab::Unlink(Region* region)
{
    if (region->prev) region->prev->next = region->next;
    if (region->next) region->next->prev = region->prev;
    if (m_pPartial == region) m_pPartial = region->next;
    region->prev = region->next = nullptr;
    region->partial = false;
}

void PacketSlab::PushPartial(Region* region)
{
    region->prev = nullptr;
    region->next = m_pPartial;
    if (m_pPartial) m_pPartial->prev = region;
    m_pPartial = region;
    region->partial = true;
}

void* PacketSlab::Allocate()
{
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_pPartial) {
        void* memory = win::VirtualAlloc(nullptr, kRegionSize, win::MEM_COMMIT | win::MEM_RESERVE, win::PAGE_READWRITE);
        if (!memory) throw std::bad_alloc();
        auto* region = new (memory) Region{nullptr, nullptr, nullptr, 0, 0, false};
        PushPartial(region);
        ++m_nRegions;
    }
    Region* region = m_pPartial;
    void* slot;
    if (region->free) {
        slot = region->free;
        region->free = region->free->next;
    } else {
        slot = reinterpret_cast<char*>(region) + kHeaderSize + region->used * m_nSlotSize;
        ++region->used;
    }
    ++region->live;
    ++m_nLive;
    if (!region->free && region->used == m_nSlotsPerRegion) Unlink(region);
    return slot;
}

void PacketSlab::Free(void* slot)
{
    if (!slot) return;
    auto* region = reinterpret_cast<Region*>(reinterpret_cast<std::uintptr_t>(slot) & ~(std::uintptr_t{kRegionSize} - 1));
    std::lock_guard<std::mutex> lock(m_lock);
    --m_nLive;
    if (--region->live == 0) {
        if (region->partial) Unlink(region);
        region->~Region();
        win::VirtualFree(region, 0, win::MEM_RELEASE);
        --m_nRegions;
        return;
    }
    region->free = new (slot) FreeSlot{region->free};
    if (!region->partial) PushPartial(region);
}

std::size_t PacketSlab::GetLiveCount() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_nLive;
}

std::size_t PacketSlab::GetRegionBytes() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_nRegions * kRegionSize;
}
