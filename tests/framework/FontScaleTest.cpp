// Sizes given for the 8-point font, converted to the font in use: list
// columns fit their headers and the widest usual cells at any font and size,
// keep their proportions, and top-level windows are sized the same way,
// clamped to the screen and placed on it.
#include "framework/FontScale.h"

#include <QApplication>
#include <QFontDatabase>
#include <QHeaderView>
#include <QScreen>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/CListCtrl.h"
#include "framework/ListTableView.h"

namespace win {
namespace {

struct Column {
    const char* header;
    int width;
    const char* widest;  // the widest usual cell
};
// The packet list's columns, as its view inserts them.
const Column kColumns[] = {
    {"Timestamp", 80, "00:00:00:000"}, {"Source Address", 100, "255.255.255.255"},
    {"Source Port", 70, "65535"},      {"Dest. Address", 100, "255.255.255.255"},
    {"Dest. Port", 70, "65535"},       {"Type", 50, "ICMP"},
    {"Size", 50, "65535"},             {"Info", 200, "flags: SYN ACK "},
};

class FontScaleTest : public ::testing::TestWithParam<std::pair<const char*, int>> {
protected:
    void SetUp() override {
        QFont font(GetParam().first);
        font.setPointSize(GetParam().second);
        QApplication::setFont(font);
        ASSERT_TRUE(parent.CreateEx(0, "QvTestFrame", "Test", WS_OVERLAPPEDWINDOW, 0, 0, 640, 400, nullptr, nullptr));
        ASSERT_TRUE(list.Create(WS_CHILD | WS_VISIBLE, CRect(0, 0, 600, 360), &parent, 1));
        list.ModifyStyle(0, LVS_REPORT);
        for (int c = 0; c < 8; ++c) ASSERT_EQ(list.InsertColumn(c, kColumns[c].header, LVCFMT_LEFT, kColumns[c].width), c);
    }
    void TearDown() override {
        parent.DestroyWindow();
        QApplication::setFont(QFont());
    }
    CWnd parent;
    CListCtrl list;
};

TEST_P(FontScaleTest, ColumnsFitHeadersAndWidestCellsAndKeepProportions) {
    auto* view = static_cast<ListTableView*>(list.GetWidget());
    QHeaderView* header = view->horizontalHeader();
    for (int c = 0; c < 8; ++c) {
        SCOPED_TRACE(kColumns[c].header);
        const int width = header->sectionSize(c);
        EXPECT_GE(width, FontScale::HeaderWidth(header, kColumns[c].header));
        EXPECT_GE(width, FontScale::CellWidth(view, kColumns[c].widest));
        EXPECT_GE(width, kColumns[c].width * 3 / 4);
    }
    // Proportions stay where no header needed more: both addresses alike,
    // Info twice an address, Timestamp four fifths of one.
    EXPECT_EQ(header->sectionSize(1), header->sectionSize(3));
    EXPECT_NEAR(header->sectionSize(7), 2 * header->sectionSize(1), 2);
    EXPECT_NEAR(header->sectionSize(0) * 5, header->sectionSize(1) * 4, 6);
}

INSTANTIATE_TEST_SUITE_P(Fonts, FontScaleTest,
                         ::testing::Values(std::make_pair("DejaVu Sans", 9), std::make_pair("Liberation Sans", 8),
                                           std::make_pair("Liberation Sans", 14), std::make_pair("Liberation Mono", 10),
                                           std::make_pair("DejaVu Sans", 20), std::make_pair("DejaVu Sans Mono", 6)),
                         [](const ::testing::TestParamInfo<std::pair<const char*, int>>& info) {
                             std::string name;
                             for (const char* c = info.param.first; *c; ++c)
                                 if (*c != ' ') name += *c;
                             return name + std::to_string(info.param.second);
                         });

TEST(FontScale, FactorsFollowTheFont) {
    QFont small("Liberation Sans"), large("Liberation Sans");
    small.setPixelSize(10);
    large.setPixelSize(20);
    EXPECT_NEAR(FontScale::Horizontal(large) / FontScale::Horizontal(small), 2.0, 0.15);
    EXPECT_NEAR(FontScale::Vertical(large) / FontScale::Vertical(small), 2.0, 0.25);
    EXPECT_GE(FontScale::Width(100, large), 100 * 2 * FontScale::Horizontal(small) - 15);
    EXPECT_EQ(FontScale::Width(0, large), 0);
}

TEST(FontScale, ClampAndPlaceInsideTheAvailableArea) {
    const QRect screen(0, 0, 1600, 1000);
    EXPECT_EQ(FontScale::ClampSize(QSize(1600, 960), QRect(0, 0, 800, 500)), QSize(800, 500));
    EXPECT_EQ(FontScale::ClampSize(QSize(300, 200), screen), QSize(300, 200));
    EXPECT_EQ(FontScale::PlaceInside(QRect(900, 700, 800, 480), screen), QRect(800, 520, 800, 480));
    EXPECT_EQ(FontScale::PlaceInside(QRect(-50, -20, 800, 480), screen), QRect(0, 0, 800, 480));
    EXPECT_EQ(FontScale::PlaceInside(QRect(100, 100, 2000, 1200), screen), screen);
    EXPECT_EQ(FontScale::PlaceInside(QRect(10, 10, 5, 5), QRect()), QRect(10, 10, 5, 5));
}

// A top-level window's size given in 8-point pixels is converted like the
// columns and never exceeds the screen's available area.
TEST(FontScale, TopLevelWindowSizesAreConvertedAndClamped) {
    QFont font("DejaVu Sans");
    font.setPointSize(9);
    QApplication::setFont(font);
    CWnd window;
    ASSERT_TRUE(window.CreateEx(0, "QvTestFrame", "Packet", WS_OVERLAPPEDWINDOW, 0, 0, 0, 0, nullptr, nullptr));
    QWidget* widget = window.GetWidget();
    window.SetWindowPos(nullptr, 0, 0, 800, 480, SWP_NOMOVE | SWP_NOZORDER);
    // The available area less a typical window frame.
    const QRect available = widget->screen()->availableGeometry().marginsRemoved(QMargins(4, 30, 4, 4));
    const int width = FontScale::Width(800, widget->font()), height = FontScale::Height(480, widget->font());
    EXPECT_GT(width, 800);  // DejaVu Sans 9 is wider than the 8-point font
    EXPECT_EQ(widget->size(), QSize(std::min(width, available.width()), std::min(height, available.height())));
    window.SetWindowPos(nullptr, 0, 0, 20000, 20000, SWP_NOMOVE | SWP_NOZORDER);
    EXPECT_LE(widget->width(), available.width());
    EXPECT_LE(widget->height(), available.height());
    window.DestroyWindow();
    QApplication::setFont(QFont());
}

}  // namespace
}  // namespace win
