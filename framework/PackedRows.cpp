// Packed row storage of the list control: see PackedRows.h.
#include "framework/PackedRows.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "platform/WinMemory.h"

namespace win {

namespace {

constexpr std::size_t kRegionSize = kAllocationGranularity;
constexpr int kEntriesPerBlock = 1 << 16;
// Room left after a new row so that the cells written right after it grow its
// run in place, with no allocation between a row's insertion and its texts.
constexpr std::size_t kRowHeadroom = 256;

constexpr std::uint8_t kLongText = 0x7F;
constexpr std::uint8_t kDigits = 0x80;
constexpr std::uint8_t kRecurring = 0xC0;
constexpr std::size_t kMaxShortText = 0x7E;
constexpr std::size_t kMaxDigits = 0x3F;
constexpr std::size_t kMaxRecurring = 64 * 256;
constexpr std::size_t kMaxRecurringLength = 64;
constexpr std::size_t kMaxText = 0xFFFF;
// A column is judged on this many lookups; more than a quarter of them new
// texts and it stops being looked up.
constexpr std::uint32_t kJudgedLookups = 1024;

const char kDigitChars[] = "0123456789.:";

int DigitCode(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c == '.') return 10;
    if (c == ':') return 11;
    return -1;
}

bool IsDigitText(std::string_view text) {
    if (text.empty() || text.size() > kMaxDigits) return false;
    return std::all_of(text.begin(), text.end(), [](char c) { return DigitCode(c) >= 0; });
}

void* AllocRegion(std::size_t size) {
    void* memory = VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
    if (!memory) throw std::bad_alloc();
    return memory;
}

// Bytes of the cell starting at p, its entry included.
std::size_t CellSize(const std::uint8_t* p) {
    const std::uint8_t tag = *p;
    if (tag < kLongText) return 1 + tag;
    if (tag == kLongText) return 3 + (p[1] | (static_cast<std::size_t>(p[2]) << 8));
    if (tag < kRecurring) return 1 + (tag - kDigits + 1) / 2;
    return 2;
}

}  // namespace

PackedRows::PackedRows() = default;

PackedRows::~PackedRows() { Clear(); }

PackedRows::Entry& PackedRows::EntryAt(int row) const {
    return m_blocks[static_cast<std::size_t>(row) / kEntriesPerBlock][static_cast<std::size_t>(row) % kEntriesPerBlock];
}

void PackedRows::GrowIndex() {
    if (m_nCount < static_cast<int>(m_blocks.size()) * kEntriesPerBlock) return;
    m_blocks.reserve(m_blocks.size() + 1);
    m_blocks.push_back(static_cast<Entry*>(AllocRegion(sizeof(Entry) * kEntriesPerBlock)));
}

std::uint8_t* PackedRows::Reserve(std::size_t size) {
    if (m_pTail && static_cast<std::size_t>(m_pEnd - m_pTail) >= size) return m_pTail;
    const std::size_t regionSize = std::max(kRegionSize, (size + kRegionSize - 1) / kRegionSize * kRegionSize);
    m_regions.reserve(m_regions.size() + 1);
    m_regionSizes.reserve(m_regions.size() + 1);
    auto* region = static_cast<std::uint8_t*>(AllocRegion(regionSize));
    m_regions.push_back(region);
    m_regionSizes.push_back(regionSize);
    m_pTail = region;
    m_pEnd = region + regionSize;
    m_pLastRun = nullptr;
    return m_pTail;
}

