// What a list view last painted in each cell of its viewport: the text and the
// state it was painted in, by slot (the row's place counted from the top of
// the view) and column. When the view scrolls by whole rows, comparing what
// each slot is to show with what it shows finds the cells to repaint: in a
// flood of rows of one flow, a column or two instead of the whole view.
//
// A cell is known only once it has been painted whole; scrolling the pixels
// moves what is known with them, and anything else forgets it.
#pragma once

#include <QString>
#include <cstddef>
#include <vector>

namespace win {

class ListPaintedCells {
public:
    /// The state recorded for the cells of a slot with no row (background only).
    static constexpr int kNoRow = -1;

    int Slots() const { return m_slots; }
    int Columns() const { return m_columns; }
    /// Sizes the grid; a change of size forgets every cell.
    void Resize(int slotCount, int columns);
    void Clear();
    /// The pixels moved down by rows slots (up when negative): a slot now
    /// shows what the one rows above it showed; slots scrolled in are unknown.
    void Shift(int rows);
    void Record(int slot, int column, const QString& text, int state);
    void Forget(int slot, int column);
    /// True when the cell is known to show text in state.
    bool Shows(int slot, int column, const QString& text, int state) const;
    /// True when the cell is known to show some text in state.
    bool Knows(int slot, int column, int state) const;

private:
    struct Cell {
        QString text;
        int state = 0;
        bool known = false;
    };
    /// Where the cell is in m_cells, -1 outside the grid.
    std::ptrdiff_t Index(int slot, int column) const;

    std::vector<Cell> m_cells;  // slot after slot, m_columns cells each
    int m_slots = 0;
    int m_columns = 0;
};

}  // namespace win
