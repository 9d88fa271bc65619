// The item delegate of the list control: draws cells as the styled delegate
// does and, when the pointer rests on a cell whose text the column cuts,
// shows the whole text as a tooltip. It works on the view's help events, so
// it serves any item view the list control is built on.
#pragma once

#include <QStyledItemDelegate>

namespace win {

class CellToolTipDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    /// True when the display text of index does not fit into width in view.
    static bool IsCut(const QWidget* view, const QModelIndex& index, int width);

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};

}  // namespace win