int PackedRows::FindRecurring(int column, std::string_view text) {
    if (text.size() < 2 || text.size() > kMaxRecurringLength) return -1;
    if (column >= static_cast<int>(m_columns.size())) m_columns.resize(static_cast<std::size_t>(column) + 1);
    ColumnStats& stats = m_columns[static_cast<std::size_t>(column)];
    if (!stats.interning) return -1;
    // A text like the column's last one (the rows of one flow, or a time
    // shared by the datagrams of one millisecond) says nothing of whether the
    // table pays: only lookups in the table are judged.
    if (stats.last >= 0 && *m_recurring[static_cast<std::size_t>(stats.last)] == text) return stats.last;
    ++stats.lookups;
    try {
        auto found = m_recurringIndex.find(text);
        if (found != m_recurringIndex.end()) return stats.last = found->second;
        ++stats.misses;
        if (stats.lookups >= kJudgedLookups) {
            stats.interning = stats.misses * 4 <= stats.lookups;
            stats.lookups = stats.misses = 0;
        }
        if (m_recurring.size() >= kMaxRecurring) return -1;
        m_recurring.reserve(m_recurring.size() + 1);
        auto inserted = m_recurringIndex.emplace(std::string(text), static_cast<std::uint16_t>(m_recurring.size()));
        m_recurring.push_back(&inserted.first->first);
        return stats.last = inserted.first->second;
    } catch (const std::bad_alloc&) {
        // The text is simply kept in the row.
        return -1;
    }
}

void PackedRows::EncodeCell(int column, std::string_view text, std::string& out) {
    text = text.substr(0, std::min(text.size(), kMaxText));
    const int recurring = FindRecurring(column, text);
    if (recurring >= 0) {
        out.push_back(static_cast<char>(kRecurring + (recurring >> 8)));
        out.push_back(static_cast<char>(recurring & 0xFF));
    } else if (IsDigitText(text)) {
        out.push_back(static_cast<char>(kDigits + text.size()));
        for (std::size_t i = 0; i < text.size(); i += 2) {
            const int high = DigitCode(text[i]);
            const int low = i + 1 < text.size() ? DigitCode(text[i + 1]) : 0;
            out.push_back(static_cast<char>((high << 4) | low));
        }
    } else if (text.size() <= kMaxShortText) {
        out.push_back(static_cast<char>(text.size()));
        out.append(text);
    } else {
        out.push_back(static_cast<char>(kLongText));
        out.push_back(static_cast<char>(text.size() & 0xFF));
        out.push_back(static_cast<char>(text.size() >> 8));
        out.append(text);
    }
}

void PackedRows::Repack(const Entry& entry, int column, std::string_view text, bool insert) {
    // The old run's cells are copied as they are, except the one written.
    m_scratch.clear();
    m_scratch.push_back('\0');  // the cell count, set at the end
    const int cells = entry.cells ? entry.cells[0] : 0;
    const std::uint8_t* p = entry.cells ? entry.cells + 1 : nullptr;
    int written = 0;
    for (int i = 0; i < cells; ++i) {
        const std::size_t size = CellSize(p);
        if (i == column) {
            EncodeCell(column, text, m_scratch);
            ++written;
        }
        if (i != column || insert) {
            m_scratch.append(reinterpret_cast<const char*>(p), size);
            ++written;
        }
        p += size;
    }
    if (column >= cells) {
        for (int i = cells; i < column; ++i, ++written) m_scratch.push_back('\0');
        EncodeCell(column, text, m_scratch);
        ++written;
    }
    m_scratch[0] = static_cast<char>(written);
}

void PackedRows::StoreRun(Entry& entry) {
    const std::size_t size = m_scratch.size();
    if (entry.cells && entry.cells == m_pLastRun && static_cast<std::size_t>(m_pEnd - m_pLastRun) >= size) {
        std::memcpy(m_pLastRun, m_scratch.data(), size);
        m_pTail = m_pLastRun + size;
        return;
    }
    std::uint8_t* run = Reserve(size);
    std::memcpy(run, m_scratch.data(), size);
    m_pTail = run + size;
    m_pLastRun = run;
    entry.cells = run;
}

