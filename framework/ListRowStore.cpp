// The list control's row store: see ListRowStore.h.
#include "framework/ListRowStore.h"

#include <algorithm>

namespace win {

namespace {

// Rows reserved ahead so that a capture's first rows never move the vector.
constexpr std::size_t kReservedRows = 1 << 16;
constexpr std::size_t kMaxCellBytes = 0xFFFF;

}  // namespace

ListRowStore::ListRowStore(std::function<void()> wake) : m_wake(std::move(wake)) {
    m_rows.reserve(kReservedRows);
}

std::string_view ListRowStore::Cell(const std::string& cells, int column) {
    std::size_t pos = 0;
    for (int i = 0; pos + 2 <= cells.size(); ++i) {
        const std::size_t len = static_cast<unsigned char>(cells[pos]) |
                                (static_cast<std::size_t>(static_cast<unsigned char>(cells[pos + 1])) << 8);
        if (i == column) return std::string_view(cells).substr(pos + 2, len);
        pos += 2 + len;
    }
    return {};
}

void ListRowStore::PutCell(std::string& cells, int column, std::string_view text) {
    text = text.substr(0, std::min(text.size(), kMaxCellBytes));
    std::size_t pos = 0;
    int i = 0;
    for (; i < column; ++i) {
        if (pos + 2 > cells.size()) {
            // Columns before this one have no text yet: give them empty cells.
            cells.append(2, '\0');
        }
        const std::size_t len = static_cast<unsigned char>(cells[pos]) |
                                (static_cast<std::size_t>(static_cast<unsigned char>(cells[pos + 1])) << 8);
        pos += 2 + len;
    }
    std::size_t oldLen = 0;
    if (pos + 2 <= cells.size()) {
        oldLen = 2 + (static_cast<unsigned char>(cells[pos]) |
                      (static_cast<std::size_t>(static_cast<unsigned char>(cells[pos + 1])) << 8));
    }
    char head[2] = {static_cast<char>(text.size() & 0xFF), static_cast<char>(text.size() >> 8)};
    std::string packed(head, 2);
    packed.append(text);
    cells.replace(pos, oldLen, packed);
}

void ListRowStore::WakeLocked() {
    if (m_wakePosted || m_closed) return;
    m_wakePosted = true;
    if (m_wake) m_wake();
}

void ListRowStore::MarkChangedLocked(int row) {
    if (m_pending.firstChanged < 0 || row < m_pending.firstChanged) m_pending.firstChanged = row;
    m_pending.lastChanged = std::max(m_pending.lastChanged, row);
    WakeLocked();
}

int ListRowStore::InsertRow(int index, std::string_view text, LPARAM data) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || index < 0) return -1;
    Row row;
    row.data = data;
    PutCell(row.cells, 0, text);
    const int count = static_cast<int>(m_rows.size());
    if (index >= count) {
        index = count;
        m_rows.push_back(std::move(row));
    } else {
        // Rows in the middle shift the indexes the model knows: publish as a reset.
        m_rows.insert(m_rows.begin() + index, std::move(row));
        m_pending.reset = true;
    }
    m_pending.rowCount = static_cast<int>(m_rows.size());
    if (m_selected >= index && m_selected < count) ++m_selected;
    WakeLocked();
    return index;
}

bool ListRowStore::SetText(int row, int column, std::string_view text) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || row < 0 || row >= static_cast<int>(m_rows.size()) || column < 0 || column >= m_columns) {
        return false;
    }
    PutCell(m_rows[row].cells, column, text);
    MarkChangedLocked(row);
    return true;
}

bool ListRowStore::SetTextIf(int row, int column, std::string_view text, std::uint64_t generation) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || generation != m_generation || row < 0 || row >= static_cast<int>(m_rows.size()) ||
        column < 0 || column >= m_columns) {
        return false;
    }
    PutCell(m_rows[row].cells, column, text);
    MarkChangedLocked(row);
    return true;
}

