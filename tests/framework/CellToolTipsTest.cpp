// The list's tooltips: a cell whose text the column cuts shows the whole text
// when the pointer rests on it; a cell that fits shows none.
#include "framework/CellToolTips.h"

#include <QApplication>
#include <QHeaderView>
#include <QHelpEvent>
#include <QTest>
#include <QToolTip>
#include <gtest/gtest.h>

#include "framework/CListCtrl.h"
#include "framework/ListTableView.h"
#include "tests/support/qt/QtTestHelpers.h"

namespace win {
namespace {

class CellToolTipsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(parent.CreateEx(0, "QvTestFrame", "Test", WS_OVERLAPPEDWINDOW, 0, 0, 640, 400, nullptr, nullptr));
        ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 600, 360), &parent, 1));
        list.ModifyStyle(0, LVS_REPORT);
        ASSERT_EQ(list.InsertColumn(0, "Source Address", LVCFMT_LEFT, 100), 0);
        ASSERT_EQ(list.InsertColumn(1, "Size", LVCFMT_RIGHT, 50), 1);
        ASSERT_EQ(list.InsertItem(0, "a-host-name-far-too-long-for-its-column.example.org"), 0);
        ASSERT_TRUE(list.SetItemText(0, 1, "65535"));
        parent.ShowWindow(SW_SHOW);
        qvtest::PumpEvents(50);
        view = static_cast<ListTableView*>(list.GetWidget());
    }
    void TearDown() override {
        QToolTip::hideText();
        parent.DestroyWindow();
    }
    /// Sends a tooltip request for the middle of the cell; true when the view handled it.
    bool AskToolTip(int column) {
        const QModelIndex index = view->model()->index(0, column);
        const QPoint at = view->visualRect(index).center();
        QHelpEvent event(QEvent::ToolTip, at, view->viewport()->mapToGlobal(at));
        return QApplication::sendEvent(view->viewport(), &event) && event.isAccepted();
    }
    CWnd parent;
    CListCtrl list;
    ListTableView* view = nullptr;
};

TEST_F(CellToolTipsTest, CutCellShowsItsWholeTextAndAFittingOneNone) {
    const QModelIndex cut = view->model()->index(0, 0);
    const QModelIndex fits = view->model()->index(0, 1);
    EXPECT_TRUE(CellToolTips::IsCut(view, cut, view->horizontalHeader()->sectionSize(0)));
    EXPECT_FALSE(CellToolTips::IsCut(view, fits, view->horizontalHeader()->sectionSize(1)));
    EXPECT_TRUE(AskToolTip(0));
    EXPECT_TRUE(QToolTip::isVisible());
    EXPECT_EQ(QToolTip::text(), "a-host-name-far-too-long-for-its-column.example.org");
    EXPECT_FALSE(AskToolTip(1));
    qvtest::PumpEvents(500);  // the tooltip fades out
    EXPECT_FALSE(QToolTip::isVisible());
    // Widened to fit, the first cell needs no tooltip any more.
    view->horizontalHeader()->resizeSection(0, 1000);
    EXPECT_FALSE(AskToolTip(0));
}

}  // namespace
}  // namespace win