void PackedRows::Insert(int index, std::string_view text, LPARAM data) {
    index = std::clamp(index, 0, m_nCount);
    GrowIndex();
    Entry fresh{nullptr, data};
    Repack(fresh, 0, text, false);
    // Room for this run and the cells that follow it right away.
    Reserve(m_scratch.size() + kRowHeadroom);
    for (int i = m_nCount; i > index; --i) EntryAt(i) = EntryAt(i - 1);
    ++m_nCount;
    Entry& entry = EntryAt(index);
    entry = fresh;
    StoreRun(entry);
}

void PackedRows::SetText(int row, int column, std::string_view text) {
    Entry& entry = EntryAt(row);
    // A row being filled cell after cell: the next cell goes right after its
    // run, which is the last one written, when the region has room for it.
    if (entry.cells && entry.cells == m_pLastRun && column == entry.cells[0] && column < kMaxColumns) {
        m_scratch.clear();
        EncodeCell(column, text, m_scratch);
        if (static_cast<std::size_t>(m_pEnd - m_pTail) >= m_scratch.size()) {
            std::memcpy(m_pTail, m_scratch.data(), m_scratch.size());
            m_pTail += m_scratch.size();
            ++entry.cells[0];
            return;
        }
    }
    Repack(entry, column, text, false);
    StoreRun(entry);
}

void PackedRows::InsertColumn(int column) {
    if (column < static_cast<int>(m_columns.size()))
        m_columns.insert(m_columns.begin() + column, ColumnStats{});
    for (int row = 0; row < m_nCount; ++row) {
        Entry& entry = EntryAt(row);
        if (!entry.cells || entry.cells[0] <= static_cast<std::uint8_t>(column)) continue;
        Repack(entry, column, {}, true);
        StoreRun(entry);
    }
}

void PackedRows::GetText(int row, int column, std::string& text) const {
    text.clear();
    const Entry& entry = EntryAt(row);
    if (!entry.cells || column < 0 || column >= entry.cells[0]) return;
    const std::uint8_t* p = entry.cells + 1;
    for (int i = 0; i < column; ++i) p += CellSize(p);
    const std::uint8_t tag = *p;
    if (tag < kLongText) {
        text.assign(reinterpret_cast<const char*>(p + 1), tag);
    } else if (tag == kLongText) {
        text.assign(reinterpret_cast<const char*>(p + 3), p[1] | (static_cast<std::size_t>(p[2]) << 8));
    } else if (tag < kRecurring) {
        const std::size_t length = tag - kDigits;
        text.resize(length);
        for (std::size_t i = 0; i < length; ++i) {
            const std::uint8_t pair = p[1 + i / 2];
            text[i] = kDigitChars[(i % 2 == 0) ? (pair >> 4) : (pair & 0x0F)];
        }
    } else {
        text.assign(*m_recurring[static_cast<std::size_t>(tag - kRecurring) * 256 + p[1]]);
    }
}

void PackedRows::Clear() {
    for (Entry* block : m_blocks) VirtualFree(block, 0, MEM_RELEASE);
    for (std::uint8_t* region : m_regions) VirtualFree(region, 0, MEM_RELEASE);
    std::vector<Entry*>().swap(m_blocks);
    std::vector<std::uint8_t*>().swap(m_regions);
    std::vector<std::size_t>().swap(m_regionSizes);
    m_nCount = 0;
    m_pTail = m_pEnd = m_pLastRun = nullptr;
    RecurringIndex().swap(m_recurringIndex);
    std::vector<const std::string*>().swap(m_recurring);
    for (ColumnStats& stats : m_columns) stats = ColumnStats{};
    std::string().swap(m_scratch);
}

PackedRows::Usage PackedRows::GetUsage() const {
    Usage usage;
    usage.index = m_blocks.size() * sizeof(Entry) * kEntriesPerBlock;
    for (std::size_t size : m_regionSizes) usage.cells += size;
    // A node holds the text (inline up to 15 bytes), the index and the links.
    for (const std::string* text : m_recurring) usage.recurring += 64 + (text->size() > 15 ? text->size() + 1 : 0);
    return usage;
}

}  // namespace win
