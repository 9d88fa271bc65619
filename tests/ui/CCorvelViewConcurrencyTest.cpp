// The list view with its consumer and other threads: rows from a real
// loopback capture in arrival order, Clear during a capture, Clear racing the
// appends, rows published only whole, and shutdown with queued records and
// with a capture running, which must end within a second and never append to
// a destroyed view.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "framework/AfxMessageBox.h"
#include "framework/ListModel.h"
#include "platform/WinSock.h"
#include "tests/support/LoopbackSender.h"
#include "tests/support/Privileges.h"
#include "tests/support/qt/QtTestHelpers.h"
#include "tests/ui/ViewTestSupport.h"

using namespace win;
using namespace viewtest;

namespace {

constexpr std::uint32_t kA = 0xC0A8010A;
constexpr std::uint32_t kB = 0x0A000001;

#define REQUIRE_CAPTURE()                                                              \
    do {                                                                               \
        std::string reason;                                                            \
        if (!testsupport::Privileges::CanCapture(&reason)) GTEST_SKIP() << reason;     \
    } while (false)

// The record of a row, read on the UI thread.
Packet* RecordOf(Harness& h, int row) { return reinterpret_cast<Packet*>(h.List().GetItemData(row)); }

// The sequence number of one of the flow's datagrams (first four payload bytes), else -1.
int SequenceOf(Packet* p, const testsupport::UdpFlow& flow) {
    if (!p || p->GetProtocol(nullptr) != 17 || p->GetSourcePort() != flow.sourcePort ||
        p->GetDestPort() != flow.destPort || p->GetReceived() < 32)
        return -1;
    const BYTE* b = p->GetData() + 28;
    return (b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
}

// Rows that hold the flow's datagrams, as (row, sequence), in row order.
std::vector<std::pair<int, int>> FlowRows(Harness& h, const testsupport::UdpFlow& flow) {
    std::vector<std::pair<int, int>> rows;
    const int n = h.List().GetItemCount();
    for (int r = 0; r < n; ++r) {
        const int seq = SequenceOf(RecordOf(h, r), flow);
        if (seq >= 0) rows.emplace_back(r, seq);
    }
    return rows;
}

TEST(CCorvelViewConcurrencyTest, LoopbackCaptureGivesRowsInArrivalOrder) {
    REQUIRE_CAPTURE();
    WinsockSession winsock;
    Harness h;
    h.doc->m_engine.m_sAdapter = "127.0.0.1";
    h.doc->m_engine.OpenCapture();
    testsupport::LoopbackSender sender;
    constexpr int kCount = 60;
    const testsupport::UdpFlow flow = sender.SendUdp(kCount, 16, 2000);
    ASSERT_EQ(flow.sent, kCount);
    ASSERT_TRUE(PumpUntil([&] { return FlowRows(h, flow).size() >= kCount; }));
    h.doc->m_engine.CloseCapture();

    const auto rows = FlowRows(h, flow);
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kCount));
    for (int i = 0; i < kCount; ++i) {
        const auto [row, seq] = rows[i];
        EXPECT_EQ(seq, i) << "arrival order";
        const std::string timestamp = h.Cell(row, 0);
        EXPECT_EQ(timestamp, RecordOf(h, row)->GetTimestamp());
        ASSERT_EQ(timestamp.size(), 12u);
        EXPECT_EQ(timestamp[2], ':');
        EXPECT_EQ(timestamp[8], ':');
        EXPECT_EQ(h.Cell(row, 1), "127.0.0.1");
        EXPECT_EQ(h.Cell(row, 2), std::to_string(flow.sourcePort));
        EXPECT_EQ(h.Cell(row, 3), "127.0.0.1");
        EXPECT_EQ(h.Cell(row, 4), std::to_string(flow.destPort));
        EXPECT_EQ(h.Cell(row, 5), "UDP");
        EXPECT_EQ(h.Cell(row, 6), "44");
        EXPECT_EQ(h.Cell(row, 7), "");
    }
}

