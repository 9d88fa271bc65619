// The list control's widget: see ListTableView.h.
#include "framework/ListTableView.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "framework/ListAccessibleTable.h"
#include "framework/ListCellDelegate.h"
#include "framework/ListScrollBar.h"
#include "framework/WinUser.h"

namespace win {

ListTableView::ListTableView(QWidget* parent) : QAbstractItemView(parent), m_header(new QHeaderView(Qt::Horizontal, this)) {
    // Screen readers see the rows, cells and column headers, not one opaque area.
    ListAccessibleTable::Install();
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    setTabKeyNavigation(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setItemDelegate(new ListCellDelegate(this));
    setVerticalScrollBar(new ListScrollBar(Qt::Vertical, this));
    // The person's own scrolling (arrows, page, drag, wheel) decides whether
    // the view follows new rows; a scroll made by the program is no action.
    QObject::connect(verticalScrollBar(), &QAbstractSlider::actionTriggered, this, [this](int) {
        QScrollBar* bar = verticalScrollBar();
        m_follow = bar->sliderPosition() >= bar->maximum();
    });
    // paintEvent paints each row's background with its cells: filling the
    // whole viewport first would push its top rows out of the cache before
    // their text is blended onto them.
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_header->setStretchLastSection(false);
    m_header->setSectionsMovable(false);
    m_header->setSectionsClickable(false);
    m_header->setHighlightSections(false);
    m_header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QObject::connect(m_header, &QHeaderView::sectionResized, this, [this] {
        updateGeometries();
        viewport()->update();
    });
    QObject::connect(m_header, &QHeaderView::sectionMoved, this, [this] { viewport()->update(); });
    QObject::connect(m_header, &QHeaderView::geometriesChanged, this, [this] { updateGeometries(); });
    UpdateRowHeight();
}

void ListTableView::setModel(QAbstractItemModel* model) {
    QAbstractItemView::setModel(model);
    m_header->setModel(model);
    m_header->setSelectionModel(selectionModel());
    ListAccessibleTable::ModelSet(this);
    if (model) {
        QObject::connect(model, &QAbstractItemModel::rowsInserted, this,
                         [this](const QModelIndex&, int start, int end) { OnRowsInserted(start, end); });
        // A reset (a clear, or the first rows after the columns) sizes the
        // scroll bars at once, so that a scroll request right after it works.
        QObject::connect(model, &QAbstractItemModel::modelReset, this, [this] {
            updateGeometries();
            viewport()->update();
        });
    }
    updateGeometries();
}

int ListTableView::RowCount() const { return model() ? model()->rowCount(rootIndex()) : 0; }

int ListTableView::FullRowsInView() const { return std::max(1, viewport()->height() / m_rowHeight); }

int ListTableView::rowAt(int y) const {
    if (y < 0) return -1;
    const int row = (y + verticalOffset()) / m_rowHeight;
    return row < RowCount() ? row : -1;
}

void ListTableView::VisibleRows(int& first, int& last) const {
    first = last = -1;
    const int count = RowCount();
    const int top = verticalScrollBar()->value();
    if (top >= count) return;
    first = top;
    last = std::min(count - 1, top + (viewport()->height() - 1) / m_rowHeight);
}

void ListTableView::UpdateRows(int first, int last) {
    int top = 0;
    int bottom = 0;
    VisibleRows(top, bottom);
    // Rows outside the view are drawn when they scroll in.
    first = std::max(first, top);
    last = std::min(last, bottom);
    if (top < 0 || last < first) return;
    const int y = first * m_rowHeight - verticalOffset();
    viewport()->update(QRect(0, y, viewport()->width(), (last - first + 1) * m_rowHeight));
}

QRect ListTableView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.parent() != rootIndex()) return {};
    const int x = m_header->sectionViewportPosition(index.column());
    if (x == -1 && m_header->count() == 0) return {};
    return QRect(x, index.row() * m_rowHeight - verticalOffset(), m_header->sectionSize(index.column()),
                 m_rowHeight);
}

void ListTableView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid()) return;
    QScrollBar* bar = verticalScrollBar();
    const int row = index.row();
    const int rows = FullRowsInView();
    switch (hint) {
    case PositionAtTop:
        bar->setValue(row);
        break;
    case PositionAtBottom:
        bar->setValue(row - rows + 1);
        break;
    case PositionAtCenter:
        bar->setValue(row - rows / 2);
        break;
    case EnsureVisible:
        if (row < bar->value()) {
            bar->setValue(row);
        } else if (row >= bar->value() + rows) {
            bar->setValue(row - rows + 1);
        }
        break;
    }
}

