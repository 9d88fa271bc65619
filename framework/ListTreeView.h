// The widget of a list control in report mode: a flat QTreeView with uniform
// row heights over a ListModel. It reports left-button clicks (also on empty
// space) and double-clicks after its own handling has updated the selection,
// so that the control can send NM_CLICK and NM_DBLCLK; keyboard navigation
// reports nothing.
#pragma once

#include <QTreeView>
#include <functional>

namespace win {

class ListTreeView : public QTreeView {
public:
    explicit ListTreeView(QWidget* parent = nullptr);

    /// Called with NM_CLICK or NM_DBLCLK once the selection is up to date.
    void SetMouseHandler(std::function<void(unsigned code)> handler) { m_onMouse = std::move(handler); }
    /// Keeps the selection drawn as when focused (LVS_SHOWSELALWAYS).
    void SetShowSelectionAlways(bool always);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    std::function<void(unsigned)> m_onMouse;
    bool m_afterDoubleClick = false;  // the release that ends a double-click is no click
};

}  // namespace win