TEST(CCorvelViewConcurrencyTest, ClearDuringCaptureMakesTheNextDatagramRowZero) {
    REQUIRE_CAPTURE();
    WinsockSession winsock;
    Harness h;
    h.doc->m_engine.m_sAdapter = "127.0.0.1";
    h.doc->m_engine.OpenCapture();
    testsupport::LoopbackSender sender;
    const testsupport::UdpFlow first = sender.SendUdp(30, 8);
    ASSERT_TRUE(PumpUntil([&] { return FlowRows(h, first).size() >= 30; }));

    // The captured rows are unsaved, so Clear asks first: No drops them.
    std::vector<std::string> prompts;
    win::testing::SetMessageBoxRecorder(&prompts);
    win::testing::SetMessageBoxAnswer(win::IDNO);
    h.view->OnCaptureClear();
    win::testing::SetMessageBoxRecorder(nullptr);
    EXPECT_EQ(prompts.size(), 1u);
    EXPECT_EQ(h.List().GetItemCount(), 0);
    const testsupport::UdpFlow next = sender.SendUdp(1, 8);
    ASSERT_TRUE(PumpUntil([&] { return FlowRows(h, next).size() == 1; }));
    h.doc->m_engine.CloseCapture();
    qvtest::PumpEvents();

    EXPECT_TRUE(FlowRows(h, first).empty()) << "no row of the first flow survives the Clear";
    // Other loopback traffic of the machine may come first; without any it is row 0.
    const int row = FlowRows(h, next)[0].first;
    for (int r = 0; r < row; ++r) EXPECT_NE(RecordOf(h, r), nullptr);
    if (h.List().GetItemCount() == 1) {
        EXPECT_EQ(row, 0);
    }
    // The newest row is published and scrolled into view by the next frame,
    // which may still be due when the events above have been handled.
    ListTableView* table = h.List().GetTableView();
    const auto newestInView = [&] {
        const QModelIndex newest = h.List().GetModel()->index(h.List().GetItemCount() - 1, 0);
        return newest.isValid() && table->viewport()->rect().contains(table->visualRect(newest));
    };
    EXPECT_TRUE(PumpUntil(newestInView, 2000));
}

TEST(CCorvelViewConcurrencyTest, ClearRacingTheAppendsFreesEveryRecordOnce) {
    Harness h(false);
    g_deleted = 0;
    constexpr int kRecords = 3000;
    std::atomic<bool> done{false};
    std::thread appender([&] {
        // As the consumer thread does: one AddPacketRow per record.
        for (int i = 0; i < kRecords; ++i)
            h.view->AddPacketRow(Udp(kA, static_cast<std::uint16_t>(i), kB, static_cast<std::uint16_t>(i ^ 0x5555)));
        done = true;
    });
    int clears = 0;
    while (!done) {
        h.view->OnCaptureClear();
        ++clears;
        QApplication::processEvents();
    }
    appender.join();
    qvtest::PumpEvents();

    // Every row that survived holds its own record with that record's cells.
    const int n = h.List().GetItemCount();
    for (int r = 0; r < n; ++r) {
        Packet* p = RecordOf(h, r);
        ASSERT_NE(p, nullptr) << "row " << r;
        EXPECT_EQ(h.Cell(r, 2), std::to_string(p->GetSourcePort()));
        EXPECT_EQ(h.Cell(r, 4), std::to_string(p->GetDestPort()));
    }
    EXPECT_EQ(g_deleted + n, kRecords) << "after " << clears << " clears";
    h.DestroyView();
    EXPECT_EQ(g_deleted, kRecords);
}

