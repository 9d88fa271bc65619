// What assistive technology sees of a list control: a table with its rows,
// cells and column headers, as Qt's own table view offers it. The list's view
// is drawn by us (see ListTableView), so Qt would show it as one opaque area;
// this interface, installed with QAccessible::installFactory, gives screen
// readers the table. It reads the list only through the view's public item
// view operations: the model's row and column counts, cell and header texts,
// the selection model and the current index.
//
// Children are the cells, row by row: child i is the cell of row i / columns
// and column i % columns, the numbering the AT-SPI bridge assumes when a
// screen reader asks for a child's row and column (with the header cells
// first among the children, every row read that way came out one too high).
// Column headers are reached from the table (columnDescription) and from
// each cell (columnHeaderCells). Cell interfaces are made on demand,
// registered with QAccessible (which gives them their ids) and kept until the
// rows they stand for change; modelChange drops them then.
//
// Events: while the interface exists (an assistive technology has asked for
// it), moving the current row sends Focus for its first cell while the view
// has the focus, and selection changes send SelectionAdd and SelectionRemove;
// row insertions, removals and resets go out as table model changes. The
// connections end with the interface, which QAccessible deletes with the view,
// and move to the new model when the view takes another one.
#pragma once

#include <QAccessibleWidget>
#include <QHash>
#include <QList>
#include <QMetaObject>

namespace win {

class ListTableView;

class ListAccessibleTable : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit ListAccessibleTable(ListTableView* view);
    ~ListAccessibleTable() override;

    /// Installs the factory that gives every ListTableView this interface; once is enough.
    static void Install();
    /// The view calls it after it took a model (and with it a selection
    /// model): the interface, if one exists, follows the new ones.
    static void ModelSet(ListTableView* view);

    // QAccessibleInterface
    void* interface_cast(QAccessible::InterfaceType type) override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;
    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

    // QAccessibleTableInterface
    QAccessibleInterface* caption() const override { return nullptr; }
    QAccessibleInterface* summary() const override { return nullptr; }
    QAccessibleInterface* cellAt(int row, int column) const override;
    int selectedCellCount() const override;
    QList<QAccessibleInterface*> selectedCells() const override;
    QString columnDescription(int column) const override;
    QString rowDescription(int) const override { return {}; }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override;
    int columnCount() const override;
    int rowCount() const override;
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override;
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int row) const override;
    bool selectRow(int row) override;
    bool selectColumn(int) override { return false; }
    bool unselectRow(int row) override;
    bool unselectColumn(int) override { return false; }
    void modelChange(QAccessibleTableModelChangeEvent* event) override;

    /// The header cell of a column (the row of headers), null outside the columns.
    QAccessibleInterface* HeaderCell(int column) const;
    /// The child index of a cell.
    int ChildIndex(int row, int column) const;

private:
    ListTableView* View() const;
    QAccessibleInterface* CachedCell(int row, int column) const;
    void ForgetCells();
    void Connect();
    void Disconnect();
    void SendItemEvent(QAccessible::Event type, int row, int column);

    mutable QHash<qint64, QAccessible::Id> m_cells;
    QList<QMetaObject::Connection> m_connections;
};

}  // namespace win
