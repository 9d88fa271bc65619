// The list view on real widgets with real records, on the UI thread: columns
// and styles, rows and their cells, ownership of records through Clear and
// destruction, one consumer per view, the click and double-click rules of the
// detail window, the command table and blank printing.
#include "ui/CCorvelView.h"

#include <QHeaderView>

#include "app/Resource.h"
#include "framework/AfxMessageBox.h"
#include "framework/FontScale.h"
#include "tests/support/qt/QtTestHelpers.h"
#include "tests/ui/ViewTestSupport.h"

using namespace win;
using namespace viewtest;

namespace {

constexpr std::uint32_t kA = 0xC0A8010A;  // 192.168.1.10
constexpr std::uint32_t kB = 0x0A000001;  // 10.0.0.1

TEST(CCorvelViewTest, ColumnsAndStyles) {
    Harness h(false);
    CListCtrl& list = h.List();
    ASSERT_EQ(list.GetColumnCount(), 8);
    struct Expected {
        const char* heading;
        bool right;
        int width;
    };
    const Expected columns[] = {{"Timestamp", false, 80},    {"Source Address", false, 100}, {"Source Port", true, 70},
                                {"Dest. Address", false, 100}, {"Dest. Port", true, 70},     {"Type", false, 50},
                                {"Size", true, 50},           {"Info", false, 200}};
    ListModel* model = list.GetModel();
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(model->headerData(c, Qt::Horizontal).toString().toStdString(), columns[c].heading);
        const auto align = Qt::Alignment(model->headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).toInt());
        EXPECT_EQ((align & Qt::AlignRight) != 0, columns[c].right) << columns[c].heading;
        // The width for the 8-point font, converted to the list's font, never cutting the header.
        QHeaderView* header = list.GetTableView()->horizontalHeader();
        EXPECT_EQ(header->sectionSize(c), std::max(FontScale::Width(columns[c].width, list.GetTableView()->font()),
                                                   FontScale::HeaderWidth(header, columns[c].heading)))
            << columns[c].heading;
    }
    EXPECT_EQ(h.view->GetStyle() & 0x5080000Fu, 0x5080000Du);
    EXPECT_EQ(list.GetExtendedStyle(), 0xB0u);
    EXPECT_STREQ(CCorvelView::classCCorvelView.m_lpszClassName, "CCorvelView");
}

TEST(CCorvelViewTest, RowsCarryTheEightCellsAndOwnTheirRecords) {
    Harness h(false);
    g_deleted = 0;
    CountedPacket* udp = Udp(kA, 1234, kB, 53);
    const testdata::Bytes syn = testdata::Concat(testdata::Datagram(5, 6, kB, kA, 40, {}),
                                                 testdata::TcpHeader(65535, 80, 0x12));
    auto* tcp = new CountedPacket;
    std::memcpy(tcp->GetData(), syn.data(), syn.size());
    tcp->SetReceived(static_cast<int>(syn.size()));
    const testdata::Bytes ping = testdata::Datagram(5, 1, kA, kB, 28, {8, 0, 0, 0, 0, 0, 0, 0});
    auto* icmp = new CountedPacket;
    std::memcpy(icmp->GetData(), ping.data(), ping.size());
    icmp->SetReceived(static_cast<int>(ping.size()));

    h.view->AddPacketRow(udp);
    h.view->AddPacketRow(tcp);
    h.view->AddPacketRow(icmp);
    ASSERT_EQ(h.List().GetItemCount(), 3);
    const std::vector<std::vector<std::string>> expected = {
        {udp->GetTimestamp(), "192.168.1.10", "1234", "10.0.0.1", "53", "UDP", "32", ""},
        {tcp->GetTimestamp(), "10.0.0.1", "65535", "192.168.1.10", "80", "TCP", "40", "flags: SYN ACK "},
        {icmp->GetTimestamp(), "192.168.1.10", "0", "10.0.0.1", "0", "ICMP", "28", ""},
    };
    Packet* records[] = {udp, tcp, icmp};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 8; ++c) EXPECT_EQ(h.Cell(r, c), expected[r][c]) << "row " << r << " column " << c;
        EXPECT_EQ(h.List().GetItemData(r), reinterpret_cast<DWORD_PTR>(records[r]));
    }
    EXPECT_EQ(g_deleted, 0);

    h.view->OnCmdMsg(ID_CAPTURE_CLEAR);
    EXPECT_EQ(h.List().GetItemCount(), 0);
    EXPECT_EQ(g_deleted, 3);

    // The next record becomes row 0; the window's destruction frees it.
    h.view->AddPacketRow(Udp(kB, 1, kA, 2));
    EXPECT_EQ(h.List().GetItemCount(), 1);
    EXPECT_EQ(h.Cell(0, 1), "10.0.0.1");
    h.DestroyView();
    EXPECT_EQ(g_deleted, 4);
}

