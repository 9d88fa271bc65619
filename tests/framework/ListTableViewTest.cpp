// The list widget following a growing long list: only the viewport repaints,
// not the scroll bars or the frame around them; and the viewport paints its
// own background, under its rows and below them.
#include "framework/ListTableView.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QStandardItemModel>
#include <QScrollBar>
#include <gtest/gtest.h>

#include "tests/support/qt/PaintCounter.h"

namespace win {
namespace {

class GrowingModel : public QAbstractTableModel {
public:
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : m_rows; }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 4; }
    QVariant data(const QModelIndex& index, int role) const override {
        return role == Qt::DisplayRole ? QVariant(QString::number(index.row())) : QVariant();
    }
    void Append(int rows) {
        beginInsertRows({}, m_rows, m_rows + rows - 1);
        m_rows += rows;
        endInsertRows();
    }

private:
    int m_rows = 0;
};

TEST(ListTableViewTest, FollowingNewRowsRepaintsOnlyTheViewport) {
    GrowingModel model;
    ListTableView view;
    view.setModel(&model);
    view.resize(300, 200);
    for (int c = 0; c < 4; ++c) view.horizontalHeader()->resizeSection(c, 120);  // wider than the view
    model.Append(100'000);
    view.show();
    view.scrollTo(model.index(model.rowCount() - 1, 0));
    qvtest::PaintCounter vertical(view.verticalScrollBar());
    qvtest::PaintCounter horizontal(view.horizontalScrollBar());
    qvtest::PaintCounter viewport(view.viewport());
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    ASSERT_TRUE(view.horizontalScrollBar()->isVisible());
    ASSERT_TRUE(view.verticalScrollBar()->isVisible());

    const auto publish = [&] {
        model.Append(250);
        view.scrollTo(model.index(model.rowCount() - 1, 0));
        for (int i = 0; i < 3; ++i) QApplication::processEvents();
    };
    publish();  // the first one after showing may still settle the bar
    vertical.paints = horizontal.paints = viewport.paints = 0;
    for (int i = 0; i < 10; ++i) publish();
    EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
    EXPECT_GE(viewport.paints, 10);
    EXPECT_EQ(vertical.paints, 0);
    EXPECT_EQ(horizontal.paints, 0);
}

TEST(ListTableViewTest, EveryPixelWithoutTextIsTheBackground) {
    QStandardItemModel model(3, 2);  // rows without text, over a third of the view
    ListTableView view;
    view.setModel(&model);
    view.resize(300, 200);
    view.show();
    QApplication::processEvents();
    for (const QColor colour : {QColor(10, 200, 30), QColor(250, 240, 200)}) {
        QPalette palette = view.viewport()->palette();
        palette.setColor(QPalette::Base, colour);
        view.viewport()->setPalette(palette);
        QImage image(view.viewport()->size(), QImage::Format_RGB32);
        image.fill(Qt::magenta);  // what nothing painted over shows
        view.viewport()->render(&image);
        ASSERT_LT(3 * view.rowHeight(), image.height());
        int wrong = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) wrong += image.pixel(x, y) != colour.rgb();
        EXPECT_EQ(wrong, 0) << colour.name().toStdString();
    }
}

}  // namespace
}  // namespace win
