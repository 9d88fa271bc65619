// The records' slab: distinct slots, reuse of freed ones, regions given back
// when their last slot goes, allocation failure, and records of the slab made
// and freed on several threads.
#include "packet/PacketSlab.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <set>
#include <thread>
#include <vector>

#include "packet/ByteArena.h"
#include "packet/IPPacket.h"
#include "platform/TestHooks.h"

namespace {

TEST(PacketSlabTest, SlotsAreDistinctAndRegionsGoBackWhenEmpty) {
    PacketSlab slab(32);
    std::vector<void*> slots;
    std::set<std::uintptr_t> seen;
    // Enough for several regions.
    for (int i = 0; i < 10000; ++i) {
        void* slot = slab.Allocate();
        std::memset(slot, i & 0xFF, 32);
        ASSERT_TRUE(seen.insert(reinterpret_cast<std::uintptr_t>(slot)).second) << "slot handed out twice";
        slots.push_back(slot);
    }
    for (int i = 0; i < 10000; ++i) {
        const auto* bytes = static_cast<const unsigned char*>(slots[i]);
        ASSERT_EQ(bytes[0], i & 0xFF) << "slots overlap at " << i;
        ASSERT_EQ(bytes[31], i & 0xFF) << "slots overlap at " << i;
    }
    EXPECT_EQ(slab.GetLiveCount(), 10000u);
    EXPECT_GE(slab.GetRegionBytes(), 10000u * 32);
    for (void* slot : slots) slab.Free(slot);
    EXPECT_EQ(slab.GetLiveCount(), 0u);
    EXPECT_EQ(slab.GetRegionBytes(), 0u) << "every region went back";
}

TEST(PacketSlabTest, FreedSlotsAreReusedFirst) {
    PacketSlab slab(40);
    void* a = slab.Allocate();
    void* b = slab.Allocate();
    void* c = slab.Allocate();
    slab.Free(b);
    EXPECT_EQ(slab.Allocate(), b);
    const std::size_t held = slab.GetRegionBytes();
    std::vector<void*> more;
    for (int i = 0; i < 100; ++i) more.push_back(slab.Allocate());
    for (void* slot : more) slab.Free(slot);
    for (int i = 0; i < 100; ++i) more[i] = slab.Allocate();
    EXPECT_EQ(slab.GetRegionBytes(), held) << "freed slots were taken again before any new region";
    for (void* slot : more) slab.Free(slot);
    for (void* slot : {a, b, c}) slab.Free(slot);
    slab.Free(nullptr);
    EXPECT_EQ(slab.GetRegionBytes(), 0u);
}

TEST(PacketSlabTest, NoRegionMeansBadAllocAndNothingChanges) {
    PacketSlab slab(32);
    win::testing::SetVirtualAllocFailures(1);
    EXPECT_THROW(slab.Allocate(), std::bad_alloc);
    EXPECT_EQ(slab.GetLiveCount(), 0u);
    void* slot = slab.Allocate();
    EXPECT_NE(slot, nullptr) << "the next allocation works";
    slab.Free(slot);
}

TEST(PacketSlabTest, RecordsComeFromTheSlabAndGoBackToIt) {
    const std::size_t live = IPPacket::GetSlab().GetLiveCount();
    Packet* packet = new IPPacket;
    EXPECT_EQ(IPPacket::GetSlab().GetLiveCount(), live + 1);
    delete packet;  // through the interface
    EXPECT_EQ(IPPacket::GetSlab().GetLiveCount(), live);
}

TEST(PacketSlabTest, RecordAllocationFailureThrowsBadAlloc) {
    // With no record alive the slab holds no region, so the next record needs one.
    ASSERT_EQ(IPPacket::GetSlab().GetLiveCount(), 0u);
    win::testing::SetVirtualAllocFailures(1);
    EXPECT_THROW(delete new IPPacket, std::bad_alloc);
    win::testing::SetVirtualAllocFailures(0);
    Packet* packet = new IPPacket;
    packet->SetReceived(0);
    delete packet;
}

// A record type with a member of its own does not fit the slab's slots.
class LargerPacket : public IPPacket {
public:
    char m_extra[100] = {};
};

TEST(PacketSlabTest, DerivedRecordsOfAnotherSizeUseTheHeap) {
    const std::size_t live = IPPacket::GetSlab().GetLiveCount();
    Packet* packet = new LargerPacket;
    EXPECT_EQ(IPPacket::GetSlab().GetLiveCount(), live);
    std::memset(static_cast<LargerPacket*>(packet)->m_extra, 7, sizeof LargerPacket::m_extra);
    delete packet;
}

TEST(PacketSlabTest, RecordsMadeOnManyThreadsAndFreedOnAnother) {
    constexpr int kThreads = 4;
    constexpr int kEach = 5000;
    std::vector<std::vector<Packet*>> made(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&made, t] {
            for (int i = 0; i < kEach; ++i) {
                Packet* p = new IPPacket;
                std::memset(p->GetData(), t, 20);
                p->GetData()[19] = static_cast<win::BYTE>(i);
                p->SetReceived(20);
                made[t].push_back(p);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kEach; ++i) {
            ASSERT_EQ(made[t][i]->GetData()[0], t);
            ASSERT_EQ(made[t][i]->GetData()[19], static_cast<win::BYTE>(i));
            delete made[t][i];
        }
    }
    EXPECT_EQ(IPPacket::GetSlab().GetLiveCount(), 0u);
    EXPECT_EQ(IPPacket::GetSlab().GetRegionBytes(), 0u);
    EXPECT_EQ(IPPacket::GetArena().GetLiveCount(), 0u);
}

}  // namespace
