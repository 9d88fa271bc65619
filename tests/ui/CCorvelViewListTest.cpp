// What a person does with the live list, on real widgets with real records:
// the display filter against a mixed stream of datagrams (held and new rows,
// invalid expressions, every row still reachable), Edit > Copy of the
// selected row, View > Follow New Packets, and the status-bar counters.
#include "ui/CCorvelView.h"

#include <QClipboard>
#include <QScrollBar>

#include "app/Resource.h"
#include "framework/CCmdUI.h"
#include "tests/support/qt/QtTestHelpers.h"
#include "tests/ui/ViewTestSupport.h"

using namespace win;
using namespace viewtest;

namespace {

constexpr std::uint32_t kA = 0xC0A8010A;  // 192.168.1.10
constexpr std::uint32_t kB = 0x0A000001;  // 10.0.0.1

CountedPacket* Received(const testdata::Bytes& bytes) {
    auto* p = new CountedPacket;
    std::memcpy(p->GetData(), bytes.data(), bytes.size());
    p->SetReceived(static_cast<int>(bytes.size()));
    return p;
}

CountedPacket* Tcp(std::uint16_t sport, std::uint16_t dport, std::uint8_t flags) {
    return Received(testdata::Concat(testdata::Datagram(5, 6, kA, kB, 40, {}), testdata::TcpHeader(sport, dport, flags)));
}

CountedPacket* Icmp() { return Received(testdata::Datagram(5, 1, kB, kA, 28, {8, 0, 0, 0, 0, 0, 0, 0})); }

// A pane's text as its update handler sets it, "" while it is disabled.
std::string Pane(CCorvelView& view, void (CCorvelView::*handler)(CCmdUI*), UINT id) {
    CCmdUI ui(id);
    (view.*handler)(&ui);
    return ui.m_bEnableChanged && !ui.m_bEnabled ? std::string() : ui.m_strText;
}

class ViewListTest : public ::testing::Test {
protected:
    void SetUp() override { g_deleted = 0; }
    // The mixed stream: DNS over UDP, a web request, a TLS segment, a ping.
    void AddMixedStream() {
        h.view->AddPacketRow(Udp(kA, 5353, kB, 53));
        h.view->AddPacketRow(Tcp(40000, 80, 0x18));
        h.view->AddPacketRow(Tcp(40001, 443, 0x10));
        h.view->AddPacketRow(Icmp());
        h.view->AddPacketRow(Udp(kB, 123, kA, 123));
        qvtest::PumpEvents(60);
    }
    std::string Captured() { return Pane(*h.view, &CCorvelView::OnUpdateIndicatorCaptured, ID_INDICATOR_CAPTURED); }
    std::string Shown() { return Pane(*h.view, &CCorvelView::OnUpdateIndicatorShown, ID_INDICATOR_SHOWN); }
    std::string Lost() { return Pane(*h.view, &CCorvelView::OnUpdateIndicatorLost, ID_INDICATOR_LOST); }
    std::vector<std::string> ShownTypes() {
        std::vector<std::string> types;
        ListModel* model = h.List().GetModel();
        for (int r = 0; r < model->rowCount(); ++r)
            types.push_back(model->data(model->index(r, 5)).toString().toStdString() + "/" +
                            model->data(model->index(r, 4)).toString().toStdString());
        return types;
    }

