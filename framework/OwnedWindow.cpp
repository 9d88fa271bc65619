// Owned windows on X11: see OwnedWindow.h.
#include "framework/OwnedWindow.h"

#include <QGuiApplication>
#include <QWidget>
#include <QWindow>

// After Qt: X11's headers define macros that Qt's headers would trip over.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace win {

void SetWindowOwner(QWidget* window, QWidget* owner) {
    if (!window || !owner) return;
    QWidget* top = owner->window();
    const WId ownerId = top->winId();
    const WId windowId = window->winId();
    if (QWindow* handle = window->windowHandle()) handle->setTransientParent(top->windowHandle());
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    ::Display* display = x11 ? x11->display() : nullptr;
    if (!display || QGuiApplication::platformName() != QLatin1String("xcb")) return;
    const ::Window value = static_cast<::Window>(ownerId);
    XChangeProperty(display, static_cast<::Window>(windowId), XA_WM_TRANSIENT_FOR, XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&value), 1);
    XFlush(display);
}

}  // namespace win
