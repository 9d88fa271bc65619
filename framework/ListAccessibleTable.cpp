// The list control's table for assistive technology: counts, texts and
// selection from the view's model and selection model, cell interfaces kept
// by child position, and the events a screen reader follows.
#include "framework/ListAccessibleTable.h"

#include <QHeaderView>
#include <QItemSelectionModel>

#include "framework/ListAccessibleCell.h"
#include "framework/ListTableView.h"

namespace win {

namespace {

QAccessibleInterface* ListAccessibleFactory(const QString&, QObject* object) {
    if (auto* view = dynamic_cast<ListTableView*>(object)) return new ListAccessibleTable(view);
    return nullptr;
}

qint64 CellKey(int row, int column) { return (static_cast<qint64>(row) + 1) << 16 | column; }

}  // namespace

void ListAccessibleTable::Install() {
    static const bool installed = [] {
        QAccessible::installFactory(&ListAccessibleFactory);
        return true;
    }();
    (void)installed;
}

ListAccessibleTable::ListAccessibleTable(ListTableView* view) : QAccessibleWidget(view, QAccessible::Table) {
    Connect();
}

ListAccessibleTable::~ListAccessibleTable() {
    Disconnect();
    ForgetCells();
}

void ListAccessibleTable::ModelSet(ListTableView* view) {
    // Qt may have made the interface while the view was being built, on the
    // empty model every item view starts with.
    auto* table = dynamic_cast<ListAccessibleTable*>(QAccessible::queryAccessibleInterface(view));
    if (!table) return;
    table->Disconnect();
    table->ForgetCells();
    table->Connect();
    QAccessibleTableModelChangeEvent event(view, QAccessibleTableModelChangeEvent::ModelReset);
    QAccessible::updateAccessibility(&event);
}

void ListAccessibleTable::Disconnect() {
    for (const QMetaObject::Connection& connection : std::as_const(m_connections)) QObject::disconnect(connection);
    m_connections.clear();
}

ListTableView* ListAccessibleTable::View() const { return static_cast<ListTableView*>(widget()); }

void* ListAccessibleTable::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(type);
}

QAccessible::Role ListAccessibleTable::role() const { return QAccessible::Table; }

QAccessible::State ListAccessibleTable::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    state.focusable = true;
    return state;
}

int ListAccessibleTable::columnCount() const {
    const QAbstractItemModel* model = View()->model();
    return model ? model->columnCount() : 0;
}

int ListAccessibleTable::rowCount() const {
    const QAbstractItemModel* model = View()->model();
    return model ? model->rowCount() : 0;
}

int ListAccessibleTable::ChildIndex(int row, int column) const { return row * columnCount() + column; }

int ListAccessibleTable::childCount() const { return rowCount() * columnCount(); }

QAccessibleInterface* ListAccessibleTable::child(int index) const {
    const int columns = columnCount();
    if (index < 0 || columns == 0) return nullptr;
    return cellAt(index / columns, index % columns);
}

int ListAccessibleTable::indexOfChild(const QAccessibleInterface* child) const {
    const auto* cell = dynamic_cast<const ListAccessibleCell*>(child);
    if (!cell || !cell->isValid() || cell->rowIndex() < 0) return -1;
    return ChildIndex(cell->rowIndex(), cell->columnIndex());
}

QAccessibleInterface* ListAccessibleTable::childAt(int x, int y) const {
    ListTableView* view = View();
    const QPoint global(x, y);
    const QHeaderView* header = view->horizontalHeader();
    if (header->isVisible() && header->rect().contains(header->mapFromGlobal(global)))
        return HeaderCell(header->logicalIndexAt(header->viewport()->mapFromGlobal(global)));
    const QModelIndex index = view->indexAt(view->viewport()->mapFromGlobal(global));
    return index.isValid() ? cellAt(index.row(), index.column()) : nullptr;
}

QAccessibleInterface* ListAccessibleTable::focusChild() const {
    const QModelIndex current = View()->currentIndex();
    return current.isValid() ? cellAt(current.row(), current.column()) : nullptr;
}

QAccessibleInterface* ListAccessibleTable::cellAt(int row, int column) const {
    if (row < 0 || row >= rowCount()) return nullptr;
    return CachedCell(row, column);
}

QAccessibleInterface* ListAccessibleTable::HeaderCell(int column) const { return CachedCell(-1, column); }

QAccessibleInterface* ListAccessibleTable::CachedCell(int row, int column) const {
    if (row < -1 || row >= rowCount() || column < 0 || column >= columnCount()) return nullptr;
    const qint64 key = CellKey(row, column);
    if (auto found = m_cells.constFind(key); found != m_cells.constEnd())
        if (QAccessibleInterface* cell = QAccessible::accessibleInterface(found.value())) return cell;
    auto* cell = new ListAccessibleCell(View(), row, column);
    m_cells.insert(key, QAccessible::registerAccessibleInterface(cell));
    return cell;
}

void ListAccessibleTable::ForgetCells() {
    const QHash<qint64, QAccessible::Id> cells = std::exchange(m_cells, {});
    for (QAccessible::Id id : cells) QAccessible::deleteAccessibleInterface(id);
}

