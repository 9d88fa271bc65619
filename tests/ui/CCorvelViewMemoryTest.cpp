// The list view when memory runs out. A record that no row can take for lack
// of memory is dropped and the next one gets its row; and a real capture of an
// unbounded loopback flood under a memory limit of a control group of the
// test's own stops by itself with one message, keeps every row intact, and
// after Clear a new Start captures again. Every body runs in a child process
// with its own offscreen application made after the fork; traffic goes only
// to 127.0.0.1 and the flood is bounded in count and time.
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <iostream>
#include <cstring>
#include <thread>
#include <vector>

#include "capture/MemoryWatch.h"
#include "framework/AfxMessageBox.h"
#include "platform/TestHooks.h"
#include "platform/WinMemory.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackSender.h"
#include "tests/support/MemoryCgroup.h"
#include "tests/ui/ViewTestSupport.h"

using namespace win;
using namespace viewtest;

namespace {

// An unbounded flood as far as the capture is concerned: far more 1 KiB
// datagrams than the limit can hold; bounded for the test by its count and by
// the stop flag, which the test sets when the capture stops or its time is up.
class Flood {
public:
    explicit Flood(int count, std::size_t size = 1000) {
        m_thread = std::thread([this, count, size] { m_flow = m_sender.SendUdp(count, size, 0, &m_stop); });
    }
    ~Flood() { Stop(); }
    void Stop() {
        m_stop = true;
        Wait();
    }
    /// Waits until every datagram has been sent.
    void Wait() {
        if (m_thread.joinable()) m_thread.join();
    }
    std::uint16_t Port() const { return m_sender.ReceiverPort(); }
    /// Datagrams sent (after Stop).
    int Sent() const { return m_flow.sent; }

private:
    testsupport::LoopbackSender m_sender;
    std::atomic<bool> m_stop{false};
    testsupport::UdpFlow m_flow;
    std::thread m_thread;
};

int RowsTo(Harness& h, std::uint16_t port) {
    int rows = 0;
    const int count = h.List().GetItemCount();
    for (int r = 0; r < count; ++r) {
        auto* packet = reinterpret_cast<Packet*>(h.List().GetItemData(r));
        if (packet && packet->GetProtocol(nullptr) == 17 && packet->GetDestPort() == port) ++rows;
    }
    return rows;
}

DWORDLONG Room() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    GlobalMemoryStatusEx(&status);
    return MemoryWatch::RoomIn(status);
}

TEST(CCorvelViewMemoryTest, RecordWithoutRoomForItsRowIsDroppedAndTheNextGetsOne) {
    EXPECT_CHILD_PASSED(testsupport::ChildProcess::Run([] {
        EnsureApp();
        Harness h(false);
        const int deletedBefore = g_deleted.load();
        CountedPacket* dropped = Udp(0x0A000001, 1000, 0x0A000002, 2000);
        // A fresh list holds no memory yet: its first row needs a region.
        win::testing::SetVirtualAllocFailures(1);
        h.view->AddPacketRow(dropped);
        win::testing::SetVirtualAllocFailures(0);
        EXPECT_EQ(h.List().GetItemCount(), 0);
        EXPECT_EQ(g_deleted.load(), deletedBefore + 1) << "the dropped record was deleted";
        CountedPacket* next = Udp(0x0A000003, 3000, 0x0A000004, 4000);
        h.view->AddPacketRow(next);
        ASSERT_EQ(h.List().GetItemCount(), 1);
        EXPECT_EQ(h.List().GetItemData(0), reinterpret_cast<DWORD_PTR>(static_cast<Packet*>(next)));
        EXPECT_EQ(h.Cell(0, 1), "10.0.0.3");
        EXPECT_EQ(h.Cell(0, 4), "4000");
    }));
}

