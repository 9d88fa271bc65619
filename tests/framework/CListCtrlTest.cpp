// Tests of the list control as a window (offscreen Qt, real widgets): the
// model seen by QAbstractItemModelTester over inserts and clears, item
// operations, selection and mouse notifications, column drag and operations
// after the window is gone.
#include "framework/CListCtrl.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QElapsedTimer>
#include <QPaintEvent>
#include <QHeaderView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "framework/ListModel.h"
#include "framework/ListTableView.h"
#include "framework/Resources.h"
#include "tests/support/qt/QtTestHelpers.h"

namespace win {
namespace {

void EnsureApp() {
    if (qApp) return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "CListCtrlTest";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

// A top-level window that records the notifications its children send.
class NotifyParent : public CWnd {
public:
    std::vector<UINT> codes;
    std::vector<int> selectedAtNotify;
    CListCtrl* list = nullptr;

protected:
    BOOL OnNotify(WPARAM, LPARAM lParam, LRESULT* result) override {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        codes.push_back(header->code);
        selectedAtNotify.push_back(list ? list->GetNextItem(-1, LVNI_SELECTED) : -2);
        *result = 0;
        return TRUE;
    }
};

class CListCtrlTest : public ::testing::Test {
protected:
    void SetUp() override {
        EnsureApp();
        ASSERT_TRUE(parent.CreateEx(0, "QvTestFrame", "Test", WS_OVERLAPPEDWINDOW, 0, 0, 640, 400, nullptr, nullptr));
        ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE | WS_BORDER, CRect(0, 0, 600, 360), &parent, 1));
        parent.list = &list;
        list.ModifyStyle(0, LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS);
        list.SetExtendedStyle(LVS_EX_HEADERDRAGDROP | LVS_EX_FULLROWSELECT | LVS_EX_TWOCLICKACTIVATE);
        const char* headers[] = {"Timestamp", "Source Address", "Source Port", "Dest. Address",
                                 "Dest. Port", "Type", "Size", "Info"};
        for (int c = 0; c < 8; ++c) {
            ASSERT_EQ(list.InsertColumn(c, headers[c], (c == 2 || c == 4 || c == 6) ? LVCFMT_RIGHT : LVCFMT_LEFT, 70),
                      c);
        }
        parent.ShowWindow(SW_SHOW);
        tester = new QAbstractItemModelTester(list.GetModel(), QAbstractItemModelTester::FailureReportingMode::Fatal,
                                              list.GetModel());
    }
    void TearDown() override { parent.DestroyWindow(); }

    // Appends a row the way the packet view does: text insert, seven cells, item data.
    int AddRow(int tag) {
        const int n = list.GetItemCount();
        LVITEM item{};
        item.mask = LVIF_TEXT;
        item.iItem = n;
        std::string t0 = "r" + std::to_string(tag) + "c0";
        item.pszText = t0.data();
        const int row = list.InsertItem(&item);
        for (int c = 1; c < 8; ++c) {
            std::string t = "r" + std::to_string(tag) + "c" + std::to_string(c);
            LVITEM cell{};
            cell.mask = LVIF_TEXT;
            cell.iItem = row;
            cell.iSubItem = c;
            cell.pszText = t.data();
            list.SetItem(&cell);
        }
        list.SetItemData(row, static_cast<DWORD_PTR>(1000 + tag));
        list.EnsureVisible(row, FALSE);
        return row;
    }
    // Runs the event loop past the end of the current frame, when the list
    // publishes what is pending.
    void PumpFrame() { qvtest::PumpEvents(60); }
    QPoint RowCenter(int row, int column = 0) {
        PumpFrame();
        ListTableView* view = list.GetTableView();
        return view->visualRect(list.GetModel()->index(row, column)).center();
    }