TEST(CCorvelViewConcurrencyTest, EveryPublishedRowHasAllItsCells) {
    Harness h(false);
    constexpr int kRecords = 20000;
    std::atomic<bool> done{false};
    std::atomic<bool> stop{false};
    std::thread appender([&] {
        for (int i = 0; i < kRecords && !stop; ++i)
            h.view->AddPacketRow(Udp(kA, static_cast<std::uint16_t>(i + 1), kB, 53));
        done = true;
    });
    win::ListModel* model = h.List().GetModel();
    const int columns = model->columnCount() - 1;  // the last, TCP's flags, is empty for UDP
    int publishes = 0;
    int partRows = 0;
    // Bounded in time too, for the sanitizer builds.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (!done && std::chrono::steady_clock::now() < end) {
        // Holding the rows still, the model's newest row is as it was published.
        win::CListCtrl::RowLock still(h.List());
        model->Publish();
        ++publishes;
        const int last = model->rowCount() - 1;
        if (last < 0) continue;
        bool part = RecordOf(h, last) == nullptr;
        for (int c = 0; c < columns; ++c) part = part || model->data(model->index(last, c)).toString().isEmpty();
        if (part) ++partRows;
    }
    stop = true;
    appender.join();
    EXPECT_EQ(partRows, 0) << "rows published part empty, in " << publishes << " publishes";
}

TEST(CCorvelViewConcurrencyTest, ShutdownWithQueuedRecordsFreesThemAndEndsAtOnce) {
    g_deleted = 0;
    constexpr int kQueued = 20000;
    double seconds = 0;
    {
        Harness h(false);
        CaptureEngine& engine = h.doc->m_engine;
        EnterCriticalSection(&engine.m_csQueue);
        for (int i = 0; i < kQueued; ++i) engine.m_packets.push_back(Udp(kA, 1, kB, 2));
        LeaveCriticalSection(&engine.m_csQueue);
        h.view->OnInitialUpdate();  // the consumer starts draining
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        seconds = h.DestroyView();
        // The view is gone: nothing more is taken from the queue.
        EnterCriticalSection(&engine.m_csQueue);
        const std::size_t left = engine.m_packets.size();
        LeaveCriticalSection(&engine.m_csQueue);
        std::cout << "[ measured ] shutdown with " << kQueued << " queued records: " << seconds * 1000 << " ms, "
                  << kQueued - static_cast<int>(left) << " taken as rows, " << left << " left queued\n";
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EnterCriticalSection(&engine.m_csQueue);
        EXPECT_EQ(engine.m_packets.size(), left);
        LeaveCriticalSection(&engine.m_csQueue);
        EXPECT_EQ(g_deleted, kQueued - static_cast<int>(left)) << "the rows' records are freed with the window";
    }
    EXPECT_EQ(g_deleted, kQueued) << "the queued ones are freed with the engine";
    EXPECT_LT(seconds, 5.0);
}

TEST(CCorvelViewConcurrencyTest, ShutdownWithACaptureRunningEndsWithinASecond) {
    REQUIRE_CAPTURE();
    WinsockSession winsock;
    auto h = std::make_unique<Harness>();
    h->doc->m_engine.m_sAdapter = "127.0.0.1";
    h->doc->m_engine.OpenCapture();
    testsupport::LoopbackSender sender;
    // 20,000 datagrams at 20,000 per second: traffic goes on through the shutdown.
    std::thread traffic([&] { sender.SendUdp(20000, 64, 20000); });
    EXPECT_TRUE(PumpUntil([&] { return h->List().GetItemCount() > 500; }));
    // Leaving the program: the view's window goes, then the document with its engine.
    const auto start = std::chrono::steady_clock::now();
    const double view = h->DestroyView();
    const bool capturing = h->doc->m_engine.IsCapturing();
    h.reset();
    const double total = Seconds(start);
    traffic.join();
    EXPECT_TRUE(capturing);
    std::cout << "[ measured ] shutdown with a capture running: view " << view * 1000 << " ms, view and document "
              << total * 1000 << " ms\n";
    EXPECT_LT(total, 5.0);
}

}  // namespace
