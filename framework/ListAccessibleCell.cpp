// A list cell or column header for assistive technology: texts, place and
// state read from the view at each question.
#include "framework/ListAccessibleCell.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QWidget>

#include "framework/ListAccessibleTable.h"
#include "framework/ListTableView.h"

namespace win {

ListAccessibleCell::ListAccessibleCell(ListTableView* view, int row, int column)
    : m_view(view), m_row(row), m_column(column) {}

void* ListAccessibleCell::interface_cast(QAccessible::InterfaceType type) {
    if (type != QAccessible::TableCellInterface || IsHeader()) return nullptr;
    return static_cast<QAccessibleTableCellInterface*>(this);
}

bool ListAccessibleCell::isValid() const {
    if (!m_view || !m_view->model()) return false;
    const QAbstractItemModel* model = m_view->model();
    return m_column >= 0 && m_column < model->columnCount() && m_row < model->rowCount();
}

QWindow* ListAccessibleCell::window() const {
    return m_view ? m_view->window()->windowHandle() : nullptr;
}

QAccessibleInterface* ListAccessibleCell::parent() const {
    return m_view ? QAccessible::queryAccessibleInterface(m_view.data()) : nullptr;
}

QString ListAccessibleCell::text(QAccessible::Text t) const {
    if (t != QAccessible::Name || !isValid()) return {};
    const QAbstractItemModel* model = m_view->model();
    if (IsHeader()) return model->headerData(m_column, Qt::Horizontal, Qt::DisplayRole).toString();
    return model->data(model->index(m_row, m_column), Qt::DisplayRole).toString();
}

QRect ListAccessibleCell::rect() const {
    if (!isValid()) return {};
    if (IsHeader()) {
        const QHeaderView* header = m_view->horizontalHeader();
        const QRect section(header->sectionViewportPosition(m_column), 0, header->sectionSize(m_column),
                            header->height());
        return QRect(header->viewport()->mapToGlobal(section.topLeft()), section.size());
    }
    const QRect cell = m_view->visualRect(m_view->model()->index(m_row, m_column));
    if (cell.isNull()) return {};
    return QRect(m_view->viewport()->mapToGlobal(cell.topLeft()), cell.size());
}

QAccessible::Role ListAccessibleCell::role() const {
    return IsHeader() ? QAccessible::ColumnHeader : QAccessible::Cell;
}

QAccessible::State ListAccessibleCell::state() const {
    QAccessible::State state;
    if (!isValid()) {
        state.invalid = true;
        return state;
    }
    if (IsHeader()) return state;
    const QModelIndex index = m_view->model()->index(m_row, m_column);
    const QRect cell = m_view->visualRect(index);
    if (!cell.intersects(m_view->viewport()->rect())) {
        state.invisible = true;
        state.offscreen = true;
    }
    state.selectable = true;
    state.focusable = true;
    state.selected = isSelected();
    const QModelIndex current = m_view->currentIndex();
    state.focused = current.isValid() && current.row() == m_row && m_view->hasFocus();
    return state;
}

bool ListAccessibleCell::isSelected() const {
    if (!isValid() || IsHeader() || !m_view->selectionModel()) return false;
    return m_view->selectionModel()->isSelected(m_view->model()->index(m_row, m_column));
}

QList<QAccessibleInterface*> ListAccessibleCell::columnHeaderCells() const {
    auto* table = m_view ? dynamic_cast<ListAccessibleTable*>(parent()) : nullptr;
    QAccessibleInterface* header = table ? table->HeaderCell(m_column) : nullptr;
    return header ? QList<QAccessibleInterface*>{header} : QList<QAccessibleInterface*>{};
}

}  // namespace win
