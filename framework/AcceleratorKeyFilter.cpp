// Command keys kept from the frame's widgets: see AcceleratorKeyFilter.h.
#include "framework/AcceleratorKeyFilter.h"

#include <QAction>
#include <QApplication>
#include <QKeyEvent>

namespace win {

AcceleratorKeyFilter::AcceleratorKeyFilter(QWidget* window, const std::vector<QAction*>& actions)
    : QObject(window), m_window(window) {
    for (QAction* action : actions) m_actions.emplace_back(action);
    qApp->installEventFilter(this);
}

AcceleratorKeyFilter::~AcceleratorKeyFilter() {
    if (qApp) qApp->removeEventFilter(this);
}

bool AcceleratorKeyFilter::IsEditKey(const QKeyEvent* event) {
    static const QKeySequence::StandardKey kEditKeys[] = {QKeySequence::Copy, QKeySequence::Cut, QKeySequence::Paste,
                                                          QKeySequence::Undo, QKeySequence::Redo};
    for (QKeySequence::StandardKey key : kEditKeys)
        if (event->matches(key)) return true;
    return false;
}

bool AcceleratorKeyFilter::IsCommandKey(const QKeyEvent* event) const {
    if (IsEditKey(event)) return true;
    const QKeySequence pressed(QKeyCombination(event->modifiers() & ~Qt::KeypadModifier, Qt::Key(event->key())));
    for (const QPointer<QAction>& action : m_actions)
        if (action && !action->shortcut().isEmpty() && action->shortcut() == pressed) return true;
    return false;
}

bool AcceleratorKeyFilter::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type != QEvent::ShortcutOverride && type != QEvent::KeyPress) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!m_window || !widget || widget->window() != m_window) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (widget->property(kOwnsEditKeys).toBool() && IsEditKey(key)) return false;
    if (!IsCommandKey(key)) return false;
    if (type == QEvent::ShortcutOverride) {
        // Not overridden: the frame's shortcut runs the command if it is enabled.
        event->ignore();
        return true;
    }
    // The key press itself (a disabled command's key) does nothing.
    event->accept();
    return true;
}

}  // namespace win
