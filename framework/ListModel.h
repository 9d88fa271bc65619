// The Qt model over a list control's row store. It lives on the UI thread and
// shows the rows that the UI thread has published so far: other threads change
// only the store, whose wake function posts one wake per batch, and Publish
// announces all new rows with one beginInsertRows/endInsertRows, the changed
// texts of the rows in view with one dataChanged, and a clear with one model
// reset. Publishing happens at most once per display frame: a wake that comes
// sooner after the last publish waits for the rest of the frame, so a flood of
// rows costs the UI thread one publish, one scroll and one paint per frame.
// While rows keep coming, each frame's rows are taken when the frame ends,
// without a wake from the store; while they come faster than the view can
// show them, frames are longer (SetFloodInterval).
// Column headers and alignments are kept here (columns are set up on the UI
// thread).
//
// A row filter, when set, hides rows: the model then shows, in store order,
// only the rows whose item data the filter accepts, and keeps the store row of
// each one it shows. The filter runs on the UI thread, over every row held
// when it is set and over each new row as it is published; hidden rows stay in
// the store.
#pragma once

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>
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
    /// Gives the rows in view (first, last; -1 for none); changed texts of
    /// other rows are not announced, as no view shows them. Without a handler
    /// every changed row is announced.
    void SetVisibleRowsHandler(std::function<void(int&, int&)> handler) { m_visibleRows = std::move(handler); }
    /// The least time between two publishes, in milliseconds. The default, 25
    /// (40 per second), is under two frames at 60 Hz and keeps a row within
    /// about 50 ms of its datagram; a faster rate costs the window thread more
    /// than the list gains, since a flood repaints every row in view each time.
    void SetPublishInterval(int ms) { m_intervalMs = ms; }
    /// The least time between publishes while each one brings at least as
    /// many new rows as are in view, so that the view turns over completely
    /// every frame and no row stays long enough to be read. The default, 40
    /// (25 per second), still keeps a row within about 50 ms of its datagram
    /// and cuts the window thread's cost in such a flood by a third.
    void SetFloodInterval(int ms) { m_floodIntervalMs = ms; }
    /// Publishes happened so far (for tests and measurements).
    long PublishCount() const { return m_publishCount; }

    /// Shows only the rows whose item data filter accepts; an empty filter
    /// shows every row. Runs the filter over the rows published so far now.
    void SetRowFilter(std::function<bool(LPARAM)> filter);
    /// The store row shown at a model row (-1 for none).
    int StoreRow(int row) const;
    /// The model row that shows a store row, -1 when it is hidden or not published.
    int ModelRow(int storeRow) const;
    /// The model row of the store row or, when it is hidden, of the nearest
    /// shown row before it; -1 when there is none.
    int ModelRowAtOrBefore(int storeRow) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    /// The store's wake, on the UI thread: publishes now or at the end of the frame.
    void OnWake();

    struct Column {
        QString header;
        Qt::Alignment alignment;
    };
    /// Appends to shown the store rows of [first, end) that the filter
    /// accepts; returns how many.
    int FilterRows(int first, int end, std::vector<int>& shown);

    std::shared_ptr<ListRowStore> m_store;
    std::vector<Column> m_columns;
    int m_published = 0;  // store rows the model has taken (UI thread only)
    std::function<bool(LPARAM)> m_filter;
    std::vector<int> m_shown;  // with a filter: the store rows shown, ascending
    std::function<void(int, bool)> m_ensureVisible;
    std::function<void(int&, int&)> m_visibleRows;
    QTimer m_frameTimer;          // pending publish at the end of the frame
    QElapsedTimer m_sincePublish;  // invalid until the first publish
    int m_intervalMs = 25;
    int m_floodIntervalMs = 40;
    int m_nextIntervalMs = 25;  // the interval after the last publish
    long m_publishCount = 0;
};

}  // namespace win
