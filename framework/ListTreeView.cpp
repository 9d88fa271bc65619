// The list control's widget: see ListTreeView.h.
#include "framework/ListTreeView.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QPalette>

#include "framework/WinUser.h"

namespace win {

ListTreeView::ListTreeView(QWidget* parent) : QTreeView(parent) {
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    header()->setStretchLastSection(false);
    header()->setSectionsMovable(false);
    header()->setSectionsClickable(false);
}

void ListTreeView::SetShowSelectionAlways(bool always) {
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

void ListTreeView::mousePressEvent(QMouseEvent* event) {
    m_afterDoubleClick = false;
    QTreeView::mousePressEvent(event);
}

void ListTreeView::mouseReleaseEvent(QMouseEvent* event) {
    QTreeView::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton) return;
    if (m_afterDoubleClick) {
        m_afterDoubleClick = false;
        return;
    }
    if (m_onMouse) m_onMouse(NM_CLICK);
}

void ListTreeView::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton) return;
    m_afterDoubleClick = true;
    if (m_onMouse) m_onMouse(NM_DBLCLK);
}

}  // namespace win
