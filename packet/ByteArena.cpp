// Blocks cut from 64 KiB regions: see ByteArena.h. A region starts with its
// header; the region of a block is found by rounding the block's address down
// to the region size, which VirtualAlloc's alignment guarantees.
#include "packet/ByteArena.h"

#include <cstdint>
#include <new>

#include "platform/WinMemory.h"

namespace {

constexpr std::size_t kRegionSize = win::kAllocationGranularity;
constexpr std::size_t kHeaderSize = 16;

}  // namespace

struct ByteArena::Region {
    std::uint32_t used;  // bytes cut so far, header included
    std::uint32_t live;  // blocks in use
};

ByteArena::~ByteArena()
{
    // Blocks still in use keep their regions: their owners may outlive us.
    std::lock_guard<std::mutex> lock(m_lock);
    if (m_pCurrent && m_pCurrent->live == 0) win::VirtualFree(m_pCurrent, 0, win::MEM_RELEASE);
    while (m_nSpares > 0) win::VirtualFree(m_pSpares[--m_nSpares], 0, win::MEM_RELEASE);
}

void* ByteArena::Allocate(std::size_t size)
{
    static_assert(sizeof(Region) <= kHeaderSize && kMaxBlock <= kRegionSize - kHeaderSize);
    if (size == 0 || size > kMaxBlock) throw std::bad_alloc();
    std::lock_guard<std::mutex> lock(m_lock);
    if (!m_pCurrent || m_pCurrent->used + size > kRegionSize) {
        void* memory = nullptr;
        if (m_nSpares > 0) {
            memory = m_pSpares[--m_nSpares];
        } else {
            memory = win::VirtualAlloc(nullptr, kRegionSize, win::MEM_COMMIT | win::MEM_RESERVE, win::PAGE_READWRITE);
            if (!memory) throw std::bad_alloc();
            ++m_nRegions;
        }
        // The full region is left to the blocks that live in it.
        if (m_pCurrent && m_pCurrent->live == 0) Retire(m_pCurrent);
        m_pCurrent = new (memory) Region{static_cast<std::uint32_t>(kHeaderSize), 0};
    }
    void* block = reinterpret_cast<char*>(m_pCurrent) + m_pCurrent->used;
    m_pCurrent->used += static_cast<std::uint32_t>(size);
    ++m_pCurrent->live;
    ++m_nLive;
    return block;
}

void ByteArena::Free(void* block)
{
    if (!block) return;
    auto* region = reinterpret_cast<Region*>(reinterpret_cast<std::uintptr_t>(block) & ~(std::uintptr_t{kRegionSize} - 1));
    std::lock_guard<std::mutex> lock(m_lock);
    --m_nLive;
    if (--region->live != 0) return;
    if (region == m_pCurrent) {
        // Nothing lives here any more: cut again from the start.
        region->used = kHeaderSize;
        return;
    }
    Retire(region);
}

void ByteArena::Retire(Region* region)
{
    if (m_nSpares < kSpareRegions) {
        m_pSpares[m_nSpares++] = region;
        return;
    }
    win::VirtualFree(region, 0, win::MEM_RELEASE);
    --m_nRegions;
}

std::size_t ByteArena::GetLiveCount() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_nLive;
}

std::size_t ByteArena::GetRegionBytes() const
{
    std::lock_guard<std::mutex> lock(m_lock);
    return m_nRegions * kRegionSize;
}
