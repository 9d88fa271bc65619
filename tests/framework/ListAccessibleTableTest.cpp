// The list's table as assistive technology reads it: counts, cell and header
// texts, the order of children, where cells lie, selection and the current
// row, and cells that follow the rows when the list is cleared, also when the
// view takes its model after Qt made the interface.
#include "framework/ListAccessibleTable.h"

#include <QAccessible>
#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QStandardItemModel>
#include <gtest/gtest.h>

#include <vector>

#include "framework/ListTableView.h"

namespace win {
namespace {

class ListAccessibleTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        model.setHorizontalHeaderLabels({"Time", "Source", "Protocol"});
        AddRow({"12:00:01:001", "127.0.0.1", "UDP"});
        AddRow({"12:00:01:002", "10.0.0.2", "TCP"});
        AddRow({"12:00:01:003", "192.168.1.1", "ICMP"});
        view.setModel(&model);
        view.resize(400, 200);
        view.show();
        QApplication::processEvents();
        table = QAccessible::queryAccessibleInterface(&view);
    }

    void AddRow(const QStringList& texts) {
        QList<QStandardItem*> items;
        for (const QString& text : texts) items.append(new QStandardItem(text));
        model.appendRow(items);
    }
    QString Name(QAccessibleInterface* cell) const { return cell ? cell->text(QAccessible::Name) : "(none)"; }

    QStandardItemModel model;
    ListTableView view;
    QAccessibleInterface* table = nullptr;
};

TEST_F(ListAccessibleTableTest, IsATableWithRowsCellsAndColumnHeaders) {
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->role(), QAccessible::Table);
    QAccessibleTableInterface* t = table->tableInterface();
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->rowCount(), 3);
    EXPECT_EQ(t->columnCount(), 3);
    EXPECT_EQ(Name(t->cellAt(1, 1)), "10.0.0.2");
    EXPECT_EQ(Name(t->cellAt(2, 2)), "ICMP");
    EXPECT_EQ(t->cellAt(3, 0), nullptr);
    EXPECT_EQ(t->cellAt(0, 3), nullptr);
    EXPECT_EQ(t->columnDescription(2), "Protocol");

    QAccessibleInterface* cell = t->cellAt(2, 1);
    ASSERT_NE(cell->tableCellInterface(), nullptr);
    EXPECT_EQ(cell->role(), QAccessible::Cell);
    EXPECT_EQ(cell->tableCellInterface()->rowIndex(), 2);
    EXPECT_EQ(cell->tableCellInterface()->columnIndex(), 1);
    EXPECT_EQ(cell->parent(), table);
    const QList<QAccessibleInterface*> headers = cell->tableCellInterface()->columnHeaderCells();
    ASSERT_EQ(headers.size(), 1);
    EXPECT_EQ(headers[0]->role(), QAccessible::ColumnHeader);
    EXPECT_EQ(Name(headers[0]), "Source");
    // Asking twice gives the same object, so a screen reader's references stay good.
    EXPECT_EQ(t->cellAt(2, 1), cell);
}

TEST_F(ListAccessibleTableTest, ChildrenAreTheCellsRowByRow) {
    ASSERT_EQ(table->childCount(), 3 * 3);
    std::vector<QString> names;
    for (int i = 0; i < table->childCount(); ++i) names.push_back(Name(table->child(i)));
    const std::vector<QString> expected = {"12:00:01:001", "127.0.0.1",   "UDP",  "12:00:01:002", "10.0.0.2",
                                           "TCP",          "12:00:01:003", "192.168.1.1", "ICMP"};
    EXPECT_EQ(names, expected);
    for (int i = 0; i < table->childCount(); ++i) {
        EXPECT_EQ(table->indexOfChild(table->child(i)), i);
        // Row and column follow from the index alone, as the accessibility bus reckons them.
        QAccessibleTableCellInterface* cell = table->child(i)->tableCellInterface();
        EXPECT_EQ(cell->rowIndex(), i / 3);
        EXPECT_EQ(cell->columnIndex(), i % 3);
    }
    EXPECT_EQ(table->child(9), nullptr);
    // Headers are no children; they are reached from the cells.
    EXPECT_EQ(table->indexOfChild(table->tableInterface()->cellAt(0, 0)->tableCellInterface()->columnHeaderCells()[0]),
              -1);
}

