// Translation of Qt window events into the CWnd hooks.
#include "framework/WindowEvents.h"

#include <QCloseEvent>
#include <QResizeEvent>
#include <QPointer>
#include <QWidget>

#include "framework/CWnd.h"
#include "framework/OwnedWindow.h"
#include "framework/WindowHandle.h"

namespace win {

WindowEvents::WindowEvents(QWidget* widget, HWND handle) : QObject(widget), m_handle(handle) {
    widget->installEventFilter(this);
}

bool WindowEvents::eventFilter(QObject* watched, QEvent* event) {
    if (!HWND__::IsLive(m_handle) || watched != m_handle->widget) return false;
    CWnd* wnd = m_handle->wnd;
    switch (event->type()) {
    case QEvent::Show: {
        // Qt's own show clears the owner property of an ordinary window, so
        // it is set once the show has been carried out.
        QWidget* w = m_handle->widget;
        if (w->isWindow() && w->parentWidget()) {
            QPointer<QWidget> guard(w);
            QMetaObject::invokeMethod(
                w, [guard]() { if (guard && guard->parentWidget()) SetWindowOwner(guard, guard->parentWidget()); },
                Qt::QueuedConnection);
        }
        return false;
    }
    case QEvent::Resize: {
        auto* resize = static_cast<QResizeEvent*>(event);
        QWidget* w = m_handle->widget;
        UINT type = w->isMinimized() ? SIZE_MINIMIZED : w->isMaximized() ? SIZE_MAXIMIZED : SIZE_RESTORED;
        wnd->OnSize(type, resize->size().width(), resize->size().height());
        return false;
    }
    case QEvent::Close: {
        // The window decides itself whether it goes; Qt must not hide it.
        event->ignore();
        HWND handle = m_handle;
        ++handle->eventDepth;
        wnd->OnClose();
        --handle->eventDepth;
        return true;
    }
    default:
        return false;
    }
}

}  // namespace win
