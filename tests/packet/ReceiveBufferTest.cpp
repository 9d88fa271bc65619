// Lending of the per-thread receive buffer: records made before an earlier
// one has kept its bytes, records deleted before any receive, and records on
// several threads.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "packet/IPPacket.h"
#include "packet/ReceiveBuffer.h"

namespace {

TEST(ReceiveBufferTest, SecondRecordBeforeFirstKeepsDoesNotOverwriteIt)
{
    IPPacket first;
    std::memset(first.GetData(), 0x11, 65535);
    IPPacket second;
    ASSERT_NE(first.GetData(), second.GetData());
    std::memset(second.GetData(), 0x22, 65535);
    second.SetReceived(100);
    first.SetReceived(65535);
    for (int i = 0; i < 65535; ++i) {
        ASSERT_EQ(first.GetData()[i], 0x11) << i;
    }
    for (int i = 0; i < 100; ++i) {
        ASSERT_EQ(second.GetData()[i], 0x22) << i;
    }
}

TEST(ReceiveBufferTest, RecordDeletedBeforeReceiveLeavesTheBufferUsable)
{
    win::BYTE* lent = nullptr;
    {
        IPPacket dropped;
        lent = dropped.GetData();
    }
    IPPacket next;
    EXPECT_EQ(next.GetData(), lent) << "the thread's buffer is lent again";
    std::memset(next.GetData(), 0x33, 65535);
    next.SetReceived(10);
    EXPECT_NE(next.GetData(), lent) << "after the receive the record holds its own copy";
    IPPacket after;
    EXPECT_EQ(after.GetData(), lent);
}

TEST(ReceiveBufferTest, BorrowIsExclusivePerThread)
{
    ReceiveBuffer* mine = ReceiveBuffer::Borrow();
    ASSERT_NE(mine, nullptr);
    EXPECT_EQ(ReceiveBuffer::Borrow(), nullptr);
    ReceiveBuffer* other = nullptr;
    std::thread([&] {
        other = ReceiveBuffer::Borrow();
        ASSERT_NE(other, nullptr);
        other->Return();
    }).join();
    EXPECT_NE(other, mine);
    mine->Return();
    ReceiveBuffer* again = ReceiveBuffer::Borrow();
    EXPECT_EQ(again, mine);
    again->Return();
}

TEST(ReceiveBufferTest, RecordsMadeOnWorkerThreadsAreReadElsewhere)
{
    std::vector<IPPacket*> made(4, nullptr);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < made.size(); ++i) {
        threads.emplace_back([&made, i] {
            auto* packet = new IPPacket;
            std::memset(packet->GetData(), static_cast<int>(i + 1), 64);
            packet->SetReceived(64);
            made[i] = packet;
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    for (std::size_t i = 0; i < made.size(); ++i) {
        for (int b = 0; b < 64; ++b) {
            ASSERT_EQ(made[i]->GetData()[b], i + 1);
        }
        delete made[i];
    }
}

}  // namespace