QModelIndex ListTableView::indexAt(const QPoint& point) const {
    const int row = rowAt(point.y());
    const int column = m_header->logicalIndexAt(point.x());
    if (row < 0 || column < 0 || !model()) return {};
    return model()->index(row, column, rootIndex());
}

QModelIndex ListTableView::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
    const int count = RowCount();
    if (count == 0 || !model()) return {};
    const QModelIndex current = currentIndex();
    const int column = current.isValid() ? current.column() : m_header->logicalIndex(0);
    int row = current.isValid() ? current.row() : -1;
    switch (action) {
    case MoveUp:
    case MovePrevious:
        row = row < 0 ? 0 : row - 1;
        break;
    case MoveDown:
    case MoveNext:
        row = row + 1;
        break;
    case MovePageUp:
        row = row - FullRowsInView();
        break;
    case MovePageDown:
        row = row < 0 ? FullRowsInView() - 1 : row + FullRowsInView();
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = count - 1;
        break;
    case MoveLeft:
    case MoveRight:
        // Rows are selected whole: left and right scroll the columns.
        horizontalScrollBar()->triggerAction(action == MoveLeft ? QAbstractSlider::SliderSingleStepSub
                                                                : QAbstractSlider::SliderSingleStepAdd);
        return current;
    }
    row = std::clamp(row, 0, count - 1);
    return model()->index(row, std::max(column, 0), rootIndex());
}

int ListTableView::horizontalOffset() const { return horizontalScrollBar()->value(); }

int ListTableView::verticalOffset() const { return verticalScrollBar()->value() * m_rowHeight; }

bool ListTableView::isIndexHidden(const QModelIndex& index) const { return m_header->isSectionHidden(index.column()); }

void ListTableView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    if (!model() || !selectionModel()) return;
    const QRect r = rect.normalized();
    int top = rowAt(r.top());
    int bottom = rowAt(r.bottom());
    const int count = RowCount();
    if (top < 0) top = r.top() < 0 ? 0 : count - 1;
    if (bottom < 0) bottom = count - 1;
    const int columns = model()->columnCount(rootIndex());
    if (count == 0 || columns == 0 || top < 0) {
        selectionModel()->select(QItemSelection(), command);
        return;
    }
    int left = m_header->logicalIndexAt(r.left());
    int right = m_header->logicalIndexAt(r.right());
    if (left < 0) left = 0;
    if (right < 0) right = columns - 1;
    if (left > right) std::swap(left, right);
    const QItemSelection selection(model()->index(std::min(top, bottom), left, rootIndex()),
                                   model()->index(std::max(top, bottom), right, rootIndex()));
    selectionModel()->select(selection, command);
}

QRegion ListTableView::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    int first = 0;
    int last = 0;
    VisibleRows(first, last);
    if (first < 0) return region;
    for (const QItemSelectionRange& range : selection) {
        const int top = std::max(range.top(), first);
        const int bottom = std::min(range.bottom(), last);
        if (top > bottom) continue;
        region += QRect(0, top * m_rowHeight - verticalOffset(), viewport()->width(), (bottom - top + 1) * m_rowHeight);
    }
    return region;
}

void ListTableView::updateGeometries() {
    const int headerHeight = m_header->isHidden() ? 0 : m_header->sizeHint().height();
    if (viewportMargins().top() != headerHeight) setViewportMargins(0, headerHeight, 0, 0);
    const QRect area = viewport()->geometry();
    m_header->setGeometry(area.left(), area.top() - headerHeight, area.width(), headerHeight);
    QScrollBar* vertical = verticalScrollBar();
    const int rows = FullRowsInView();
    const int maximum = std::max(0, RowCount() - rows);
    if (maximum != vertical->maximum()) {
        // A range that only grows past a non-empty one keeps the bar shown and
        // its value: the scroll area need not hear of it, as it lays out its
        // children again for every range change, raising both bars, and so
        // repaints them at every publish of new rows.
        const bool grows = vertical->minimum() == 0 && vertical->maximum() > 0 && maximum > vertical->maximum();
        const QSignalBlocker quiet(grows ? vertical : nullptr);
        vertical->setRange(0, maximum);
    }
    vertical->setPageStep(rows);
    vertical->setSingleStep(1);
    QScrollBar* horizontal = horizontalScrollBar();
    horizontal->setRange(0, std::max(0, m_header->length() - area.width()));
    horizontal->setPageStep(area.width());
    horizontal->setSingleStep(std::max(1, m_rowHeight));
    m_header->setOffset(horizontal->value());
    QAbstractItemView::updateGeometries();
}