int ListAccessibleTable::selectedCellCount() const {
    const QItemSelectionModel* selection = View()->selectionModel();
    return selection ? static_cast<int>(selection->selectedIndexes().size()) : 0;
}

QList<QAccessibleInterface*> ListAccessibleTable::selectedCells() const {
    QList<QAccessibleInterface*> cells;
    if (const QItemSelectionModel* selection = View()->selectionModel())
        for (const QModelIndex& index : selection->selectedIndexes())
            if (QAccessibleInterface* cell = cellAt(index.row(), index.column())) cells.append(cell);
    return cells;
}

QString ListAccessibleTable::columnDescription(int column) const {
    const QAbstractItemModel* model = View()->model();
    return model ? model->headerData(column, Qt::Horizontal, Qt::DisplayRole).toString() : QString();
}

int ListAccessibleTable::selectedRowCount() const { return static_cast<int>(selectedRows().size()); }

QList<int> ListAccessibleTable::selectedRows() const {
    QList<int> rows;
    if (const QItemSelectionModel* selection = View()->selectionModel())
        for (const QModelIndex& index : selection->selectedRows()) rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool ListAccessibleTable::isRowSelected(int row) const {
    const QItemSelectionModel* selection = View()->selectionModel();
    return selection && row >= 0 && row < rowCount() && selection->isRowSelected(row, QModelIndex());
}

bool ListAccessibleTable::selectRow(int row) {
    QItemSelectionModel* selection = View()->selectionModel();
    if (!selection || row < 0 || row >= rowCount()) return false;
    // The list selects one row at a time.
    selection->select(View()->model()->index(row, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    return true;
}

bool ListAccessibleTable::unselectRow(int row) {
    QItemSelectionModel* selection = View()->selectionModel();
    if (!selection || row < 0 || row >= rowCount()) return false;
    selection->select(View()->model()->index(row, 0), QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    return true;
}

void ListAccessibleTable::modelChange(QAccessibleTableModelChangeEvent* event) {
    // Rows added at the end leave every cell where it was; any other change
    // may move cells to other rows, so their interfaces go.
    if (event->modelChangeType() == QAccessibleTableModelChangeEvent::RowsInserted &&
        event->lastRow() == rowCount() - 1)
        return;
    ForgetCells();
}

void ListAccessibleTable::SendItemEvent(QAccessible::Event type, int row, int column) {
    QAccessibleEvent event(View(), type);
    event.setChild(ChildIndex(row, column));
    QAccessible::updateAccessibility(&event);
}

void ListAccessibleTable::Connect() {
    ListTableView* view = View();
    QAbstractItemModel* model = view->model();
    QItemSelectionModel* selection = view->selectionModel();
    if (!model || !selection) return;

    m_connections << QObject::connect(selection, &QItemSelectionModel::currentChanged, view,
                                      [this](const QModelIndex& current) {
                                          if (current.isValid() && View()->hasFocus())
                                              SendItemEvent(QAccessible::Focus, current.row(), current.column());
                                      });
    m_connections << QObject::connect(
        selection, &QItemSelectionModel::selectionChanged, view,
        [this](const QItemSelection& selected, const QItemSelection& deselected) {
            for (const QModelIndex& index : deselected.indexes())
                SendItemEvent(QAccessible::SelectionRemove, index.row(), index.column());
            for (const QModelIndex& index : selected.indexes())
                SendItemEvent(QAccessible::SelectionAdd, index.row(), index.column());
        });

    // The cache is kept right even while no assistive technology listens (the
    // event then reaches no modelChange); the event itself goes out as well.
    auto changed = [this](QAccessibleTableModelChangeEvent::ModelChangeType type, int first, int last) {
        QAccessibleTableModelChangeEvent event(View(), type);
        event.setFirstRow(first);
        event.setLastRow(last);
        modelChange(&event);
        QAccessible::updateAccessibility(&event);
    };
    m_connections << QObject::connect(model, &QAbstractItemModel::rowsInserted, view,
                                      [changed](const QModelIndex&, int first, int last) {
                                          changed(QAccessibleTableModelChangeEvent::RowsInserted, first, last);
                                      });
    m_connections << QObject::connect(model, &QAbstractItemModel::rowsRemoved, view,
                                      [changed](const QModelIndex&, int first, int last) {
                                          changed(QAccessibleTableModelChangeEvent::RowsRemoved, first, last);
                                      });
    m_connections << QObject::connect(model, &QAbstractItemModel::modelReset, view,
                                      [changed] { changed(QAccessibleTableModelChangeEvent::ModelReset, -1, -1); });
    m_connections << QObject::connect(model, &QAbstractItemModel::columnsInserted, view, [changed] {
        changed(QAccessibleTableModelChangeEvent::ColumnsInserted, -1, -1);
    });
    m_connections << QObject::connect(model, &QAbstractItemModel::layoutChanged, view,
                                      [changed] { changed(QAccessibleTableModelChangeEvent::ModelReset, -1, -1); });
}

}  // namespace win
