// The record behind a window handle (HWND): the Qt widget, the CWnd that owns
// it, its parent or owner handle, style bits and control id. Live handles are
// kept in one registry so that IsWindow can answer for any pointer from any
// thread. Records are never freed or reused, so a stale handle can never
// name a newer window. Framework-internal.
#pragma once

#include <QPointer>
#include <QWidget>
#include <vector>

#include "framework/WinUser.h"

namespace win {

class CWnd;

}  // namespace win

struct win::HWND__ {
    QPointer<QWidget> widget;
    CWnd* wnd = nullptr;
    HWND parent = nullptr;  // the parent (child windows) or the owner (top-level)
    DWORD style = 0;
    DWORD exStyle = 0;
    UINT id = 0;
    bool destroying = false;
    int eventDepth = 0;  // >0 while the widget is inside one of its own events

    /// Makes a new live handle.
    static HWND Register(QWidget* widget, CWnd* wnd, HWND parent, DWORD style, DWORD exStyle, UINT id);
    /// Removes the handle from the live set (the record stays allocated).
    static void Unregister(HWND window);
    static bool IsLive(HWND window);
    /// The live handles whose parent or owner is this one, in creation order.
    static std::vector<HWND> ChildrenOf(HWND window);
    /// The live handle of a widget, else null.
    static HWND FromWidget(const QWidget* widget);
};