    NotifyParent parent;
    CListCtrl list;
    QAbstractItemModelTester* tester = nullptr;
};

TEST_F(CListCtrlTest, ColumnsAndStyles) {
    EXPECT_EQ(list.GetColumnCount(), 8);
    EXPECT_EQ(list.GetExtendedStyle(), 0xB0u);
    EXPECT_EQ(list.GetStyle() & 0x0Du, 0x0Du);
    ListModel* model = list.GetModel();
    EXPECT_EQ(model->headerData(3, Qt::Horizontal).toString(), "Dest. Address");
    EXPECT_TRUE(model->headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() & Qt::AlignRight);
    EXPECT_TRUE(list.GetTableView()->horizontalHeader()->sectionsMovable());
    EXPECT_EQ(list.GetTableView()->selectionMode(), QAbstractItemView::SingleSelection);
    EXPECT_EQ(list.GetTableView()->selectionBehavior(), QAbstractItemView::SelectRows);
    // Rows of one height, at least the font's; grid lines only with their style.
    ListTableView* view = list.GetTableView();
    EXPECT_GE(view->rowHeight(), view->fontMetrics().height());
    EXPECT_FALSE(view->showGrid());
    list.SetExtendedStyle(LVS_EX_GRIDLINES, LVS_EX_GRIDLINES);
    EXPECT_TRUE(view->showGrid());
    EXPECT_EQ(list.GetExtendedStyle(), 0xB1u);
    for (int i = 0; i < 3; ++i) AddRow(i);
    PumpFrame();
    EXPECT_EQ(view->visualRect(list.GetModel()->index(2, 0)).top(), 2 * view->rowHeight());
    EXPECT_EQ(view->indexAt(QPoint(5, 2 * view->rowHeight() + 1)).row(), 2);
    EXPECT_FALSE(view->indexAt(QPoint(5, 3 * view->rowHeight() + 1)).isValid());
}

TEST_F(CListCtrlTest, RowsPublishedWithinAFrameAndClearsReset) {
    for (int round = 0; round < 3; ++round) {
        for (int i = 0; i < 50; ++i) EXPECT_EQ(AddRow(i), i);
        // The operations are complete at once; the model catches up within a frame.
        EXPECT_EQ(list.GetItemCount(), 50);
        EXPECT_EQ(list.GetItemText(49, 7), "r49c7");
        EXPECT_EQ(list.GetItemData(49), 1049u);
        PumpFrame();
        ListModel* model = list.GetModel();
        ASSERT_EQ(model->rowCount(), 50);
        EXPECT_EQ(model->data(model->index(10, 3)).toString(), "r10c3");
        list.SetItemText(10, 3, "host.example");
        PumpFrame();
        EXPECT_EQ(model->data(model->index(10, 3)).toString(), "host.example");
        EXPECT_TRUE(list.DeleteAllItems());
        EXPECT_EQ(model->rowCount(), 0);
        EXPECT_EQ(list.GetItemCount(), 0);
    }
}

TEST_F(CListCtrlTest, ItemOperationsOnMissingRowsFail) {
    EXPECT_EQ(list.GetItemData(0), 0u);
    EXPECT_FALSE(list.SetItemText(0, 1, "x"));
    EXPECT_FALSE(list.SetItemData(0, 5));
    EXPECT_FALSE(list.EnsureVisible(0, FALSE));
    EXPECT_EQ(list.InsertItem(0, "a"), 0);
    LVITEM item{};
    item.mask = LVIF_TEXT | LVIF_PARAM;
    item.iItem = 0;
    item.iSubItem = 1;
    item.pszText = const_cast<char*>("b");
    EXPECT_FALSE(list.SetItem(&item));  // item data belongs to column 0
    item.mask = LVIF_TEXT;
    EXPECT_TRUE(list.SetItem(&item));
    item.iItem = 1;
    EXPECT_FALSE(list.SetItem(&item));
    EXPECT_FALSE(list.SetItemText(0, 8, "no such column"));

    char buffer[4];
    LVITEM read{};
    read.mask = LVIF_TEXT;
    read.iItem = 0;
    read.iSubItem = 1;
    read.pszText = buffer;
    read.cchTextMax = sizeof buffer;
    list.SetItemText(0, 1, "truncated");
    EXPECT_TRUE(list.GetItem(&read));
    EXPECT_STREQ(buffer, "tru");
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), -1);
}

