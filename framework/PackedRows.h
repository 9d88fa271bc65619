// The storage of a list control's rows: each row's item data and its cell
// texts, packed one row after the other into 64 KiB regions of the system
// rather than kept as heap objects per row.
//
// A row's cells are one run of bytes: the number of cells written (at most
// kMaxColumns), then one entry per cell:
// - 0x00-0x7E n: a plain text of n bytes follows;
// - 0x80-0xBF: a text of (tag - 0x80) characters made only of digits, dots and
//   colons (times, addresses, ports, sizes) follows, two characters to a byte;
// - 0xC0-0xFF: a text stored once in the table of recurring texts, whose index
//   is (tag - 0xC0) * 256 + the next byte;
// - 0x7F: a 16-bit length (low byte first) and a plain text of that length.
// Cells past the last one written read as empty.
//
// A text is looked up in the table of recurring texts (an address, a port, a
// protocol name) while its column keeps finding what it looks for; a column
// whose texts are nearly all new (a capture time, even where the datagrams of
// one millisecond share it) stops being looked up. A text like the column's
// last one is found without a lookup and is not judged. The next cell of the last row written goes at the end of its run
// (a new row is filled one cell after another). Rewriting a row that is not
// the last one written puts the new run at the end and leaves the old one
// unused until the next Clear.
//
// Not thread-safe: the list's row store serialises every call. Calls that add
// memory throw std::bad_alloc when none can be had and then change nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/WinTypes.h"

namespace win {

class PackedRows {
public:
    /// Cells a row can hold.
    static constexpr int kMaxColumns = 255;

    PackedRows();
    ~PackedRows();
    PackedRows(const PackedRows&) = delete;
    PackedRows& operator=(const PackedRows&) = delete;

    int GetCount() const { return m_nCount; }
    /// Inserts a row before index (index == GetCount() appends) with the text
    /// of cell 0 and the item data.
    void Insert(int index, std::string_view text, LPARAM data);
    void SetText(int row, int column, std::string_view text);
    /// Inserts an empty cell before column in every row.
    void InsertColumn(int column);
    void GetText(int row, int column, std::string& text) const;
    LPARAM GetData(int row) const { return EntryAt(row).data; }
    void SetData(int row, LPARAM data) { EntryAt(row).data = data; }
    /// Removes every row and gives all memory back.
    void Clear();

    /// Where the memory goes (for measurements).
    struct Usage {
        std::size_t index = 0;      // row entries (item data and where the cells are)
        std::size_t cells = 0;      // regions of packed cells, unused parts included
        std::size_t recurring = 0;  // the table of recurring texts, approximately
    };
    Usage GetUsage() const;

private:
    struct Entry {
        std::uint8_t* cells;  // null: no cell written yet
        LPARAM data;
    };
    struct ColumnStats {
        std::uint32_t lookups = 0;
        std::uint32_t misses = 0;
        bool interning = true;
        int last = -1;  // the recurring text this column found last: rows of one flow repeat it
    };

    Entry& EntryAt(int row) const;
    /// Appends the encoding of one cell to out.
    void EncodeCell(int column, std::string_view text, std::string& out);
    /// Builds in m_scratch the row's run with text written into (or, with
    /// insert, inserted before) column.
    void Repack(const Entry& entry, int column, std::string_view text, bool insert);
    /// Stores m_scratch as the row's run, in place when it is the last run written.
    void StoreRun(Entry& entry);
    std::uint8_t* Reserve(std::size_t size);
    void GrowIndex();
    int FindRecurring(int column, std::string_view text);

    std::vector<Entry*> m_blocks;          // row entries, kEntriesPerBlock each
    int m_nCount = 0;
    std::vector<std::uint8_t*> m_regions;  // regions of packed runs
    std::vector<std::size_t> m_regionSizes;
    std::uint8_t* m_pTail = nullptr;       // where the next run goes
    std::uint8_t* m_pEnd = nullptr;        // end of the region being filled
    std::uint8_t* m_pLastRun = nullptr;    // the last run written, which may grow in place
    std::string m_scratch;

    // Looked up by string_view, without making a string per cell.
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept { return std::hash<std::string_view>{}(text); }
    };
    using RecurringIndex = std::unordered_map<std::string, std::uint16_t, TextHash, std::equal_to<>>;
    RecurringIndex m_recurringIndex;
    std::vector<const std::string*> m_recurring;
    std::vector<ColumnStats> m_columns;
};

}  // namespace win
