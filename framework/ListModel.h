// The Qt model over a list control's row store. It lives on the UI thread and
// shows the rows that the UI thread has published so far: other threads change
// only the store, whose wake function posts one Publish per batch, and Publish
// announces all new rows with one beginInsertRows/endInsertRows, all changed
// texts with one dataChanged, and a clear with one model reset. Column headers
// and alignments are kept here (columns are set up on the UI thread).
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "framework/ListRowStore.h"

namespace win {

class ListModel : public QAbstractTableModel {
public:
    explicit ListModel(QObject* parent = nullptr);
    /// Closes the store, so late operations from other threads fail cleanly.
    ~ListModel() override;

    /// The store shared with the control; valid for the model's whole life.
    const std::shared_ptr<ListRowStore>& Store() const { return m_store; }

    /// Adds a column header; alignment is Qt::AlignLeft or Qt::AlignRight.
    int InsertColumn(int index, const QString& header, Qt::Alignment alignment);

    /// Publishes what the store holds that the model does not show yet. Runs
    /// on the UI thread from the posted wake, and may be called directly.
    void Publish();
    /// Called by Publish with the newest scroll request (row, partialOK).
    void SetEnsureVisibleHandler(std::function<void(int, bool)> handler) { m_ensureVisible = std::move(handler); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Column {
        QString header;
        Qt::Alignment alignment;
    };
    std::shared_ptr<ListRowStore> m_store;
    std::vector<Column> m_columns;
    int m_published = 0;  // rows the model shows (UI thread only)
    std::function<void(int, bool)> m_ensureVisible;
};

}  // namespace win