TEST_F(CListCtrlTest, ClickAndDoubleClickNotifyAfterSelecting) {
    for (int i = 0; i < 5; ++i) AddRow(i);
    QWidget* viewport = list.GetTableView()->viewport();

    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, RowCenter(2, 4));
    ASSERT_EQ(parent.codes, std::vector<UINT>{NM_CLICK});
    EXPECT_EQ(parent.selectedAtNotify.back(), 2);

    // A click on empty space below the rows: still NM_CLICK; a single selection stays single.
    QTest::mouseClick(viewport, Qt::LeftButton, Qt::NoModifier, QPoint(20, viewport->height() - 5));
    EXPECT_EQ(parent.codes.size(), 2u);
    EXPECT_EQ(parent.codes.back(), NM_CLICK);

    parent.codes.clear();
    QTest::mouseDClick(viewport, Qt::LeftButton, Qt::NoModifier, RowCenter(3));
    ASSERT_FALSE(parent.codes.empty());
    EXPECT_EQ(parent.codes.back(), NM_DBLCLK);
    EXPECT_EQ(parent.selectedAtNotify.back(), 3);
    EXPECT_EQ(std::count(parent.codes.begin(), parent.codes.end(), NM_DBLCLK), 1);

    // Keyboard moves the selection without notifications.
    parent.codes.clear();
    list.GetTableView()->setFocus();
    QTest::keyClick(list.GetTableView(), Qt::Key_Down);
    QApplication::processEvents();
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 4);
    EXPECT_TRUE(parent.codes.empty());
    EXPECT_EQ(list.GetTableView()->selectionModel()->selectedRows().size(), 1);

    // The selection stays drawn as active without the focus.
    const QPalette p = list.GetTableView()->palette();
    EXPECT_EQ(p.color(QPalette::Inactive, QPalette::Highlight), p.color(QPalette::Active, QPalette::Highlight));

    // Clearing drops the selection.
    list.DeleteAllItems();
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), -1);
}

TEST_F(CListCtrlTest, DraggedColumnKeepsCellMapping) {
    AddRow(1);
    QHeaderView* header = list.GetTableView()->horizontalHeader();
    header->moveSection(3, 0);  // what a header drag does
    AddRow(2);
    PumpFrame();
    EXPECT_EQ(header->logicalIndex(0), 3);
    ListModel* model = list.GetModel();
    EXPECT_EQ(model->data(model->index(1, 3)).toString(), "r2c3");
    EXPECT_EQ(list.GetItemText(1, 3), "r2c3");
    EXPECT_EQ(model->headerData(3, Qt::Horizontal).toString(), "Dest. Address");
}

TEST_F(CListCtrlTest, EnsureVisibleScrollsToNewestRow) {
    for (int i = 0; i < 500; ++i) AddRow(i);
    PumpFrame();
    ListTableView* view = list.GetTableView();
    const QRect r = view->visualRect(list.GetModel()->index(499, 0));
    EXPECT_TRUE(view->viewport()->rect().contains(r)) << r.y() << " in " << view->viewport()->height();
}

// Paint regions of a widget, collected until cleared.
class PaintRecorder : public QObject {
public:
    QRegion painted;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(event)->region();
        return QObject::eventFilter(watched, event);
    }
};

TEST_F(CListCtrlTest, AppendedRowRepaintsOnlyItself) {
    for (int i = 0; i < 5; ++i) AddRow(i);
    PumpFrame();
    QWidget* viewport = list.GetTableView()->viewport();
    PaintRecorder recorder;
    viewport->installEventFilter(&recorder);
    AddRow(5);
    PumpFrame();
    viewport->removeEventFilter(&recorder);
    ListTableView* view = list.GetTableView();
    const QRect newRow = view->visualRect(list.GetModel()->index(5, 0));
    const QRect oldRow = view->visualRect(list.GetModel()->index(0, 0));
    EXPECT_TRUE(recorder.painted.intersects(newRow));
    EXPECT_FALSE(recorder.painted.intersects(oldRow)) << "rows that did not change were painted again";
}

TEST_F(CListCtrlTest, ChangedTextsAnnouncedOnlyForRowsInView) {
    for (int i = 0; i < 500; ++i) AddRow(i);
    PumpFrame();
    ListModel* model = list.GetModel();
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    // Row 0 is scrolled out of view by the newest row: its new text is read
    // when it comes back into view, without an announcement now.
    ASSERT_TRUE(list.SetItemText(0, 1, "far.example"));
    PumpFrame();
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(model->data(model->index(0, 1)).toString(), "far.example");
    ASSERT_TRUE(list.SetItemText(498, 3, "near.example"));
    PumpFrame();
    ASSERT_EQ(changed.count(), 1);
    const QModelIndex first = changed[0][0].toModelIndex();
    const QModelIndex last = changed[0][1].toModelIndex();
    EXPECT_EQ(first.row(), 498);
    EXPECT_EQ(last.row(), 498);
    EXPECT_EQ(model->data(model->index(498, 3)).toString(), "near.example");
    // Scrolling back to the top shows the text set while the row was out of view.
    list.GetTableView()->verticalScrollBar()->setValue(0);
    EXPECT_EQ(list.GetTableView()->rowAt(0), 0);
}

