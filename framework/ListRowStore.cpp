// The list control's row store: see ListRowStore.h.
#include "framework/ListRowStore.h"

#include <algorithm>
#include <new>

namespace win {

ListRowStore::ListRowStore(std::function<void()> wake) : m_wake(std::move(wake)) {}

void ListRowStore::WakeLocked() {
    m_changed = true;
    if (m_wakePosted || m_closed) return;
    m_wakePosted = true;
    try {
        if (m_wake) m_wake();
    } catch (const std::bad_alloc&) {
        // The post failed: the next change posts again.
        m_wakePosted = false;
    }
}

void ListRowStore::MarkChangedLocked(int row) {
    if (m_pending.firstChanged < 0 || row < m_pending.firstChanged) m_pending.firstChanged = row;
    m_pending.lastChanged = std::max(m_pending.lastChanged, row);
    WakeLocked();
}

int ListRowStore::InsertRow(int index, std::string_view text, LPARAM data) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || index < 0) return -1;
    const int count = m_rows.GetCount();
    index = std::min(index, count);
    try {
        m_rows.Insert(index, text, data);
    } catch (const std::bad_alloc&) {
        // Out of memory: the row is not added, as if the list were full.
        return -1;
    }
    // Rows in the middle shift the indexes the model knows: publish as a reset.
    if (index < count) m_pending.reset = true;
    m_pending.rowCount = m_rows.GetCount();
    if (m_selected >= index && m_selected < count) ++m_selected;
    WakeLocked();
    return index;
}

bool ListRowStore::SetText(int row, int column, std::string_view text) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || row < 0 || row >= m_rows.GetCount() || column < 0 || column >= m_columns) {
        return false;
    }
    return PutTextLocked(row, column, text);
}

bool ListRowStore::SetTextIf(int row, int column, std::string_view text, std::uint64_t generation) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || generation != m_generation || row < 0 || row >= m_rows.GetCount() || column < 0 ||
        column >= m_columns) {
        return false;
    }
    return PutTextLocked(row, column, text);
}

bool ListRowStore::PutTextLocked(int row, int column, std::string_view text) {
    try {
        m_rows.SetText(row, column, text);
    } catch (const std::bad_alloc&) {
        return false;  // the cell keeps its text
    }
    MarkChangedLocked(row);
    return true;
}

bool ListRowStore::SetData(int row, LPARAM data) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || row < 0 || row >= m_rows.GetCount()) return false;
    m_rows.SetData(row, data);
    return true;
}

LPARAM ListRowStore::GetData(int row) const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || row < 0 || row >= m_rows.GetCount()) return 0;
    return m_rows.GetData(row);
}

void ListRowStore::CopyData(int first, int count, std::vector<LPARAM>& out) const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || first < 0) return;
    const int end = std::min(m_rows.GetCount(), first + std::max(count, 0));
    for (int row = first; row < end; ++row) out.push_back(m_rows.GetData(row));
}

bool ListRowStore::GetText(int row, int column, std::string& text) const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || row < 0 || row >= m_rows.GetCount() || column < 0 || column >= m_columns) {
        return false;
    }
    try {
        m_rows.GetText(row, column, text);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool ListRowStore::WithRow(int row, std::uint64_t generation, const std::function<void(LPARAM)>& f) const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed || generation != m_generation || row < 0 || row >= m_rows.GetCount()) return false;
    f(m_rows.GetData(row));
    return true;
}

int ListRowStore::GetCount() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_closed ? 0 : m_rows.GetCount();
}

int ListRowStore::GetCount(std::uint64_t& generation) const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    generation = m_generation;
    return m_closed ? 0 : m_rows.GetCount();
}

std::uint64_t ListRowStore::GetGeneration() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_generation;
}

bool ListRowStore::DeleteAll() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    if (m_closed) return false;
    m_rows.Clear();
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
    if (m_closed || row < 0 || row >= m_rows.GetCount()) return false;
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
    if (m_columns >= PackedRows::kMaxColumns) return -1;
    index = std::min(index, m_columns);
    try {
        m_rows.InsertColumn(index);
    } catch (const std::bad_alloc&) {
        return -1;
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
    m_selected = (row >= 0 && row < m_rows.GetCount()) ? row : -1;
}

ListRowStore::Pending ListRowStore::TakePending(bool followUp) {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    Pending taken = m_pending;
    taken.rowCount = m_rows.GetCount();
    m_pending = Pending{};
    // Decided under the lock: a change made after this either finds the wake
    // armed, or is taken by the follow-up the caller promised.
    m_wakePosted = followUp && m_changed && !m_closed;
    taken.publishAgain = m_wakePosted;
    m_changed = false;
    return taken;
}

void ListRowStore::Close() {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    m_closed = true;
    m_rows.Clear();
}

bool ListRowStore::IsClosed() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_closed;
}

std::size_t ListRowStore::ApproximateBytes() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    const PackedRows::Usage usage = m_rows.GetUsage();
    return usage.index + usage.cells + usage.recurring;
}

PackedRows::Usage ListRowStore::GetUsage() const {
    std::lock_guard<std::recursive_mutex> lock(m_lock);
    return m_rows.GetUsage();
}

}  // namespace win
