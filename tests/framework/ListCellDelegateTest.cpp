// Tests of the list's cell painting into images: selection colour, elision of
// cut texts, alignment, and that a text drawn from the cache looks the same as
// when it was first laid out.
#include "framework/ListCellDelegate.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStandardItemModel>
#include <QTableView>
#include <gtest/gtest.h>

namespace win {
namespace {

class ListCellDelegateTest : public ::testing::Test {
protected:
    void SetUp() override {
        model.setRowCount(1);
        model.setColumnCount(1);
        view.setModel(&model);
    }
    // Paints the cell with the given text into a fresh white image.
    QImage Paint(const QString& text, int width, Qt::Alignment align = Qt::AlignLeft, bool selected = false) {
        model.setData(model.index(0, 0), text);
        model.setData(model.index(0, 0), QVariant::fromValue(align | Qt::AlignVCenter), Qt::TextAlignmentRole);
        QImage image(width, 24, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::white);
        QStyleOptionViewItem option;
        option.initFrom(&view);
        option.rect = image.rect();
        option.font = view.font();
        option.fontMetrics = QFontMetrics(option.font);
        option.textElideMode = Qt::ElideRight;
        option.state = QStyle::State_Enabled | QStyle::State_Active;
        if (selected) option.state |= QStyle::State_Selected;
        option.palette.setColor(QPalette::Text, Qt::black);
        QPainter painter(&image);
        delegate.paint(&painter, option, model.index(0, 0));
        return image;
    }
    // The rightmost column holding a pixel that is not white, -1 for none.
    static int RightmostInk(const QImage& image) {
        for (int x = image.width() - 1; x >= 0; --x)
            for (int y = 0; y < image.height(); ++y)
                if (image.pixel(x, y) != qRgb(255, 255, 255)) return x;
        return -1;
    }

    QStandardItemModel model;
    QTableView view;
    ListCellDelegate delegate;
};

TEST_F(ListCellDelegateTest, CutTextIsElidedAndCachedTextLooksTheSame) {
    const QString longText = "a-long-host-name.example.invalid";
    const QImage first = Paint(longText, 60);
    const QImage again = Paint(longText, 60);  // from the cache
    EXPECT_EQ(first, again);
    const QString elided = QFontMetrics(view.font()).elidedText(longText, Qt::ElideRight, 60 - 2 * 3);
    ASSERT_NE(elided, longText);
    // Drawing the elided text itself, which fits, gives the same pixels.
    EXPECT_EQ(first, Paint(elided, 60));
    EXPECT_NE(first, Paint("a-long", 60));
    EXPECT_NE(RightmostInk(first), -1);
}

TEST_F(ListCellDelegateTest, AlignmentAndSelection) {
    const QImage left = Paint("80", 200, Qt::AlignLeft);
    const QImage right = Paint("80", 200, Qt::AlignRight);
    EXPECT_LT(RightmostInk(left), 50);
    EXPECT_GT(RightmostInk(right), 150);
    const QImage selected = Paint("80", 200, Qt::AlignLeft, true);
    EXPECT_EQ(selected.pixelColor(199, 0), view.palette().color(QPalette::Active, QPalette::Highlight));
    EXPECT_EQ(left.pixelColor(199, 0), QColor(Qt::white));
    // An empty cell paints nothing.
    EXPECT_EQ(RightmostInk(Paint("", 200)), -1);
}

}  // namespace
}  // namespace win