TEST(CCorvelViewMemoryTest, FloodUnderAMemoryLimitStopsOnceKeepsTheRowsAndClearLetsStartAgain) {
    constexpr unsigned long long kLimit = 384ull << 20;
    testsupport::MemoryCgroup group(kLimit);
    if (!group.IsReady()) GTEST_SKIP() << group.Reason();
    EXPECT_CHILD_PASSED(testsupport::ChildProcess::Run(
        [&] {
            // Everything the child holds from here on counts against the limit.
            if (!group.Join(getpid())) testsupport::ChildProcess::FailChild("cannot join the control group");
            EnsureApp();
            WinsockSession winsock;
            std::vector<std::string> boxes;
            win::testing::SetMessageBoxRecorder(&boxes);
            Harness h;
            h.doc->m_engine.m_sAdapter = "127.0.0.1";
            h.doc->OnCaptureStart();
            ASSERT_TRUE(boxes.empty()) << boxes.front();
            ASSERT_TRUE(h.doc->m_engine.IsCapturing());

            // Unbounded for the capture: far more than the limit can hold
            // (1 KiB datagrams), bounded for the test in count and time.
            Flood flood(4'000'000);
            const bool told = PumpUntil([&] { return !boxes.empty(); }, 90'000);
            flood.Stop();
            ASSERT_TRUE(told) << "no message after " << flood.Sent() << " datagrams, "
                              << h.List().GetItemCount() << " rows";
            EXPECT_FALSE(h.doc->m_engine.IsCapturing()) << "the capture stopped";

            // The records queued at the stop still get their rows.
            int rows = -1;
            PumpUntil(
                [&] {
                    const int now = h.List().GetItemCount();
                    const bool settled = now == rows;
                    rows = now;
                    if (!settled) QTest::qWait(300);
                    return settled;
                },
                20'000);
            std::cout << "stopped after " << flood.Sent() << " datagrams sent, " << rows << " rows\n";
            EXPECT_GT(RowsTo(h, flood.Port()), 10000) << "the flood filled the list";

            // Every row intact: its record and its texts agree.
            char text[64];
            for (int r = 0; r < rows; ++r) {
                auto* packet = reinterpret_cast<Packet*>(h.List().GetItemData(r));
                ASSERT_NE(packet, nullptr) << "row " << r;
                ASSERT_EQ(h.Cell(r, 0), packet->GetTimestamp()) << "row " << r;
                packet->GetSourceAddress(text);
                ASSERT_EQ(h.Cell(r, 1), text) << "row " << r;
                ASSERT_EQ(h.Cell(r, 4), std::to_string(packet->GetDestPort())) << "row " << r;
                packet->GetSize(text);
                ASSERT_EQ(h.Cell(r, 6), text) << "row " << r;
                ASSERT_EQ(packet->GetReceived(), packet->GetSize(nullptr)) << "row " << r;
            }
            QTest::qWait(500);
            ASSERT_EQ(boxes.size(), 1u) << "told once";
            EXPECT_EQ(boxes[0], CCorvelDoc::kMemoryStopText);

            // Clear gives the memory back: the room is well above the stop's reserve again.
            const DWORDLONG roomBefore = Room();
            // The captured rows are unsaved: Clear asks, and No drops them.
            win::testing::SetMessageBoxAnswer(win::IDNO);
            h.view->OnCaptureClear();
            ASSERT_EQ(boxes.size(), 2u);
            EXPECT_EQ(boxes[1].rfind("Save changes to ", 0), 0u) << boxes[1];
            boxes.pop_back();
            EXPECT_EQ(h.List().GetItemCount(), 0);
            const DWORDLONG roomAfter = Room();
            std::cout << "room " << (roomBefore >> 20) << " MiB before Clear, " << (roomAfter >> 20) << " MiB after\n";
            EXPECT_GT(roomAfter, roomBefore + (100ull << 20));

            // Start captures again.
            h.doc->OnCaptureStart();
            EXPECT_TRUE(h.doc->m_engine.IsCapturing());
            Flood again(50, 100);
            again.Wait();
            EXPECT_TRUE(PumpUntil([&] { return RowsTo(h, again.Port()) == 50; }, 10'000))
                << RowsTo(h, again.Port()) << " rows of 50";
            EXPECT_TRUE(h.doc->m_engine.IsCapturing());
            EXPECT_EQ(boxes.size(), 1u) << "no second message";
            h.doc->OnCaptureStop();
            win::testing::SetMessageBoxRecorder(nullptr);
        },
        150));
}

}  // namespace
