// The byte arena: blocks packed one after the other without overlap, regions
// given back when their last block goes, the region being filled reused once
// empty, the size bounds and allocation failure.
#include "packet/ByteArena.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <vector>

#include "platform/TestHooks.h"
#include "platform/WinMemory.h"

namespace {

TEST(ByteArenaTest, BlocksDoNotOverlapAndRegionsGoBack) {
    ByteArena arena;
    std::vector<std::pair<unsigned char*, std::size_t>> blocks;
    std::size_t total = 0;
    for (int i = 0; i < 20000; ++i) {
        const std::size_t size = 1 + static_cast<std::size_t>(i * 37) % 1500;
        auto* block = static_cast<unsigned char*>(arena.Allocate(size));
        std::memset(block, i & 0xFF, size);
        blocks.emplace_back(block, size);
        total += size;
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const auto [block, size] = blocks[i];
        ASSERT_EQ(block[0], i & 0xFF) << i;
        ASSERT_EQ(block[size - 1], i & 0xFF) << i;
    }
    EXPECT_EQ(arena.GetLiveCount(), blocks.size());
    // Packed: the regions hold little more than the bytes (a block never
    // straddles two regions, so each region wastes less than the largest block).
    const std::size_t regions = arena.GetRegionBytes() / win::kAllocationGranularity;
    EXPECT_LE(arena.GetRegionBytes(), total + regions * (1500 + 16));
    for (const auto& [block, size] : blocks) arena.Free(block);
    EXPECT_EQ(arena.GetLiveCount(), 0u);
    EXPECT_LE(arena.GetRegionBytes(), (1 + ByteArena::kSpareRegions) * win::kAllocationGranularity)
        << "only the region being filled and the spares stay";
}

TEST(ByteArenaTest, EmptyCurrentRegionIsCutAgainFromItsStart) {
    ByteArena arena;
    void* first = arena.Allocate(100);
    arena.Free(first);
    EXPECT_EQ(arena.Allocate(100), first);
}

TEST(ByteArenaTest, RegionKeptWhileOneBlockLives) {
    ByteArena arena;
    void* survivor = arena.Allocate(1000);
    std::memset(survivor, 0x77, 1000);
    std::vector<void*> others;
    for (int i = 0; i < 300; ++i) others.push_back(arena.Allocate(1000));  // several regions
    for (void* block : others) arena.Free(block);
    EXPECT_EQ(arena.GetLiveCount(), 1u);
    EXPECT_EQ(static_cast<unsigned char*>(survivor)[999], 0x77);
    EXPECT_LE(arena.GetRegionBytes(), (2 + ByteArena::kSpareRegions) * win::kAllocationGranularity);
    arena.Free(survivor);
}

TEST(ByteArenaTest, EmptiedRegionsAreReusedBeforeNewOnesAreMapped) {
    ByteArena arena;
    // Fill three regions, free every block of the first two: they become spares.
    std::vector<void*> blocks;
    for (int i = 0; i < 21; ++i) blocks.push_back(arena.Allocate(ByteArena::kMaxBlock));
    for (int i = 0; i < 14; ++i) arena.Free(blocks[i]);
    const std::size_t held = arena.GetRegionBytes();
    ASSERT_EQ(held, 3 * win::kAllocationGranularity);
    // The next two regions come from the spares, so no mapping is needed.
    win::testing::SetVirtualAllocFailures(2);
    std::vector<void*> more;
    for (int i = 0; i < 14; ++i) more.push_back(arena.Allocate(ByteArena::kMaxBlock));
    EXPECT_EQ(arena.GetRegionBytes(), held);
    EXPECT_EQ(win::testing::GetVirtualAllocFailures(), 2) << "no region was mapped";
    win::testing::SetVirtualAllocFailures(0);
    // A region that empties beyond the spare count goes back to the system.
    for (void* block : more) arena.Free(block);
    for (int i = 14; i < 21; ++i) arena.Free(blocks[i]);
    EXPECT_EQ(arena.GetLiveCount(), 0u);
    EXPECT_LE(arena.GetRegionBytes(), (1 + ByteArena::kSpareRegions) * win::kAllocationGranularity);
}

TEST(ByteArenaTest, SizeBoundsAndFailure) {
    ByteArena arena;
    EXPECT_THROW(arena.Allocate(0), std::bad_alloc);
    EXPECT_THROW(arena.Allocate(ByteArena::kMaxBlock + 1), std::bad_alloc);
    // Seven of the largest blocks fill a 64 KiB region; the eighth needs a new one.
    std::vector<void*> blocks;
    for (int i = 0; i < 7; ++i) {
        blocks.push_back(arena.Allocate(ByteArena::kMaxBlock));
        std::memset(blocks.back(), i, ByteArena::kMaxBlock);
    }
    ASSERT_EQ(arena.GetRegionBytes(), win::kAllocationGranularity);
    win::testing::SetVirtualAllocFailures(1);
    EXPECT_THROW(arena.Allocate(ByteArena::kMaxBlock), std::bad_alloc);
    EXPECT_EQ(arena.GetLiveCount(), 7u) << "a failed allocation adds nothing";
    void* next = arena.Allocate(ByteArena::kMaxBlock);
    EXPECT_NE(next, nullptr) << "the next allocation works";
    EXPECT_EQ(arena.GetRegionBytes(), 2 * win::kAllocationGranularity);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(static_cast<unsigned char*>(blocks[i])[ByteArena::kMaxBlock - 1], i);
    arena.Free(next);
    for (void* block : blocks) arena.Free(block);
    EXPECT_EQ(arena.GetLiveCount(), 0u);
}

}  // namespace