TEST_F(ListAccessibleTableTest, CellsLieWhereTheViewDrawsThem) {
    QAccessibleInterface* cell = table->tableInterface()->cellAt(1, 2);
    const QRect r = cell->rect();
    ASSERT_FALSE(r.isEmpty());
    EXPECT_EQ(table->childAt(r.center().x(), r.center().y()), cell);
    QAccessibleInterface* header = cell->tableCellInterface()->columnHeaderCells()[0];
    EXPECT_EQ(Name(header), "Protocol");
    const QRect h = header->rect();
    ASSERT_FALSE(h.isEmpty());
    EXPECT_LT(h.bottom(), r.top());
    EXPECT_EQ(table->childAt(h.center().x(), h.center().y()), header);
}

TEST_F(ListAccessibleTableTest, SelectionIsReadAndSetThroughTheTable) {
    QAccessibleTableInterface* t = table->tableInterface();
    EXPECT_EQ(t->selectedRowCount(), 0);
    view.selectionModel()->select(model.index(1, 0), QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_TRUE(t->isRowSelected(1));
    EXPECT_EQ(t->selectedRows(), QList<int>{1});
    EXPECT_EQ(t->selectedCellCount(), 3);
    EXPECT_TRUE(t->cellAt(1, 2)->tableCellInterface()->isSelected());
    EXPECT_TRUE(t->cellAt(1, 2)->state().selected);
    EXPECT_FALSE(t->cellAt(0, 2)->state().selected);

    EXPECT_TRUE(t->selectRow(2));
    EXPECT_EQ(t->selectedRows(), QList<int>{2});
    EXPECT_TRUE(t->unselectRow(2));
    EXPECT_EQ(t->selectedRowCount(), 0);
    EXPECT_FALSE(t->selectRow(3));
}

// The events themselves go out only while a screen reader listens; the
// desktop test reads them through the accessibility bus.
TEST_F(ListAccessibleTableTest, TheCurrentRowIsTheFocusChild) {
    view.selectionModel()->setCurrentIndex(model.index(2, 0),
                                           QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    EXPECT_EQ(table->focusChild(), table->tableInterface()->cellAt(2, 0));
    EXPECT_EQ(table->tableInterface()->cellAt(2, 0)->state().focused, view.hasFocus());
    EXPECT_TRUE(table->tableInterface()->cellAt(2, 1)->state().selected);
}

TEST_F(ListAccessibleTableTest, ClearedRowsLeaveNoStaleCells) {
    QAccessibleInterface* old = table->tableInterface()->cellAt(0, 1);
    ASSERT_NE(old, nullptr);
    const QAccessible::Id oldId = QAccessible::uniqueId(old);
    model.removeRows(0, model.rowCount());
    AddRow({"12:00:02:000", "172.16.0.9", "UDP"});
    EXPECT_EQ(QAccessible::accessibleInterface(oldId), nullptr);
    EXPECT_EQ(table->tableInterface()->rowCount(), 1);
    EXPECT_EQ(Name(table->tableInterface()->cellAt(0, 1)), "172.16.0.9");
}

TEST(ListAccessibleTable, FollowsAModelSetAfterTheInterfaceWasMade) {
    ListTableView view;
    QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&view);
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->tableInterface()->rowCount(), 0);
    QStandardItemModel model(0, 2);
    model.setHorizontalHeaderLabels({"Time", "Size"});
    view.setModel(&model);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&view), table);
    model.appendRow({new QStandardItem("a"), new QStandardItem("40")});
    EXPECT_EQ(table->tableInterface()->rowCount(), 1);
    QAccessibleInterface* cell = table->tableInterface()->cellAt(0, 1);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(cell->text(QAccessible::Name), "40");
    // The new model's signals reach the interface: a clear drops the cell.
    const QAccessible::Id id = QAccessible::uniqueId(cell);
    model.removeRows(0, 1);
    EXPECT_EQ(QAccessible::accessibleInterface(id), nullptr);
}

TEST_F(ListAccessibleTableTest, RowsAppendedKeepTheCellsAlreadyHanded) {
    QAccessibleInterface* kept = table->tableInterface()->cellAt(1, 1);
    AddRow({"12:00:01:004", "10.0.0.4", "UDP"});
    EXPECT_EQ(table->tableInterface()->cellAt(1, 1), kept);
    EXPECT_EQ(Name(table->tableInterface()->cellAt(3, 1)), "10.0.0.4");
    EXPECT_EQ(table->childCount(), 4 * 3);
}

}  // namespace
}  // namespace win
