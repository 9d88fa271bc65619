// The widget of a list control in report mode: a QTableView over a ListModel
// with one fixed row height, no row header, no grid and single full-row
// selection by default. Fixed row heights let the view place any row by
// arithmetic, so inserting rows costs the same at any list length and only
// rows that come into view are painted.
//
// It reports left-button clicks (also on empty space) and double-clicks after
// its own handling has updated the selection, so that the control can send
// NM_CLICK and NM_DBLCLK; keyboard navigation reports nothing.
#pragma once

#include <QTableView>
#include <functional>

namespace win {

class ListTableView : public QTableView {
public:
    explicit ListTableView(QWidget* parent = nullptr);

    /// Called with NM_CLICK or NM_DBLCLK once the selection is up to date.
    void SetMouseHandler(std::function<void(unsigned code)> handler) { m_onMouse = std::move(handler); }
    /// Keeps the selection drawn as when focused (LVS_SHOWSELALWAYS).
    void SetShowSelectionAlways(bool always);
    /// The first and last rows in view, -1 for both when none is.
    void VisibleRows(int& first, int& last) const;
    /// Repaints the given rows where they are in view, and nothing else.
    void UpdateRows(int first, int last);

    void setModel(QAbstractItemModel* model) override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void UpdateRowHeight();
    void OnRowCountChanged(int oldCount, int newCount);

    std::function<void(unsigned)> m_onMouse;
    bool m_afterDoubleClick = false;  // the release that ends a double-click is no click
};

}  // namespace win