TEST(CCorvelViewTest, RecordWithoutARowIsFreed) {
    g_deleted = 0;
    // A view without a window has no list to insert into: the record must not leak.
    auto* view = new CCorvelView;
    view->AddPacketRow(Udp(kA, 1, kB, 2));
    EXPECT_EQ(g_deleted, 1);
    delete view;
}

TEST(CCorvelViewTest, RepeatedInitialUpdateStartsNoSecondConsumer) {
    Harness h;
    const HANDLE first = h.view->m_hConsumerThread;
    ASSERT_NE(first, nullptr);
    h.view->OnInitialUpdate();
    h.view->OnInitialUpdate();
    EXPECT_EQ(h.view->m_hConsumerThread, first);
}

TEST(CCorvelViewTest, QueuedRecordsBecomeRowsInOrderWhenTheConsumerStarts) {
    Harness h(false);
    {
        CaptureEngine& engine = h.doc->m_engine;
        EnterCriticalSection(&engine.m_csQueue);
        for (int i = 0; i < 50; ++i) engine.m_packets.push_back(Udp(kA, static_cast<std::uint16_t>(i), kB, 9));
        LeaveCriticalSection(&engine.m_csQueue);
    }
    h.view->OnInitialUpdate();
    ASSERT_TRUE(PumpUntil([&] { return h.List().GetItemCount() == 50; }));
    for (int i = 0; i < 50; ++i) EXPECT_EQ(h.Cell(i, 2), std::to_string(i));
}

class DetailWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 4; ++i) h.view->AddPacketRow(Udp(kA, static_cast<std::uint16_t>(100 + i), kB, 7));
        qvtest::PumpEvents();
        win::testing::SetMessageBoxRecorder(&boxes);
    }
    void TearDown() override { win::testing::SetMessageBoxRecorder(nullptr); }
    CPacketWnd& Detail() { return h.view->m_wndPacket; }
    std::string DetailText() { return Detail().m_wndText.GetWindowText(); }
    Packet* Record(int row) { return reinterpret_cast<Packet*>(h.List().GetItemData(row)); }

    Harness h{false};
    std::vector<std::string> boxes;
};

