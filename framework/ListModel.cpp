// The list control's Qt model: see ListModel.h.
#include "framework/ListModel.h"

#include <QMetaObject>
#include <QPointer>
#include <algorithm>

namespace win {

ListModel::ListModel(QObject* parent) : QAbstractTableModel(parent) {
    // The wake runs under the store lock on any thread: it only posts. The
    // destructor closes the store first, so no wake can name a deleted model,
    // and Qt drops the posted calls of a deleted object.
    m_store = std::make_shared<ListRowStore>(
        [this] { QMetaObject::invokeMethod(this, [this] { OnWake(); }, Qt::QueuedConnection); });
    m_frameTimer.setSingleShot(true);
    m_frameTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&m_frameTimer, &QTimer::timeout, this, [this] { Publish(); });
}

void ListModel::OnWake() {
    if (m_frameTimer.isActive()) return;  // the publish at the end of the frame takes this batch too
    const qint64 since = m_sincePublish.isValid() ? m_sincePublish.elapsed() : m_nextIntervalMs;
    if (since >= m_nextIntervalMs) {
        Publish();
        return;
    }
    m_frameTimer.start(static_cast<int>(m_nextIntervalMs - since));
}

ListModel::~ListModel() { m_store->Close(); }

int ListModel::InsertColumn(int index, const QString& header, Qt::Alignment alignment) {
    const int column = m_store->InsertColumn(index);
    if (column < 0) return -1;
    // The first column replaces the store's implicit one; later ones are real insertions.
    if (m_columns.empty()) {
        beginInsertColumns(QModelIndex(), 0, 0);
        m_columns.push_back({header, alignment});
        endInsertColumns();
        return 0;
    }
    beginResetModel();
    m_columns.insert(m_columns.begin() + column, Column{header, alignment});
    m_published = m_store->GetCount();
    m_shown.clear();
    if (m_filter) FilterRows(0, m_published, m_shown);
    endResetModel();
    return column;
}

void ListModel::Publish() {
    m_frameTimer.stop();
    ++m_publishCount;
    const ListRowStore::Pending pending = m_store->TakePending(true);
    // The frame starts with a publish that took changes; a follow-up that
    // found none leaves the next row free to be published at once.
    if (pending.publishAgain) m_sincePublish.start();
    int inserted = 0;
    if (pending.reset) {
        beginResetModel();
        m_published = pending.rowCount;
        m_shown.clear();
        if (m_filter) FilterRows(0, m_published, m_shown);
        endResetModel();
    } else {
        int first = pending.firstChanged;
        int last = std::min(pending.lastChanged, m_published - 1);
        if (m_filter && first >= 0 && first <= last) {
            // The shown rows within the changed range of store rows.
            first = static_cast<int>(std::lower_bound(m_shown.begin(), m_shown.end(), first) - m_shown.begin());
            last = static_cast<int>(std::upper_bound(m_shown.begin(), m_shown.end(), last) - m_shown.begin()) - 1;
        }
        if (first >= 0 && m_visibleRows) {
            int top = -1;
            int bottom = -1;
            m_visibleRows(top, bottom);
            first = std::max(first, top);
            last = std::min(last, bottom);
        }
        if (first >= 0 && first <= last && !m_columns.empty()) {
            emit dataChanged(index(first, 0), index(last, static_cast<int>(m_columns.size()) - 1),
                             {Qt::DisplayRole});
        }
        if (pending.rowCount > m_published && m_filter) {
            // The new rows that pass are announced as one insertion at the end.
            std::vector<int> added;
            inserted = FilterRows(m_published, pending.rowCount, added);
            m_published = pending.rowCount;
            if (inserted > 0) {
                const int shown = static_cast<int>(m_shown.size());
                beginInsertRows(QModelIndex(), shown, shown + inserted - 1);
                m_shown.insert(m_shown.end(), added.begin(), added.end());
                endInsertRows();
            }
        } else if (pending.rowCount > m_published) {
            inserted = pending.rowCount - m_published;
            beginInsertRows(QModelIndex(), m_published, pending.rowCount - 1);
            m_published = pending.rowCount;
            endInsertRows();
        }
    }
    if (pending.ensureVisible >= 0 && pending.ensureVisible < m_published && m_ensureVisible) {
        const int row = ModelRowAtOrBefore(pending.ensureVisible);
        if (row >= 0) m_ensureVisible(row, pending.ensurePartialOK);
    }
    // A flood: this publish brought at least a view's worth of rows.
    int top = -1;
    int bottom = -1;
    if (inserted > 0 && m_visibleRows) m_visibleRows(top, bottom);
    m_nextIntervalMs = top >= 0 && inserted >= bottom - top + 1 ? std::max(m_intervalMs, m_floodIntervalMs)
                                                                  : m_intervalMs;
    // Rows came in this frame: the next frame's are taken without a wake.
    if (pending.publishAgain) m_frameTimer.start(m_nextIntervalMs);
}

