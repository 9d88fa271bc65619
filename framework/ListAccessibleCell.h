// One cell of a list control as assistive technology sees it, or, with row
// -1, the header of a column. It holds the view, the row and the column only
// and reads the text and state afresh at each question, so it never shows a
// stale text; it is invalid once its row or column is gone. Made and kept by
// ListAccessibleTable.
#pragma once

#include <QAccessibleInterface>
#include <QPointer>

namespace win {

class ListTableView;

class ListAccessibleCell : public QAccessibleInterface, public QAccessibleTableCellInterface {
public:
    /// row -1: the column's header.
    ListAccessibleCell(ListTableView* view, int row, int column);

    // QAccessibleInterface
    void* interface_cast(QAccessible::InterfaceType type) override;
    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override;
    QAccessible::Role role() const override;
    QAccessible::State state() const override;

    // QAccessibleTableCellInterface (cells only, not headers)
    bool isSelected() const override;
    QList<QAccessibleInterface*> columnHeaderCells() const override;
    QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return m_column; }
    int rowIndex() const override { return m_row; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface* table() const override { return parent(); }

private:
    bool IsHeader() const { return m_row < 0; }

    QPointer<ListTableView> m_view;
    const int m_row;
    const int m_column;
};

}  // namespace win
