// The widget of a list control in report mode: a table of rows of one fixed
// height under a horizontal header, over a ListModel. Every row has the same
// height, so the view finds any row by arithmetic and keeps nothing per row:
// appending rows costs the same at any list length, and only rows that come
// into view are painted. (A QTableView keeps a header section per row and
// walks them all after each insertion.) The vertical scroll bar counts rows,
// so the top row is always whole, as in a list control.
//
// Columns come from the header: the user may drag them into another order
// when the header allows it; cells keep their column index. Selection and
// keyboard navigation are QAbstractItemView's.
//
// Following the end. While the view follows, scroll requests for new rows
// (see ListModel's ensure-visible handler) keep the last row in view. The
// person leaves the end with Home, Page Up, Up, the wheel, the scroll bar or a
// click on a row: from then on the view stays where they put it while rows
// keep arriving. End (also with Ctrl), or Down, Page Down, the wheel or the
// scroll bar bringing the view to its last row, follow again.
//
// It reports left-button clicks (also on empty space) and double-clicks after
// its own handling has updated the selection, so that the control can send
// NM_CLICK and NM_DBLCLK; keyboard navigation reports nothing.
#pragma once

#include <QAbstractItemView>
#include <QStyle>
#include <functional>

#include "framework/ListPaintedCells.h"

class QHeaderView;

namespace win {

class ListTableView : public QAbstractItemView {
public:
    explicit ListTableView(QWidget* parent = nullptr);

    /// Called with NM_CLICK or NM_DBLCLK once the selection is up to date.
    void SetMouseHandler(std::function<void(unsigned code)> handler) { m_onMouse = std::move(handler); }
    /// Keeps the selection drawn as when focused (LVS_SHOWSELALWAYS).
    void SetShowSelectionAlways(bool always);
    void setShowGrid(bool show);
    bool showGrid() const { return m_showGrid; }

    /// True while the view keeps its last row in view (see above).
    bool IsFollowing() const { return m_follow; }
    /// Starts or stops following; starting scrolls to the last row at once.
    void SetFollowing(bool follow);
    /// True when the last row is in view (or every row is).
    bool IsAtEnd() const;

    QHeaderView* horizontalHeader() const { return m_header; }
    int rowHeight() const { return m_rowHeight; }
    /// The row at a viewport y, -1 for none.
    int rowAt(int y) const;
    /// The first and last rows in view, -1 for both when none is.
    void VisibleRows(int& first, int& last) const;
    /// Repaints the given rows where they are in view, and nothing else.
    void UpdateRows(int first, int last);

    void setModel(QAbstractItemModel* model) override;
    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    /// What every cell's state is built from, read once per paint or comparison.
    struct CellContext {
        QStyle::State base;
        QModelIndex current;
        bool focus = false;
        QItemSelectionModel* selection = nullptr;
    };

    int RowCount() const;
    int FullRowsInView() const;
    /// Rows in view, the last one possibly in part.
    int SlotsInView() const;
    CellContext MakeCellContext(QStyleOptionViewItem& option) const;
    QStyle::State CellState(const CellContext& context, int row, int column) const;
    /// After a scroll by dy rows: repaints only the cells whose content
    /// changed, when they are fewer than the rows coming into view would be.
    bool RepaintChangedCells(int dy);
    /// Records what a cell of area was painted with, or forgets it when it was painted in part.
    void NotePainted(const QRect& area, const QRect& cell, int slot, int column, const QString& text, int state);
    void PaintArea(QPainter& painter, const QRect& area, QStyleOptionViewItem& option, const CellContext& context,
                   const QBrush& background, bool cellsOpaque);
    void UpdateRowHeight();
    void OnRowsInserted(int start, int end);

    QHeaderView* m_header;
    int m_rowHeight = 1;
    bool m_showGrid = false;
    std::function<void(unsigned)> m_onMouse;
    bool m_afterDoubleClick = false;  // the release that ends a double-click is no click
    bool m_follow = true;
    ListPaintedCells m_painted;
};

}  // namespace win