TEST_F(CListCtrlTest, RowsFromAWorkerPublishedAtMostOncePerFrame) {
    constexpr int kRows = 200;
    ListModel* model = list.GetModel();
    const long before = model->PublishCount();
    std::atomic<bool> done{false};
    QElapsedTimer elapsed;
    elapsed.start();
    std::thread worker([&] {
        for (int i = 0; i < kRows; ++i) {
            AddRow(i);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        done = true;
    });
    int seenDuring = 0;
    while (!done && elapsed.elapsed() < 30000) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
        seenDuring = std::max(seenDuring, model->rowCount());
    }
    worker.join();
    PumpFrame();
    const long publishes = model->PublishCount() - before;
    EXPECT_EQ(model->rowCount(), kRows);
    EXPECT_GT(seenDuring, 0) << "rows appear while the worker still appends";
    // One publish per started 16 ms frame at most, and a last one at the end.
    EXPECT_LE(publishes, elapsed.elapsed() / 16 + 2) << "over " << elapsed.elapsed() << " ms";
    EXPECT_GE(publishes, 2);
}

TEST_F(CListCtrlTest, RowsFasterThanTheViewShowsArePublishedInLongerFrames) {
    ListModel* model = list.GetModel();
    model->SetFloodInterval(300);
    ListTableView* view = list.GetTableView();
    const int inView = view->viewport()->height() / view->rowHeight() + 1;
    int tag = 0;
    // Publishes `rows` new rows at once, then adds one more: the time until
    // that one is published.
    const auto nextPublishAfter = [&](int rows) {
        for (int i = 0; i < rows; ++i) AddRow(tag++);
        model->Publish();
        QElapsedTimer elapsed;
        elapsed.start();
        AddRow(tag++);
        while (model->rowCount() < list.GetItemCount() && elapsed.elapsed() < 5000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        return elapsed.elapsed();
    };
    EXPECT_LT(nextPublishAfter(1), 200);
    EXPECT_GE(nextPublishAfter(inView), 299) << "the whole view turned over";
    EXPECT_LT(nextPublishAfter(2), 200);
    EXPECT_EQ(model->rowCount(), tag);
}

TEST_F(CListCtrlTest, ARowAfterAQuietFrameIsPublishedAtOnce) {
    ListModel* model = list.GetModel();
    model->SetPublishInterval(300);
    AddRow(0);
    model->Publish();  // the frame's publish; its follow-up, 300 ms on, finds nothing
    const auto publishedWithin = [&](int ms) {
        QElapsedTimer elapsed;
        elapsed.start();
        while (model->rowCount() < list.GetItemCount() && elapsed.elapsed() < ms)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        return model->rowCount() == list.GetItemCount();
    };
    qvtest::PumpEvents(400);
    AddRow(1);
    EXPECT_TRUE(publishedWithin(150)) << "not held back by the empty follow-up";
    EXPECT_TRUE(publishedWithin(5000));
}

TEST_F(CListCtrlTest, OperationsFailAfterDestruction) {
    AddRow(0);
    list.DestroyWindow();
    EXPECT_EQ(list.GetItemCount(), 0);
    EXPECT_EQ(list.InsertItem(0, "x"), -1);
    EXPECT_FALSE(list.SetItemText(0, 1, "x"));
    EXPECT_EQ(list.GetItemData(0), 0u);
    EXPECT_FALSE(list.DeleteAllItems());
    EXPECT_FALSE(list.EnsureVisible(0, FALSE));
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), -1);
}