TEST_F(DetailWindowTest, DoubleClickWithoutSelectionDoesNothing) {
    NMHDR header{h.view->m_hWnd, 0, NM_DBLCLK};
    LRESULT result = 99;
    ASSERT_EQ(h.List().GetNextItem(-1, LVNI_SELECTED), -1);
    h.view->OnNotifyMsg(&header, &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(Detail().m_hWnd, nullptr);
    EXPECT_EQ(Detail().m_pPacket, nullptr);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(DetailWindowTest, SingleClickNeverOpensTheWindow) {
    h.Click(1);
    qvtest::PumpEvents();
    EXPECT_EQ(h.List().GetNextItem(-1, LVNI_SELECTED), 1);
    EXPECT_EQ(Detail().m_hWnd, nullptr);
    EXPECT_EQ(Detail().m_pPacket, nullptr);
}

TEST_F(DetailWindowTest, DoubleClickOpensThenClicksFollow) {
    h.DoubleClick(2);
    qvtest::PumpEvents();
    ASSERT_TRUE(IsWindow(Detail().m_hWnd));
    EXPECT_EQ(Detail().GetWindowText(), "Packet");
    EXPECT_EQ(Detail().GetStyle() & 0x10CF0000u, 0x10CF0000u);
    EXPECT_EQ(Detail().GetWidget()->window(), Detail().GetWidget());
    EXPECT_EQ(Detail().m_pPacket, Record(2));
    EXPECT_NE(DetailText().find("Raw Bytes:"), std::string::npos);
    const HWND opened = Detail().m_hWnd;

    // A click follows the clicked row in the open window.
    h.Click(0);
    qvtest::PumpEvents();
    EXPECT_EQ(Detail().m_pPacket, Record(0));
    const std::string shown = DetailText();

    // A click on empty space keeps what the window shows.
    h.ClickEmptySpace();
    qvtest::PumpEvents();
    EXPECT_EQ(Detail().m_pPacket, Record(0));
    EXPECT_EQ(DetailText(), shown);

    // A double-click refills the same window.
    h.DoubleClick(3);
    qvtest::PumpEvents();
    EXPECT_EQ(Detail().m_hWnd, opened);
    EXPECT_EQ(Detail().m_pPacket, Record(3));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(DetailWindowTest, ClosingAndDoubleClickingAgainCreatesANewWindow) {
    h.DoubleClick(1);
    qvtest::PumpEvents();
    ASSERT_TRUE(IsWindow(Detail().m_hWnd));
    const HWND first = Detail().m_hWnd;
    Detail().SendMessage(WM_CLOSE);
    qvtest::PumpEvents();
    EXPECT_FALSE(IsWindow(first));

    // Without the window a click only selects.
    h.Click(2);
    qvtest::PumpEvents();
    EXPECT_EQ(Detail().m_hWnd, nullptr);
    EXPECT_EQ(Detail().m_pPacket, Record(1));

    h.DoubleClick(2);
    qvtest::PumpEvents();
    ASSERT_TRUE(IsWindow(Detail().m_hWnd));
    EXPECT_EQ(Detail().GetWindowText(), "Packet");
    EXPECT_EQ(Detail().m_pPacket, Record(2));
}

TEST_F(DetailWindowTest, ClearLeavesTheWindowShowingItsTextWithoutItsRecord) {
    h.DoubleClick(1);
    qvtest::PumpEvents();
    ASSERT_TRUE(IsWindow(Detail().m_hWnd));
    const std::string shown = DetailText();
    h.view->OnCaptureClear();
    qvtest::PumpEvents();
    EXPECT_EQ(Detail().m_pPacket, nullptr);
    EXPECT_EQ(DetailText(), shown);
    // A click on the now empty list still leaves the text alone.
    h.ClickEmptySpace();
    qvtest::PumpEvents();
    EXPECT_EQ(Detail().m_pPacket, nullptr);
    EXPECT_EQ(DetailText(), shown);
}

TEST(CCorvelViewTest, CommandTableAndBlankPrinting) {
    Harness h(false);
    EXPECT_TRUE(h.view->HasCommandHandler(ID_CAPTURE_CLEAR));
    EXPECT_TRUE(h.view->HasCommandHandler(ID_CAPTURE_RESOLVEADDRESSES));
    EXPECT_TRUE(h.view->HasCommandHandler(ID_FILE_PRINT));
    EXPECT_TRUE(h.view->HasCommandHandler(ID_FILE_PRINT_DIRECT));
    EXPECT_TRUE(h.view->HasCommandHandler(ID_FILE_PRINT_PREVIEW));
    CCmdUI ui(ID_CAPTURE_RESOLVEADDRESSES);
    EXPECT_TRUE(h.view->OnUpdateCmdMsg(&ui));

    int pages = -1;
    win::testing::SetPrintPreviewSink(&pages);
    h.view->OnCmdMsg(ID_FILE_PRINT_PREVIEW);
    win::testing::SetPrintPreviewSink(nullptr);
    EXPECT_EQ(pages, 1);
}

}  // namespace
