// The list control's widget: see ListTableView.h.
#include "framework/ListTableView.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPalette>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <algorithm>

#include "framework/ListCellDelegate.h"
#include "framework/WinUser.h"

namespace win {

ListTableView::ListTableView(QWidget* parent) : QTableView(parent) {
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setItemDelegate(new ListCellDelegate(this));
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setStretchLastSection(false);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    UpdateRowHeight();
}

void ListTableView::setModel(QAbstractItemModel* model) {
    QTableView::setModel(model);
    // QTableView relays out and repaints the whole viewport whenever the row
    // count changes. Rows are appended far more often than anything else
    // happens, so growth takes the cheap path below instead.
    QObject::disconnect(verticalHeader(), &QHeaderView::sectionCountChanged, this, nullptr);
    QObject::connect(verticalHeader(), &QHeaderView::sectionCountChanged, this,
                     [this](int oldCount, int newCount) { OnRowCountChanged(oldCount, newCount); });
}

void ListTableView::OnRowCountChanged(int oldCount, int newCount) {
    if (newCount < oldCount || oldCount == 0) {
        QTableView::rowCountChanged(oldCount, newCount);
        return;
    }
    // The scroll bar's range follows the row count; of the viewport only the
    // part where the new rows lie may change.
    updateGeometries();
    UpdateRows(oldCount, newCount - 1);
}

void ListTableView::VisibleRows(int& first, int& last) const {
    first = last = -1;
    const int count = model() ? model()->rowCount() : 0;
    if (count == 0) return;
    const int top = rowAt(0);
    if (top < 0) return;
    const int bottom = rowAt(viewport()->height() - 1);
    first = top;
    last = bottom < 0 ? count - 1 : bottom;
}

void ListTableView::UpdateRows(int first, int last) {
    int top = 0;
    int bottom = 0;
    VisibleRows(top, bottom);
    if (top < 0) {
        // Nothing shown yet: rows appended to an empty or short list may fill
        // the space below the last row.
        viewport()->update();
        return;
    }
    // Rows below the last one in view are not drawn until they scroll in.
    first = std::max(first, top);
    last = std::min(last, bottom);
    if (last < first) return;
    const int y = rowViewportPosition(first);
    viewport()->update(QRect(0, y, viewport()->width(), rowViewportPosition(last) + rowHeight(last) - y));
}

void ListTableView::UpdateRowHeight() {
    // The height a cell of one text line asks for in this font and style.
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.features |= QStyleOptionViewItem::HasDisplay;
    option.text = QStringLiteral("0");
    const int height = style()->sizeFromContents(QStyle::CT_ItemViewItem, &option, QSize(), this).height();
    const int rowHeight = std::max(height, fontMetrics().height());
    verticalHeader()->setMinimumSectionSize(rowHeight);
    verticalHeader()->setDefaultSectionSize(rowHeight);
}

void ListTableView::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) UpdateRowHeight();
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

void ListTableView::mousePressEvent(QMouseEvent* event) {
    m_afterDoubleClick = false;
    QTableView::mousePressEvent(event);
}

void ListTableView::mouseReleaseEvent(QMouseEvent* event) {
    QTableView::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton) return;
    if (m_afterDoubleClick) {
        m_afterDoubleClick = false;
        return;
    }
    if (m_onMouse) m_onMouse(NM_CLICK);
}

void ListTableView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton) return;
    m_afterDoubleClick = true;
    if (m_onMouse) m_onMouse(NM_DBLCLK);
}

}  // namespace win
