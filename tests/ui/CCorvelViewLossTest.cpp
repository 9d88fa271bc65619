// The status-bar counters against a real capture, in a private network
// namespace that only this test's datagrams cross: a known number of
// datagrams gives exactly that count; a stall that makes the system drop
// datagrams shows the loss in the "Lost" pane, equal to the engine's count,
// and the datagrams captured and lost add up to the datagrams sent. Each body
// runs in a child with its own application object.
#include <QApplication>
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "app/Resource.h"
#include "framework/CCmdUI.h"
#include "platform/TestHooks.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackSender.h"
#include "tests/support/NetNamespace.h"
#include "tests/support/Privileges.h"
#include "tests/ui/ViewTestSupport.h"

using namespace win;
using namespace viewtest;

namespace {

std::string Pane(CCorvelView& view, void (CCorvelView::*handler)(CCmdUI*), UINT id) {
    CCmdUI ui(id);
    (view.*handler)(&ui);
    return ui.m_strText;
}

// Pumps events until the row count has not changed for half a second (at most 20 s).
int SettledRows(Harness& h) {
    int rows = -1;
    PumpUntil(
        [&] {
            const int now = h.List().GetItemCount();
            const bool settled = now == rows;
            rows = now;
            if (!settled) QTest::qWait(500);
            return settled;
        },
        20'000);
    return rows;
}

TEST(CCorvelViewLossTest, CountersShowAKnownNumberAndAStallsLoss) {
    std::string reason;
    if (!testsupport::Privileges::CanCapture(&reason)) GTEST_SKIP() << reason;
    EXPECT_CHILD_PASSED(testsupport::NetNamespace::RunIsolated(
        [] {
            EnsureApp();
            WinsockSession winsock;
            // A small ring and helper buffer, so that a short stall fills them.
            win::testing::CaptureRingOptions small;
            small.blockSize = 1u << 16;
            small.blockCount = 2;
            small.bufferBytes = 1u << 20;
            win::testing::SetCaptureRingOptions(&small);
            Harness h;
            h.doc->m_engine.m_sAdapter = "127.0.0.1";
            h.doc->m_engine.OpenCapture();
            testsupport::LoopbackSender sender;

            // A known number, paced: every datagram is captured once.
            constexpr int kKnown = 300;
            ASSERT_EQ(sender.SendUdp(kKnown, 16, 3000).sent, kKnown);
            ASSERT_EQ(SettledRows(h), kKnown);
            EXPECT_EQ(Pane(*h.view, &CCorvelView::OnUpdateIndicatorCaptured, ID_INDICATOR_CAPTURED), "Captured: 300");
            EXPECT_EQ(Pane(*h.view, &CCorvelView::OnUpdateIndicatorLost, ID_INDICATOR_LOST), "Lost: 0");

            // A stall: the engine cannot hand its batch over while the queue
            // lock is held; the channel (at most 8 MiB), the helper's buffer
            // and its ring fill with 14 MB, and the system drops the rest.
            constexpr int kFlood = 10000;
            EnterCriticalSection(&h.doc->m_engine.m_csQueue);
            const int sent = sender.SendUdp(kFlood, 1400, 0).sent;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            LeaveCriticalSection(&h.doc->m_engine.m_csQueue);
            const int rows = SettledRows(h);
            h.doc->m_engine.CloseCapture();
            const unsigned long long lost = h.doc->m_engine.GetLostCount();
            win::testing::SetCaptureRingOptions(nullptr);

            ASSERT_EQ(sent, kFlood);
            ASSERT_GT(lost, 0u) << "the buffers cannot hold the flood";
            EXPECT_EQ(Pane(*h.view, &CCorvelView::OnUpdateIndicatorLost, ID_INDICATOR_LOST),
                      "Lost: " + (lost >= 1000 ? std::to_string(lost / 1000) + "," +
                                                     std::string(3 - std::to_string(lost % 1000).size(), '0') +
                                                     std::to_string(lost % 1000)
                                               : std::to_string(lost)));
            EXPECT_EQ(static_cast<unsigned long long>(rows) + lost, static_cast<unsigned long long>(kKnown + kFlood))
                << rows << " rows and " << lost << " lost";

            // Clear starts both counts again (the rows count as saved, so
            // that Clear does not ask first).
            h.doc->SetModifiedFlag(FALSE);
            h.view->OnCaptureClear();
            EXPECT_EQ(Pane(*h.view, &CCorvelView::OnUpdateIndicatorCaptured, ID_INDICATOR_CAPTURED), "Captured: 0");
            EXPECT_EQ(Pane(*h.view, &CCorvelView::OnUpdateIndicatorLost, ID_INDICATOR_LOST), "Lost: 0");
        },
        120));
}

}  // namespace
