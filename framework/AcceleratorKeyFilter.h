// Keeps the keys of a frame's commands for the frame: inside the frame's
// window, a key bound to one of its accelerators, and every standard edit key
// (copy, cut, paste, undo, redo), never reaches the focused widget's own
// handling. An enabled command's key runs the command through its shortcut; a
// disabled command's key, or an edit key the frame does not bind, does
// nothing, as the frame's commands say (Copy in the list copies the rows, not
// what a focused widget holds). A widget that carries the property
// kOwnsEditKeys (a bar's edit field, where a person types and pastes)
// keeps the standard edit keys for its own text.
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
    /// The widget property that lets a widget keep the standard edit keys.
    static constexpr const char* kOwnsEditKeys = "ownsEditKeys";

    /// Watches the application's key events for window; actions are the frame's accelerators.
    AcceleratorKeyFilter(QWidget* window, const std::vector<QAction*>& actions);
    ~AcceleratorKeyFilter() override;

    /// True for a standard edit key (copy, cut, paste, undo, redo).
    static bool IsEditKey(const QKeyEvent* event);
    /// True when event is one of the keys this filter keeps from widgets.
    bool IsCommandKey(const QKeyEvent* event) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_window;
    std::vector<QPointer<QAction>> m_actions;
};

}  // namespace win
