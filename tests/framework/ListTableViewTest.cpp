// The list widget following a growing long list: only the viewport repaints,
// not the scroll bars or the frame around them, and of the viewport only the
// cells whose content changed, with what is on screen always what a full
// paint gives; and the viewport paints its own background, under its rows and
// below them.
#include "framework/ListTableView.h"

#include <QAbstractTableModel>
#include <QApplication>
#include <QHeaderView>
#include <QHash>
#include <QImage>
#include <QItemSelectionModel>
#include <QPaintEvent>
#include <QScreen>
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

// Rows of one flow: the time (column 0) changes every third row, column 2 now
// and then, columns 1 and 3 never; a cell may be given another text.
class FlowModel : public QAbstractTableModel {
public:
    int rowCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : m_rows; }
    int columnCount(const QModelIndex& parent = {}) const override { return parent.isValid() ? 0 : 4; }
    QVariant data(const QModelIndex& index, int role) const override {
        if (role != Qt::DisplayRole) return {};
        const auto edited = m_edits.constFind(index.row() * 4 + index.column());
        if (edited != m_edits.constEnd()) return *edited;
        switch (index.column()) {
        case 0: return QString::number(index.row() / 3);
        case 2: return index.row() % 7 == 0 ? QStringLiteral("other") : QStringLiteral("flow");
        default: return QStringLiteral("10.0.0.%1").arg(index.column());
        }
    }
    void Append(int rows) {
        beginInsertRows({}, m_rows, m_rows + rows - 1);
        m_rows += rows;
        endInsertRows();
    }
    void Edit(int row, int column, const QString& text) {
        m_edits[row * 4 + column] = text;
        emit dataChanged(index(row, column), index(row, column));
    }

private:
    int m_rows = 0;
    QHash<int, QString> m_edits;
};

// Collects the regions the viewport is asked to paint.
class PaintedRegion : public QObject {
public:
    explicit PaintedRegion(QWidget* widget) { widget->installEventFilter(this); }
    QRegion region;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) region += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
};

// Whether the viewport on screen (the window's backing store) shows what a
// twin view of the same rows, at the same place, gives when painted whole.
// (Painting the view itself to compare would also renew its record of what
// its cells show.)
::testing::AssertionResult ScreenShowsFullPaint(ListTableView& view, ListTableView& twin) {
    QWidget* viewport = view.viewport();
    twin.resize(view.size());
    for (int c = 0; c < view.horizontalHeader()->count(); ++c)
        twin.horizontalHeader()->resizeSection(c, view.horizontalHeader()->sectionSize(c));
    QApplication::processEvents();
    twin.verticalScrollBar()->setValue(view.verticalScrollBar()->value());
    if (twin.verticalScrollBar()->value() != view.verticalScrollBar()->value())
        return ::testing::AssertionFailure() << "the twin is not at the same row";
    const QRect where(viewport->mapTo(view.window(), QPoint(0, 0)), viewport->size());
    const QImage screen = view.screen()->grabWindow(view.window()->winId()).toImage().copy(where);
    const QImage full = twin.viewport()->grab().toImage();
    if (screen.size() != full.size()) return ::testing::AssertionFailure() << "no window image";
    int wrong = 0;
    for (int y = 0; y < full.height(); ++y)
        for (int x = 0; x < full.width(); ++x) wrong += screen.pixel(x, y) != full.pixel(x, y);
    if (wrong == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << wrong << " pixels differ";
}

TEST(ListTableViewTest, NewRowsRepaintOnlyTheCellsThatChangeAndTheScreenStaysRight) {
    FlowModel model;
    ListTableView view;
    view.setModel(&model);
    view.SetShowSelectionAlways(true);  // the twin is not the active window
    view.resize(320, 200);
    ListTableView twin;
    twin.setModel(&model);
    twin.setSelectionModel(view.selectionModel());
    twin.SetShowSelectionAlways(true);
    for (int c = 0; c < 4; ++c) view.horizontalHeader()->resizeSection(c, 70);
    model.Append(1000);
    twin.show();
    view.show();
    view.scrollTo(model.index(model.rowCount() - 1, 0));
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    PaintedRegion painted(view.viewport());
    const auto settle = [] {
        for (int i = 0; i < 3; ++i) QApplication::processEvents();
    };
    const auto publish = [&](int rows) {
        model.Append(rows);
        view.scrollTo(model.index(model.rowCount() - 1, 0));
        settle();
    };
    // A column's cells in the rows wholly in view. (The part-shown slot below
    // the last row gets a row for a moment when rows come, before the view
    // follows them: it is painted again, as background.)
    const auto strip = [&](int column) {
        return QRect(view.horizontalHeader()->sectionViewportPosition(column), 0, 70,
                     view.viewport()->height() / view.rowHeight() * view.rowHeight());
    };

    // Many rows at once (the view turns over): columns 1 and 3 stay as they are.
    publish(300);  // the first one after showing may still settle
    ASSERT_TRUE(ScreenShowsFullPaint(view, twin));
    for (int i = 0; i < 6; ++i) {
        painted.region = QRegion();
        publish(250 + i);
        EXPECT_TRUE(painted.region.intersects(strip(0)));
        EXPECT_FALSE(painted.region.intersects(strip(1)));
        EXPECT_FALSE(painted.region.intersects(strip(3)));
        ASSERT_TRUE(ScreenShowsFullPaint(view, twin)) << "publish " << i;
    }
    painted.region = QRegion();
    for (int i = 0; i < 3; ++i) publish(250 + i);
    EXPECT_TRUE(painted.region.intersects(strip(0)));
    EXPECT_FALSE(painted.region.intersects(strip(1)));
    EXPECT_TRUE(painted.region.intersects(strip(2)));
    EXPECT_FALSE(painted.region.intersects(strip(3)));

    // A few rows (the rows in view move up), then many again. After one row,
    // 13 more bring column 2's pattern (period 7) back to where each slot's
    // text was before the move: only a record moved with the pixels tells
    // that those cells changed.
    for (const int rows : {1, 13, 3, 2, 400, 5, 300}) {
        publish(rows);
        ASSERT_TRUE(ScreenShowsFullPaint(view, twin)) << rows << " rows";
    }

    // A selected row scrolling away, and a row selected in view.
    int first = 0;
    int last = 0;
    view.VisibleRows(first, last);
    view.selectionModel()->select(model.index(last - 1, 0),
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    settle();
    publish(2);
    ASSERT_TRUE(ScreenShowsFullPaint(view, twin));
    publish(300);
    ASSERT_TRUE(ScreenShowsFullPaint(view, twin));
    // Scrolled back to a selected row: column 1 and 3 keep their texts, but
    // not their look.
    view.VisibleRows(first, last);
    view.selectionModel()->select(model.index(first - 15, 0),
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    settle();
    view.verticalScrollBar()->setValue(first - 21);
    settle();
    ASSERT_TRUE(ScreenShowsFullPaint(view, twin));

    // A cell given another text, then rows that bring back at its place the
    // text it had before.
    view.VisibleRows(first, last);
    model.Edit(last, 1, "edited");
    settle();
    ASSERT_TRUE(ScreenShowsFullPaint(view, twin));
    publish(300);
    ASSERT_TRUE(ScreenShowsFullPaint(view, twin));

    // Resized taller and narrower, then more rows.
    view.resize(280, 260);
    settle();
    publish(300);
    ASSERT_TRUE(ScreenShowsFullPaint(view, twin));
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
