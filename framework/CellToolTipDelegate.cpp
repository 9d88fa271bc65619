// Tooltips for cut cells: see CellToolTipDelegate.h.
#include "framework/CellToolTipDelegate.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

#include "framework/FontScale.h"

namespace win {

bool CellToolTipDelegate::IsCut(const QWidget* view, const QModelIndex& index, int width) {
    const QString text = index.data(Qt::DisplayRole).toString();
    return !text.isEmpty() && FontScale::CellWidth(view, text) > width;
}

bool CellToolTipDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) {
    if (!event || !view || event->type() != QEvent::ToolTip) {
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
    if (!index.isValid() || !IsCut(view, index, option.rect.width())) {
        QToolTip::hideText();
        event->ignore();
        return false;
    }
    QToolTip::showText(event->globalPos(), index.data(Qt::DisplayRole).toString(), view, option.rect);
    return true;
}

}  // namespace win
