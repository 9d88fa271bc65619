// Tooltips for the list control's cut cells: when the pointer rests on a cell
// whose text its column cuts, the whole text shows as a tooltip; a cell that
// fits shows none. It watches the view's help events itself, so it works with
// whatever item view and delegate the list is drawn with.
#pragma once

#include <QObject>

class QAbstractItemView;
class QModelIndex;
class QWidget;

namespace win {

class CellToolTips : public QObject {
public:
    /// Watches view's viewport; owned by the view.
    explicit CellToolTips(QAbstractItemView* view);

    /// True when the display text of index does not fit into width in view.
    static bool IsCut(const QWidget* view, const QModelIndex& index, int width);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QAbstractItemView* m_view;
};

}  // namespace win
