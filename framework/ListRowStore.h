// The rows of a list control, independent of any widget. Any thread may read
// and change the rows; one mutex serialises every operation, so an operation's
// effect is visible to every later one as soon as it returns. The UI thread
// later publishes what changed to its Qt model (see ListModel): the store
// counts rows that the model does not know yet, the range of rows whose texts
// changed, a pending clear and a pending scroll request, and calls the wake
// function once per batch so that the UI thread publishes in one go.
//
// Cells are kept compactly by PackedRows: packed one row after the other in
// large regions, with recurring texts stored once. When memory runs out an
// operation that needed more fails (InsertRow -1, SetText false) and nothing
// changes.
//
// Row indexes are valid until the next DeleteAll: every DeleteAll advances the
// generation, and an operation addressed to a row that no longer exists fails.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "framework/PackedRows.h"
#include "platform/WinTypes.h"

namespace win {

class ListRowStore {
public:
    /// wake is called (under the store lock, so it must only post) when the
    /// first change of a batch arrives that the UI thread has not yet published.
    explicit ListRowStore(std::function<void()> wake = {});

    /// What the UI thread must publish, taken in one step by TakePending.
    struct Pending {
        bool reset = false;      // rows were removed: the model must reset
        int rowCount = 0;        // the store's row count now
        int firstChanged = -1;   // range of changed rows (inclusive), -1 for none
        int lastChanged = -1;
        int ensureVisible = -1;  // row to scroll into view, -1 for none
        bool ensurePartialOK = false;
        bool publishAgain = false;  // see TakePending
    };

    /// Appends or inserts a row with the text of column 0; returns its index,
    /// -1 when the store is closed. An index past the end appends.
    int InsertRow(int index, std::string_view text, LPARAM data);
    /// Sets one cell; false when the row or column does not exist.
    bool SetText(int row, int column, std::string_view text);
    bool SetData(int row, LPARAM data);
    /// The row's item data, 0 when the row does not exist.
    LPARAM GetData(int row) const;
    /// Appends the item data of rows [first, first + count) that exist to out,
    /// under one lock: a caller going over many rows takes it once per batch.
    void CopyData(int first, int count, std::vector<LPARAM>& out) const;
    /// Copies the cell text; false when the row does not exist.
    bool GetText(int row, int column, std::string& text) const;
    int GetCount() const;
    /// The count and the generation it belongs to, read together.
    int GetCount(std::uint64_t& generation) const;
    std::uint64_t GetGeneration() const;
    /// Removes every row and advances the generation; false when closed.
    bool DeleteAll();
    /// Records a scroll request for the UI thread; false for no such row.
    bool RequestEnsureVisible(int row, bool partialOK);

    /// Runs f(data) under the store lock if the row exists in this generation;
    /// while f runs no DeleteAll can happen. f must not call back into the store.
    bool WithRow(int row, std::uint64_t generation, const std::function<void(LPARAM)>& f) const;
    /// Sets a cell only if the store is still at this generation.
    bool SetTextIf(int row, int column, std::string_view text, std::uint64_t generation);

    int GetColumnCount() const;
    /// Adds a column (existing rows get an empty cell there); returns its index.
    int InsertColumn(int index);

    /// The selected row mirrored by the UI thread (-1 for none).
    int GetSelected() const;
    void SetSelected(int row);

    /// Holds the store lock across several operations of one thread (it is
    /// recursive), so that they act as one: other threads wait meanwhile.
    void Lock() const { m_lock.lock(); }
    void Unlock() const { m_lock.unlock(); }

    /// UI thread: takes the changes to publish and rearms the wake function.
    /// With followUp, when there were changes, the wake function stays
    /// unarmed and publishAgain is set: the caller takes the changes of the
    /// next frame without being woken for them (a flood of rows then costs
    /// the UI thread one wake-up per frame, not two).
    Pending TakePending(bool followUp = false);
    /// After Close every operation fails; the wake function is no longer called.
    void Close();
    bool IsClosed() const;

    /// Bytes the rows hold (for measurements), and where they go.
    std::size_t ApproximateBytes() const;
    PackedRows::Usage GetUsage() const;

private:
    bool PutTextLocked(int row, int column, std::string_view text);
    void MarkChangedLocked(int row);
    void WakeLocked();

    mutable std::recursive_mutex m_lock;
    std::function<void()> m_wake;
    PackedRows m_rows;
    int m_columns = 1;          // cells each row can hold (at least one)
    int m_columnsDeclared = 0;  // columns added through InsertColumn
    std::uint64_t m_generation = 0;
    int m_selected = -1;
    bool m_closed = false;
    bool m_wakePosted = false;
    bool m_changed = false;  // since the last TakePending
    Pending m_pending;
};

}  // namespace win