void ListTableView::scrollContentsBy(int dx, int dy) {
    if (dx) m_header->setOffset(horizontalScrollBar()->value());
    if (dx == 0 && RepaintChangedCells(dy)) return;
    // The vertical scroll bar counts rows; the viewport moves by pixels.
    const int pixels = dy * m_rowHeight;
    if (std::abs(pixels) >= viewport()->height() || std::abs(dx) >= viewport()->width()) {
        viewport()->update();
        return;
    }
    viewport()->scroll(dx, pixels);
    // Cells keep their column as they move sideways; moved up or down, each
    // slot shows what another one did.
    m_painted.Shift(dy);
}

void ListTableView::OnRowsInserted(int start, int end) {
    // The scroll bar's range follows the row count; of the viewport only the
    // part where the new rows lie may change.
    updateGeometries();
    UpdateRows(start, end);
}

int ListTableView::SlotsInView() const { return (viewport()->height() + m_rowHeight - 1) / m_rowHeight; }

QStyle::State ListTableView::CellState(const CellContext& context, int row, int column) const {
    QStyle::State state = context.base;
    if (context.selection && context.selection->isRowSelected(row, rootIndex())) state |= QStyle::State_Selected;
    if (context.focus && row == context.current.row() && column == context.current.column())
        state |= QStyle::State_HasFocus;
    return state;
}

ListTableView::CellContext ListTableView::MakeCellContext(QStyleOptionViewItem& option) const {
    initViewItemOption(&option);
    CellContext context;
    context.base = option.state;
    context.current = currentIndex();
    context.focus = hasFocus() && context.current.isValid();
    context.selection = selectionModel();
    return context;
}

bool ListTableView::RepaintChangedCells(int dy) {
    // Moving the pixels and painting the rows that come in, or repainting only
    // the cells whose content differs at their place: whichever paints fewer
    // cells. A flood of one flow's rows changes a column or two.
    const int columns = model() ? model()->columnCount(rootIndex()) : 0;
    const int slotCount = SlotsInView();
    if (dy == 0 || columns == 0 || m_painted.Slots() != slotCount || m_painted.Columns() != columns) return false;
    QStyleOptionViewItem option;
    const CellContext context = MakeCellContext(option);
    int shown = 0;
    for (int column = 0; column < columns; ++column) shown += m_header->isSectionHidden(column) ? 0 : 1;
    const int cellsComingIn = std::min(std::abs(dy), slotCount) * shown;
    const int count = RowCount();
    const int top = verticalScrollBar()->value();
    // The state of each slot's cells but the current one, found once per row.
    std::vector<int> rowStates(static_cast<std::size_t>(slotCount), ListPaintedCells::kNoRow);
    for (int slot = 0; slot < slotCount && top + slot < count; ++slot)
        rowStates[static_cast<std::size_t>(slot)] = CellState(context, top + slot, -1).toInt();
    const auto shows = [&](int slot, int column) {
        const int row = top + slot;
        if (row >= count) return m_painted.Shows(slot, column, QString(), ListPaintedCells::kNoRow);
        int state = rowStates[static_cast<std::size_t>(slot)];
        if (context.focus && row == context.current.row() && column == context.current.column())
            state = CellState(context, row, column).toInt();
        // A cell whose look changed is painted again whatever its text.
        return m_painted.Knows(slot, column, state) &&
               m_painted.Shows(slot, column, model()->index(row, column, rootIndex()).data(Qt::DisplayRole).toString(),
                               state);
    };
    // Column by column, so that the changed cells of a column, one above the
    // other, make one rectangle.
    QRegion region;
    int changed = 0;
    for (int column = 0; column < columns; ++column) {
        if (m_header->isSectionHidden(column)) continue;
        int runStart = -1;
        for (int slot = 0; slot <= slotCount; ++slot) {
            const bool same = slot == slotCount || shows(slot, column);
            if (!same && ++changed > cellsComingIn) return false;
            if (!same && runStart < 0) runStart = slot;
            if (same && runStart >= 0) {
                region += QRect(m_header->sectionViewportPosition(column), runStart * m_rowHeight,
                                m_header->sectionSize(column), (slot - runStart) * m_rowHeight);
                runStart = -1;
            }
        }
    }
    viewport()->update(region);
    return true;
}