void ListModel::SetRowFilter(std::function<bool(LPARAM)> filter) {
    beginResetModel();
    m_filter = std::move(filter);
    m_shown.clear();
    if (m_filter) FilterRows(0, m_published, m_shown);
    endResetModel();
}

int ListModel::FilterRows(int first, int end, std::vector<int>& shown) {
    // The item data is copied out a batch at a time under the store's lock,
    // and the filter runs without it: the rows' owners free what the data
    // points to only on this thread.
    constexpr int kBatch = 65536;
    std::vector<LPARAM> data;
    data.reserve(static_cast<std::size_t>(std::min(kBatch, std::max(end - first, 0))));
    int added = 0;
    for (int start = first; start < end; start += kBatch) {
        data.clear();
        m_store->CopyData(start, std::min(kBatch, end - start), data);
        for (std::size_t i = 0; i < data.size(); ++i) {
            if (!m_filter(data[i])) continue;
            shown.push_back(start + static_cast<int>(i));
            ++added;
        }
        if (static_cast<int>(data.size()) < std::min(kBatch, end - start)) break;  // cleared meanwhile
    }
    return added;
}

int ListModel::StoreRow(int row) const {
    if (row < 0) return -1;
    if (!m_filter) return row < m_published ? row : -1;
    return row < static_cast<int>(m_shown.size()) ? m_shown[static_cast<std::size_t>(row)] : -1;
}

int ListModel::ModelRow(int storeRow) const {
    const int row = ModelRowAtOrBefore(storeRow);
    return row >= 0 && StoreRow(row) == storeRow ? row : -1;
}

int ListModel::ModelRowAtOrBefore(int storeRow) const {
    if (storeRow < 0) return -1;
    if (!m_filter) return std::min(storeRow, m_published - 1);
    return static_cast<int>(std::upper_bound(m_shown.begin(), m_shown.end(), storeRow) - m_shown.begin()) - 1;
}

int ListModel::rowCount(const QModelIndex& parent) const {
    if (parent.isValid()) return 0;
    return m_filter ? static_cast<int>(m_shown.size()) : m_published;
}

int ListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_columns.size());
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
    const int row = index.isValid() ? StoreRow(index.row()) : -1;
    if (row < 0 || index.column() >= static_cast<int>(m_columns.size())) return {};
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(m_columns[index.column()].alignment | Qt::AlignVCenter);
    }
    if (role != Qt::DisplayRole) return {};
    // A clear from another thread may have removed the row before the model
    // was reset: such a row shows empty cells until the next publish.
    std::string text;
    if (!m_store->GetText(row, index.column(), text)) return QString();
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(m_columns.size())) {
        return QAbstractTableModel::headerData(section, orientation, role);
    }
    if (role == Qt::DisplayRole) return m_columns[section].header;
    if (role == Qt::TextAlignmentRole) {
        return QVariant::fromValue(m_columns[section].alignment | Qt::AlignVCenter);
    }
    return {};
}

Qt::ItemFlags ListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

}  // namespace win