bool ListRowStore::SetData(int row, LPARAM data) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || row < 0 || row >= static_cast<int>(m_rows.size())) return false;
    m_rows[row].data = data;
    return true;
}

LPARAM ListRowStore::GetData(int row) const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || row < 0 || row >= static_cast<int>(m_rows.size())) return 0;
    return m_rows[row].data;
}

bool ListRowStore::GetText(int row, int column, std::string& text) const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || row < 0 || row >= static_cast<int>(m_rows.size()) || column < 0 || column >= m_columns) {
        return false;
    }
    text.assign(Cell(m_rows[row].cells, column));
    return true;
}

bool ListRowStore::WithRow(int row, std::uint64_t generation, const std::function<void(LPARAM)>& f) const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || generation != m_generation || row < 0 || row >= static_cast<int>(m_rows.size())) return false;
    f(m_rows[row].data);
    return true;
}

int ListRowStore::GetCount() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_closed ? 0 : static_cast<int>(m_rows.size());
}

int ListRowStore::GetCount(std::uint64_t& generation) const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    generation = m_generation;
    return m_closed ? 0 : static_cast<int>(m_rows.size());
}

std::uint64_t ListRowStore::GetGeneration() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_generation;
}

bool ListRowStore::DeleteAll() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed) return false;
    // Swap into a fresh vector so the reservation survives and freeing is done once.
    std::vector<Row> fresh;
    fresh.reserve(kReservedRows);
    m_rows.swap(fresh);
    ++m_generation;
    m_selected = -1;
    m_pending.reset = true;
    m_pending.rowCount = 0;
    m_pending.firstChanged = m_pending.lastChanged = -1;
    m_pending.ensureVisible = -1;
    WakeLocked();
    return true;
}

bool ListRowStore::RequestEnsureVisible(int row, bool partialOK) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || row < 0 || row >= static_cast<int>(m_rows.size())) return false;
    m_pending.ensureVisible = row;
    m_pending.ensurePartialOK = partialOK;
    WakeLocked();
    return true;
}

int ListRowStore::GetColumnCount() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_columns;
}

int ListRowStore::InsertColumn(int index) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || index < 0) return -1;
    // Column 0 exists from the start (rows always have it); the first insertion fills it.
    if (m_columnsDeclared == 0) {
        m_columnsDeclared = 1;
        return 0;
    }
    index = std::min(index, m_columns);
    for (Row& row : m_rows) {
        std::string moved;
        const int cells = m_columns;
        std::vector<std::string> texts;
        for (int c = 0; c < cells; ++c) texts.emplace_back(Cell(row.cells, c));
        texts.insert(texts.begin() + index, std::string());
        for (int c = 0; c <= cells; ++c) PutCell(moved, c, texts[c]);
        row.cells.swap(moved);
    }
    ++m_columns;
    ++m_columnsDeclared;
    m_pending.reset = true;
    WakeLocked();
    return index;
}

int ListRowStore::GetSelected() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_closed ? -1 : m_selected;
}

void ListRowStore::SetSelected(int row) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_selected = (row >= 0 && row < static_cast<int>(m_rows.size())) ? row : -1;
}

ListRowStore::Pending ListRowStore::TakePending() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    Pending taken = m_pending;
    taken.rowCount = static_cast<int>(m_rows.size());
    m_pending = Pending{};
    m_wakePosted = false;
    return taken;
}

void ListRowStore::Close() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_closed = true;
    m_rows.clear();
    m_rows.shrink_to_fit();
}

bool ListRowStore::IsClosed() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_closed;
}

std::size_t ListRowStore::ApproximateBytes() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    std::size_t bytes = m_rows.capacity() * sizeof(Row);
    for (const Row& row : m_rows) {
        if (row.cells.capacity() > 15) bytes += row.cells.capacity() + 1;
    }
    return bytes;
}

}  // namespace win