void ListTableView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QBrush background = viewport()->palette().brush(viewport()->backgroundRole());
    if (!model()) {
        painter.fillRect(event->rect(), background);
        return;
    }
    m_painted.Resize(SlotsInView(), model()->columnCount(rootIndex()));
    QStyleOptionViewItem option;
    const CellContext context = MakeCellContext(option);
    // With a solid background the cells paint their own (see ListCellDelegate),
    // and a row's band is filled only right of its last column.
    const bool cellsOpaque = background.style() == Qt::SolidPattern && background.color().alpha() == 255;
    if (cellsOpaque) option.backgroundBrush = background;
    option.features |= QStyleOptionViewItem::HasDisplay;
    // Each part of the region on its own, clipped to it, so that no cell is
    // painted twice over and no cell between two parts is painted at all.
    const QRegion region = event->region();
    for (const QRect& area : region) {
        if (region.rectCount() > 1) painter.setClipRect(area);
        PaintArea(painter, area, option, context, background, cellsOpaque);
    }
}

void ListTableView::NotePainted(const QRect& area, const QRect& cell, int slot, int column, const QString& text,
                                int state) {
    // Known only when painted whole (as far as it is in view).
    if (area.contains(cell & viewport()->rect())) m_painted.Record(slot, column, text, state);
    else m_painted.Forget(slot, column);
}

void ListTableView::PaintArea(QPainter& painter, const QRect& area, QStyleOptionViewItem& option,
                              const CellContext& context, const QBrush& background, bool cellsOpaque) {
    const int count = RowCount();
    const int top = verticalScrollBar()->value();
    const int firstRow = std::max(0, (area.top() + verticalOffset()) / m_rowHeight);
    const int lastRow = std::min(count - 1, (area.bottom() + verticalOffset()) / m_rowHeight);
    int firstVisual = m_header->visualIndexAt(area.left());
    int lastVisual = m_header->visualIndexAt(area.right());
    if (firstVisual < 0) firstVisual = 0;
    if (lastVisual < 0) lastVisual = m_header->count() - 1;
    const int bandLeft = std::max(area.left(), cellsOpaque ? m_header->length() - horizontalOffset() : area.left());
    const QRect band(bandLeft, 0, area.right() + 1 - bandLeft, m_rowHeight);  // a row band, at y 0
    for (int row = firstRow; row <= lastRow; ++row) {
        const int y = row * m_rowHeight - verticalOffset();
        if (!band.isEmpty()) painter.fillRect(band.translated(0, y), background);
        for (int visual = firstVisual; visual <= lastVisual; ++visual) {
            const int column = m_header->logicalIndex(visual);
            if (column < 0 || m_header->isSectionHidden(column)) continue;
            const QModelIndex index = model()->index(row, column, rootIndex());
            option.rect = QRect(m_header->sectionViewportPosition(column), y, m_header->sectionSize(column), m_rowHeight);
            option.state = CellState(context, row, column);
            option.text = index.data(Qt::DisplayRole).toString();
            itemDelegateForIndex(index)->paint(&painter, option, index);
            NotePainted(area, option.rect, row - top, column, option.text, option.state.toInt());
        }
    }
    const int below = std::max(lastRow + 1, firstRow) * m_rowHeight - verticalOffset();
    if (below <= area.bottom()) {
        painter.fillRect(QRect(area.left(), below, area.width(), area.bottom() + 1 - below), background);
        // The cells of slots with no row show the background.
        for (int y = below, slot = (below + verticalOffset()) / m_rowHeight - top; y <= area.bottom();
             y += m_rowHeight, ++slot) {
            for (int visual = firstVisual; visual <= lastVisual; ++visual) {
                const int column = m_header->logicalIndex(visual);
                if (column < 0 || m_header->isSectionHidden(column)) continue;
                const QRect cell(m_header->sectionViewportPosition(column), y, m_header->sectionSize(column), m_rowHeight);
                NotePainted(area, cell, slot, column, QString(), ListPaintedCells::kNoRow);
            }
        }
    }
    if (m_showGrid && lastRow >= firstRow) {
        const QColor color = static_cast<QRgb>(style()->styleHint(QStyle::SH_Table_GridLineColor, &option, this));
        painter.setPen(color);
        for (int row = firstRow; row <= lastRow; ++row) {
            const int y = (row + 1) * m_rowHeight - verticalOffset() - 1;
            painter.drawLine(area.left(), y, area.right(), y);
        }
        for (int visual = firstVisual; visual <= lastVisual; ++visual) {
            const int column = m_header->logicalIndex(visual);
            const int x = m_header->sectionViewportPosition(column) + m_header->sectionSize(column) - 1;
            painter.drawLine(x, area.top(), x, (lastRow + 1) * m_rowHeight - verticalOffset() - 1);
        }
    }
}

