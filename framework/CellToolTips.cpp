// Tooltips for cut cells: see CellToolTips.h.
#include "framework/CellToolTips.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

#include "framework/FontScale.h"

namespace win {

CellToolTips::CellToolTips(QAbstractItemView* view) : QObject(view), m_view(view) {
    view->viewport()->installEventFilter(this);
}

bool CellToolTips::IsCut(const QWidget* view, const QModelIndex& index, int width) {
    const QString text = index.data(Qt::DisplayRole).toString();
    return !text.isEmpty() && FontScale::CellWidth(view, text) > width;
}

bool CellToolTips::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::ToolTip || watched != m_view->viewport()) return false;
    auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = m_view->indexAt(help->pos());
    const QRect cell = index.isValid() ? m_view->visualRect(index) : QRect();
    if (!index.isValid() || !IsCut(m_view, index, cell.width())) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    QToolTip::showText(help->globalPos(), index.data(Qt::DisplayRole).toString(), m_view->viewport(), cell);
    return true;
}

}  // namespace win
