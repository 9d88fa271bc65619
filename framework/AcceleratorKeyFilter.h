// Keeps the keys of a frame's commands for the frame: inside the frame's
// window, a key bound to one of its accelerators, and every standard edit key
// (copy, cut, paste, undo, redo), never reaches the focused widget's own
// handling. An enabled command's key runs the command through its shortcut; a
// disabled command's key, or an edit key the frame does not bind, does
// nothing, as the frame's commands say (Copy in the list copies nothing).
#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>
#include <vector>

class QAction;
class QKeyEvent;

namespace win {

class AcceleratorKeyFilter : public QObject {
public:
    /// Watches the application's key events for window; actions are the frame's accelerators.
    AcceleratorKeyFilter(QWidget* window, const std::vector<QAction*>& actions);
    ~AcceleratorKeyFilter() override;

    /// True when event is one of the keys this filter keeps from widgets.
    bool IsCommandKey(const QKeyEvent* event) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_window;
    std::vector<QPointer<QAction>> m_actions;
};

}  // namespace win