// Following new rows and reading back: the list keeps its newest row in view
// until the person moves away from the end; then it stays where they put it.
class CListCtrlFollowTest : public CListCtrlTest {
protected:
    void SetUp() override {
        CListCtrlTest::SetUp();
        for (int i = 0; i < 200; ++i) AddRow(i);
        PumpFrame();
        list.GetTableView()->setFocus();
    }
    ListTableView* View() { return list.GetTableView(); }
    int TopRow() { return View()->verticalScrollBar()->value(); }
    bool NewestInView() {
        int first = -1;
        int last = -1;
        View()->VisibleRows(first, last);
        return last >= 0 && last == list.GetModel()->rowCount() - 1;
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(View(), static_cast<Qt::Key>(key), modifiers);
        PumpFrame();
    }
    void Wheel(int delta) {
        QWidget* viewport = View()->viewport();
        const QPointF at(viewport->width() / 2.0, viewport->height() / 2.0);
        QWheelEvent event(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &event);
        PumpFrame();
    }
    // Rows keep arriving: the view must stay at top (or follow).
    void MoreRows(int n = 40) {
        const int first = list.GetItemCount();
        for (int i = 0; i < n; ++i) AddRow(first + i);
        PumpFrame();
    }
    void ExpectHeldAt(const char* how) {
        EXPECT_FALSE(list.GetFollow()) << how;
        const int top = TopRow();
        MoreRows();
        EXPECT_EQ(TopRow(), top) << how << ": the view moved while rows arrived";
        EXPECT_FALSE(NewestInView()) << how;
    }
    void ExpectFollowing(const char* how) {
        EXPECT_TRUE(list.GetFollow()) << how;
        MoreRows();
        EXPECT_TRUE(NewestInView()) << how << ": the newest row is out of view";
    }
};

TEST_F(CListCtrlFollowTest, KeysThatLeaveTheEndHoldTheViewAndEndFollowsAgain) {
    ASSERT_TRUE(NewestInView());
    ExpectFollowing("at start");
    const struct {
        int key;
        Qt::KeyboardModifiers modifiers;
        const char* name;
    } leaving[] = {{Qt::Key_Home, Qt::ControlModifier, "Ctrl+Home"},
                   {Qt::Key_Home, Qt::NoModifier, "Home"},
                   {Qt::Key_PageUp, Qt::NoModifier, "Page Up"},
                   {Qt::Key_Up, Qt::NoModifier, "Up"}};
    for (const auto& k : leaving) {
        Key(Qt::Key_End);
        ExpectFollowing("End");
        Key(k.key, k.modifiers);
        ExpectHeldAt(k.name);
    }
    Key(Qt::Key_Home, Qt::ControlModifier);
    Key(Qt::Key_End, Qt::ControlModifier);
    ExpectFollowing("Ctrl+End");
}

TEST_F(CListCtrlFollowTest, DownAndPageDownFollowOnlyWhenTheyReachTheEnd) {
    Key(Qt::Key_Home, Qt::ControlModifier);
    Key(Qt::Key_PageDown);
    ExpectHeldAt("one Page Down from the top");
    Key(Qt::Key_End);
    Key(Qt::Key_Up);
    ExpectHeldAt("Up from the last row");
    // The current row is one above the newest rows' start; Page Down reaches the end.
    for (int i = 0; i < 20 && !list.GetFollow(); ++i) Key(Qt::Key_PageDown);
    ExpectFollowing("Page Down to the last row");
    Key(Qt::Key_End);
    Key(Qt::Key_Up);
    // Down back to the last row (the rows that came meanwhile are below).
    for (int i = 0; i < 200 && !list.GetFollow(); ++i) Key(Qt::Key_Down);
    ExpectFollowing("Down to the last row");
}

TEST_F(CListCtrlFollowTest, WheelScrollBarAndClickHoldTheViewBottomFollows) {
    Wheel(120);
    ExpectHeldAt("wheel up");
    for (int i = 0; i < 200 && !list.GetFollow(); ++i) Wheel(-120);
    ExpectFollowing("wheel down to the bottom");

    QScrollBar* bar = View()->verticalScrollBar();
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    PumpFrame();
    ExpectHeldAt("scroll bar page up");
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    PumpFrame();
    ExpectFollowing("scroll bar to the bottom");

    // A click on a row in view, even at the bottom, keeps that row where it is.
    int first = -1;
    int last = -1;
    View()->VisibleRows(first, last);
    QTest::mouseClick(View()->viewport(), Qt::LeftButton, Qt::NoModifier, RowCenter(last - 2));
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), last - 2);
    const QPoint clickedAt = RowCenter(last - 2);
    ExpectHeldAt("click on a row");
    EXPECT_EQ(RowCenter(last - 2), clickedAt) << "the clicked row moved";

    list.SetFollow(TRUE);
    PumpFrame();
    EXPECT_TRUE(NewestInView()) << "following again scrolls to the newest row at once";
    ExpectFollowing("SetFollow");
}

