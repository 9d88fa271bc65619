// The list's scroll bar repaints for a change of range or value only when the
// slider or an end's look changes.
#include "framework/ListScrollBar.h"

#include <QApplication>
#include <gtest/gtest.h>

#include "tests/support/qt/PaintCounter.h"

namespace win {
namespace {

class ListScrollBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        bar.resize(16, 400);
        bar.setPageStep(30);
        bar.setRange(0, 1'000'000);
        bar.setValue(1'000'000);
        bar.show();
        Settle();
    }
    // Runs posted events, paints included, and returns how many paints ran.
    int Settle() {
        counter.paints = 0;
        for (int i = 0; i < 3; ++i) QApplication::processEvents();
        return counter.paints;
    }

    ListScrollBar bar{Qt::Vertical};
    qvtest::PaintCounter counter{&bar};
};

TEST_F(ListScrollBarTest, FollowingAGrowingLongListDoesNotRepaint) {
    for (int rows = 1'000'250; rows <= 1'002'500; rows += 250) {
        bar.setRange(0, rows);
        bar.setValue(rows);
    }
    EXPECT_EQ(Settle(), 0);
}

TEST_F(ListScrollBarTest, VisibleChangesRepaint) {
    bar.setRange(0, 100);  // slider longer
    EXPECT_GT(Settle(), 0);
    bar.setValue(0);  // slider at the other end
    EXPECT_GT(Settle(), 0);
    bar.setRange(0, 1'000'000);  // slider shorter, still at the top
    EXPECT_GT(Settle(), 0);
    bar.setValue(1);  // off the top end: its arrow comes back, the slider stays
    EXPECT_GT(Settle(), 0);
    bar.setPageStep(300'000);  // slider longer again
    EXPECT_GT(Settle(), 0);
}

}  // namespace
}  // namespace win
