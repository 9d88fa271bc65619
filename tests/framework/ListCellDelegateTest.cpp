// Tests of the list's cell painting into images: selection colour, elision of
// cut texts, alignment, that a text drawn from the cache looks the same as
// when it was first laid out, and the same as the text drawn directly.
#include "framework/ListCellDelegate.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QStandardItemModel>
#include <QTableView>
#include <gtest/gtest.h>

#include <string>

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
    // With `whole`, the option carries the view's solid background and the
    // cell paints it too; the image is filled with magenta first, so that any
    // pixel the cell leaves out shows.
    // At a device pixel ratio above 1 the image has that many pixels per cell pixel.
    QImage Paint(const QString& text, int width, Qt::Alignment align = Qt::AlignLeft, bool selected = false,
                 int height = 24, bool whole = false, int ratio = 1) {
        model.setData(model.index(0, 0), text);
        model.setData(model.index(0, 0), QVariant::fromValue(align | Qt::AlignVCenter), Qt::TextAlignmentRole);
        QImage image(width * ratio, height * ratio, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(whole ? Qt::magenta : Qt::white);
        QStyleOptionViewItem option;
        option.initFrom(&view);
        option.rect = QRect(0, 0, width, height);
        option.font = view.font();
        option.fontMetrics = QFontMetrics(option.font);
        option.textElideMode = Qt::ElideRight;
        option.state = QStyle::State_Enabled | QStyle::State_Active;
        if (selected) option.state |= QStyle::State_Selected;
        if (whole) option.backgroundBrush = QBrush(Qt::white);
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
    // Around the width where the whole text just fits, the cell cuts the text
    // exactly where eliding it for that width does.
    const QString text = "192.168.100.200";
    const int fits = QFontMetrics(view.font()).horizontalAdvance(text) + 2 * 3;
    for (int width = fits - 3; width <= fits + 3; ++width) {
        const QString expected = QFontMetrics(view.font()).elidedText(text, Qt::ElideRight, width - 2 * 3);
        EXPECT_EQ(Paint(text, width), Paint(expected, width)) << width << " " << expected.toStdString();
    }
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

TEST_F(ListCellDelegateTest, TextLooksAsWhenDrawnDirectly) {
    // Heights and texts that put the text at half pixels, on white and on
    // the selection colour, over a background already there or painted by the
    // cell itself, on an ordinary and a high-DPI screen; the direct drawing
    // places the text as the cell does, inside the style's margins.
    const int margin = view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1;
    for (const int ratio : {1, 2})
    for (const bool whole : {false, true}) {
        for (const bool selected : {false, true}) {
            for (const int height : {17, 18, 24}) {
                for (const Qt::Alignment align : {Qt::AlignLeft, Qt::AlignRight}) {
                    for (const QString text : {"00:02:54:307", "127.0.0.1", "jW_|gy", "ab", ""}) {
                        const QImage cell = Paint(text, 120, align, selected, height, whole, ratio);
                        // From the cache: drawn from the cell's image.
                        const QImage again = Paint(text, 120, align, selected, height, whole, ratio);
                        QImage direct(120 * ratio, height * ratio, QImage::Format_ARGB32_Premultiplied);
                        direct.setDevicePixelRatio(ratio);
                        direct.fill(selected ? view.palette().color(QPalette::Active, QPalette::Highlight) : Qt::white);
                        QStaticText prepared(text);
                        prepared.prepare(QTransform(), view.font());
                        const QSizeF size = prepared.size();
                        const qreal x = align == Qt::AlignLeft ? margin : 120 - margin - size.width();
                        QPainter painter(&direct);
                        painter.setFont(view.font());
                        painter.setPen(selected ? view.palette().color(QPalette::Active, QPalette::HighlightedText)
                                                : QColor(Qt::black));
                        painter.drawStaticText(QPointF(x, (height - size.height()) / 2), prepared);
                        painter.end();
                        const std::string what = text.toStdString() + " " + std::to_string(height) + " " +
                                                 std::to_string(selected) + " " + std::to_string(whole) + " " +
                                                 std::to_string(ratio);
                        EXPECT_EQ(cell, direct) << what;
                        EXPECT_EQ(again, direct) << what;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace win