TEST_F(CListCtrlFollowTest, PageKeysHomeAndEndMoveTheSelectedRow) {
    const int page = View()->viewport()->height() / View()->rowHeight();
    ASSERT_GT(page, 2);
    Key(Qt::Key_Home);
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 0);
    EXPECT_EQ(TopRow(), 0);
    Key(Qt::Key_PageDown);
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), page);
    Key(Qt::Key_PageDown);
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 2 * page);
    Key(Qt::Key_PageUp);
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), page);
    int first = -1;
    int last = -1;
    View()->VisibleRows(first, last);
    EXPECT_TRUE(page >= first && page <= last) << "the selected row is in view";
    Key(Qt::Key_End);
    const int count = list.GetItemCount();
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), count - 1);
    EXPECT_TRUE(NewestInView());
    Key(Qt::Key_PageUp);
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), count - 1 - page);
}

// A row filter hides rows from the view only: every row stays in the list,
// addressed by its own index, and new rows are filtered as they arrive.
TEST_F(CListCtrlTest, RowFilterHidesRowsThatStayInTheList) {
    for (int i = 0; i < 10; ++i) AddRow(i);
    PumpFrame();
    ListModel* model = list.GetModel();
    list.SetRowFilter([](LPARAM data) { return data % 2 == 0; });  // even tags (item data 1000 + tag)
    EXPECT_EQ(list.GetShownCount(), 5);
    EXPECT_EQ(list.GetItemCount(), 10);
    EXPECT_EQ(model->data(model->index(1, 0)).toString(), "r2c0");
    EXPECT_EQ(list.GetItemText(3, 0), "r3c0") << "operations still address every row";
    EXPECT_EQ(list.GetItemData(3), 1003u);

    AddRow(10);
    AddRow(11);
    AddRow(12);
    PumpFrame();
    EXPECT_EQ(list.GetShownCount(), 7);
    EXPECT_EQ(model->data(model->index(5, 0)).toString(), "r10c0");
    EXPECT_EQ(model->data(model->index(6, 0)).toString(), "r12c0");

    list.SetItemText(10, 1, "renamed");
    list.SetItemText(11, 1, "hidden");
    PumpFrame();
    EXPECT_EQ(model->data(model->index(5, 1)).toString(), "renamed");

    list.SetRowFilter({});
    EXPECT_EQ(list.GetShownCount(), 13);
    EXPECT_EQ(model->data(model->index(11, 1)).toString(), "hidden");
}

TEST_F(CListCtrlTest, RowFilterKeepsTheSelectedRowWhenItIsShown) {
    for (int i = 0; i < 10; ++i) AddRow(i);
    QTest::mouseClick(list.GetTableView()->viewport(), Qt::LeftButton, Qt::NoModifier, RowCenter(4));
    ASSERT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 4);
    list.SetRowFilter([](LPARAM data) { return data % 2 == 0; });
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 4);
    EXPECT_EQ(list.GetTableView()->currentIndex().row(), 2);
    // A click on a shown row selects the row it shows.
    QTest::mouseClick(list.GetTableView()->viewport(), Qt::LeftButton, Qt::NoModifier, RowCenter(3));
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), 6);
    list.SetRowFilter([](LPARAM data) { return data % 2 == 1; });
    EXPECT_EQ(list.GetNextItem(-1, LVNI_SELECTED), -1) << "the selected row is hidden";
}

TEST_F(CListCtrlTest, FilteredListFollowsTheNewestShownRowAndClears) {
    list.SetRowFilter([](LPARAM data) { return (data - 1000) % 3 == 0; });
    for (int i = 0; i <= 300; ++i) AddRow(i);
    AddRow(301);  // hidden: the newest shown row is 300
    PumpFrame();
    ListTableView* view = list.GetTableView();
    int first = -1;
    int last = -1;
    view->VisibleRows(first, last);
    EXPECT_EQ(list.GetShownCount(), 101);
    EXPECT_EQ(last, 100);
    EXPECT_EQ(list.GetModel()->data(list.GetModel()->index(last, 0)).toString(), "r300c0");

    list.DeleteAllItems();
    PumpFrame();
    EXPECT_EQ(list.GetShownCount(), 0);
    AddRow(1);
    AddRow(3);
    PumpFrame();
    EXPECT_EQ(list.GetItemCount(), 2);
    EXPECT_EQ(list.GetShownCount(), 1);
    EXPECT_EQ(list.GetModel()->data(list.GetModel()->index(0, 0)).toString(), "r3c0");
}

}  // namespace
}  // namespace win