    Harness h{false};
};

TEST_F(ViewListTest, DisplayFilterAgainstAMixedStream) {
    AddMixedStream();
    std::string error;
    ASSERT_TRUE(h.view->ApplyDisplayFilter("tcp", error)) << error;
    EXPECT_EQ(ShownTypes(), (std::vector<std::string>{"TCP/80", "TCP/443"}));
    EXPECT_EQ(Captured(), "Captured: 5");
    EXPECT_EQ(Shown(), "Shown: 2");

    ASSERT_TRUE(h.view->ApplyDisplayFilter("udp port 53 or icmp", error)) << error;
    EXPECT_EQ(ShownTypes(), (std::vector<std::string>{"UDP/53", "ICMP/0"}));

    // New rows are matched as they arrive.
    ASSERT_TRUE(h.view->ApplyDisplayFilter("tcp dst port 80", error)) << error;
    h.view->AddPacketRow(Tcp(40002, 80, 0x02));
    h.view->AddPacketRow(Udp(kA, 5353, kB, 80));
    qvtest::PumpEvents(60);
    EXPECT_EQ(ShownTypes(), (std::vector<std::string>{"TCP/80", "TCP/80"}));
    EXPECT_EQ(Captured(), "Captured: 7");
    EXPECT_EQ(Shown(), "Shown: 2");

    // Every row stays in the list, in order, for Save and the like.
    std::vector<int> protocols;
    for (int i = 0; i < h.List().GetItemCount(); ++i)
        protocols.push_back(reinterpret_cast<Packet*>(h.List().GetItemData(i))->GetProtocol(nullptr));
    EXPECT_EQ(protocols, (std::vector<int>{17, 6, 6, 1, 17, 6, 17}));

    // An empty expression shows every row again.
    ASSERT_TRUE(h.view->ApplyDisplayFilter("", error));
    EXPECT_EQ(h.List().GetShownCount(), 7);
    EXPECT_EQ(Shown(), "");
}

TEST_F(ViewListTest, InvalidExpressionChangesNothing) {
    AddMixedStream();
    std::string error;
    ASSERT_TRUE(h.view->ApplyDisplayFilter("udp", error));
    EXPECT_FALSE(h.view->ApplyDisplayFilter("udp and port", error));
    EXPECT_NE(error.find("syntax error"), std::string::npos) << error;
    EXPECT_EQ(h.view->GetDisplayFilter().GetExpression(), "udp");
    EXPECT_EQ(ShownTypes(), (std::vector<std::string>{"UDP/53", "UDP/123"}));
    error.clear();
    EXPECT_FALSE(h.view->ApplyDisplayFilter("port 99999", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(h.List().GetShownCount(), 2);
}

TEST_F(ViewListTest, CopyPutsTheSelectedRowsTextsOnTheClipboard) {
    AddMixedStream();
    QApplication::clipboard()->setText("sentinel");
    CCmdUI none(ID_EDIT_COPY);
    h.view->OnUpdateEditCopy(&none);
    EXPECT_FALSE(none.m_bEnabled) << "nothing selected";

    h.Click(1);
    CCmdUI one(ID_EDIT_COPY);
    h.view->OnUpdateEditCopy(&one);
    EXPECT_TRUE(one.m_bEnabled);
    h.view->OnEditCopy();
    const std::string expected = h.Cell(1, 0) + "\t192.168.1.10\t40000\t10.0.0.1\t80\tTCP\t40\tflags: ACK PSH ";
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), expected);

    // With a filter, the row selected is the one shown there.
    std::string error;
    ASSERT_TRUE(h.view->ApplyDisplayFilter("icmp", error));
    h.Click(0);
    h.view->OnEditCopy();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(),
              h.Cell(3, 0) + "\t10.0.0.1\t0\t192.168.1.10\t0\tICMP\t28\t");
}

TEST_F(ViewListTest, FollowCommandShowsAndSetsTheStateAndClearFollowsAgain) {
    for (int i = 0; i < 300; ++i) h.view->AddPacketRow(Udp(kA, static_cast<std::uint16_t>(1000 + i), kB, 53));
    qvtest::PumpEvents(60);
    CCmdUI on(ID_VIEW_FOLLOW);
    h.view->OnUpdateViewFollow(&on);
    EXPECT_TRUE(on.m_bEnabled);
    EXPECT_EQ(on.m_nCheck, 1);

    h.view->OnViewFollow();
    CCmdUI off(ID_VIEW_FOLLOW);
    h.view->OnUpdateViewFollow(&off);
    EXPECT_EQ(off.m_nCheck, 0);
    h.Click(0);  // scrolls nothing: row 0 is far above
    ListTableView* table = h.List().GetTableView();
    const int top = table->verticalScrollBar()->value();
    for (int i = 0; i < 50; ++i) h.view->AddPacketRow(Udp(kA, 7, kB, 53));
    qvtest::PumpEvents(60);
    EXPECT_EQ(table->verticalScrollBar()->value(), top);

    h.view->OnViewFollow();
    qvtest::PumpEvents(60);
    EXPECT_EQ(table->verticalScrollBar()->value(), table->verticalScrollBar()->maximum());

    h.view->OnViewFollow();
    h.view->OnCaptureClear();
    EXPECT_TRUE(h.List().GetFollow()) << "after Clear there is nothing to read back";
    EXPECT_EQ(Captured(), "Captured: 0");
}

TEST_F(ViewListTest, CapturedCounterCountsRowsWithThousandsSeparators) {
    for (int i = 0; i < 1234; ++i) h.view->AddPacketRow(Udp(kA, 1, kB, 2));
    EXPECT_EQ(Captured(), "Captured: 1,234");
    EXPECT_EQ(Lost(), "Lost: 0");
    EXPECT_EQ(Shown(), "") << "no display filter";
}

}  // namespace