void ListTableView::UpdateRowHeight() {
    // The height a cell of one text line asks for in this font and style.
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.features |= QStyleOptionViewItem::HasDisplay;
    option.text = QStringLiteral("0");
    const int height = style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).height();
    m_rowHeight = std::max({height, fontMetrics().height(), 1});
    updateGeometries();
    viewport()->update();
}

void ListTableView::changeEvent(QEvent* event) {
    QAbstractItemView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) UpdateRowHeight();
}

void ListTableView::setShowGrid(bool show) {
    if (m_showGrid == show) return;
    m_showGrid = show;
    viewport()->update();
}

void ListTableView::SetShowSelectionAlways(bool always) {
    QPalette p = palette();
    const QPalette base = QPalette();
    p.setColor(QPalette::Inactive, QPalette::Highlight,
               always ? base.color(QPalette::Active, QPalette::Highlight) : base.color(QPalette::Inactive,
                                                                                         QPalette::Highlight));
    p.setColor(QPalette::Inactive, QPalette::HighlightedText,
               always ? base.color(QPalette::Active, QPalette::HighlightedText)
                      : base.color(QPalette::Inactive, QPalette::HighlightedText));
    setPalette(p);
}

bool ListTableView::IsAtEnd() const { return verticalScrollBar()->value() >= verticalScrollBar()->maximum(); }

void ListTableView::SetFollowing(bool follow) {
    m_follow = follow;
    if (follow) verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void ListTableView::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    QAbstractItemView::keyPressEvent(event);
    const bool moves = key == Qt::Key_Home || key == Qt::Key_End || key == Qt::Key_PageUp ||
                       key == Qt::Key_PageDown || key == Qt::Key_Up || key == Qt::Key_Down;
    // The view makes the first row current, unselected, when it gets the
    // focus; a key that leads there moves nothing in the item view. As in a
    // list control, the key then selects that row and brings it into view.
    const QModelIndex current = currentIndex();
    if (moves && current.isValid() && selectionModel() && !selectionModel()->isRowSelected(current.row(), rootIndex())) {
        selectionModel()->select(current, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollTo(current);
    }
    switch (key) {
    case Qt::Key_End:
        SetFollowing(true);
        break;
    case Qt::Key_Home:
    case Qt::Key_Up:
    case Qt::Key_PageUp:
        m_follow = false;
        break;
    case Qt::Key_Down:
    case Qt::Key_PageDown:
        m_follow = IsAtEnd();
        break;
    default:
        break;
    }
}

void ListTableView::mousePressEvent(QMouseEvent* event) {
    m_afterDoubleClick = false;
    // A click on a row holds the view where it is, so that the row stays.
    if (indexAt(event->position().toPoint()).isValid()) m_follow = false;
    QAbstractItemView::mousePressEvent(event);
}

void ListTableView::mouseReleaseEvent(QMouseEvent* event) {
    QAbstractItemView::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton) return;
    if (m_afterDoubleClick) {
        m_afterDoubleClick = false;
        return;
    }
    if (m_onMouse) m_onMouse(NM_CLICK);
}

void ListTableView::mouseDoubleClickEvent(QMouseEvent* event) {
    QAbstractItemView::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton) return;
    m_afterDoubleClick = true;
    if (m_onMouse) m_onMouse(NM_DBLCLK);
}

}  // namespace win
