// The list view's record of painted cells: see ListPaintedCells.h.
#include "framework/ListPaintedCells.h"

#include <algorithm>
#include <cstdlib>

namespace win {

std::ptrdiff_t ListPaintedCells::Index(int slot, int column) const {
    if (slot < 0 || slot >= m_slots || column < 0 || column >= m_columns) return -1;
    return static_cast<std::ptrdiff_t>(slot) * m_columns + column;
}

void ListPaintedCells::Resize(int slotCount, int columns) {
    if (slotCount == m_slots && columns == m_columns) return;
    m_slots = std::max(slotCount, 0);
    m_columns = std::max(columns, 0);
    m_cells.assign(static_cast<std::size_t>(m_slots) * static_cast<std::size_t>(m_columns), Cell{});
}

void ListPaintedCells::Clear() {
    for (Cell& cell : m_cells) cell.known = false;
}

void ListPaintedCells::Shift(int rows) {
    if (rows == 0) return;
    if (std::abs(rows) >= m_slots) {
        Clear();
        return;
    }
    const auto offset = static_cast<std::ptrdiff_t>(std::abs(rows)) * m_columns;
    if (rows > 0) {
        // Down: the last slots drop out, the first ones come in.
        std::move_backward(m_cells.begin(), m_cells.end() - offset, m_cells.end());
        std::for_each(m_cells.begin(), m_cells.begin() + offset, [](Cell& cell) { cell.known = false; });
    } else {
        std::move(m_cells.begin() + offset, m_cells.end(), m_cells.begin());
        std::for_each(m_cells.end() - offset, m_cells.end(), [](Cell& cell) { cell.known = false; });
    }
}

void ListPaintedCells::Record(int slot, int column, const QString& text, int state) {
    const std::ptrdiff_t index = Index(slot, column);
    if (index < 0) return;
    Cell& cell = m_cells[static_cast<std::size_t>(index)];
    cell.text = text;
    cell.state = state;
    cell.known = true;
}

void ListPaintedCells::Forget(int slot, int column) {
    const std::ptrdiff_t index = Index(slot, column);
    if (index >= 0) m_cells[static_cast<std::size_t>(index)].known = false;
}

bool ListPaintedCells::Shows(int slot, int column, const QString& text, int state) const {
    return Knows(slot, column, state) && m_cells[static_cast<std::size_t>(Index(slot, column))].text == text;
}

bool ListPaintedCells::Knows(int slot, int column, int state) const {
    const std::ptrdiff_t index = Index(slot, column);
    if (index < 0) return false;
    const Cell& cell = m_cells[static_cast<std::size_t>(index)];
    return cell.known && cell.state == state;
}

}  // namespace win
