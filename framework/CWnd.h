// The window object. A CWnd owns at most one window at a time: m_hWnd is its
// handle (null without a window). Creation runs PreCreateWindow, builds the Qt
// widget (CreateWidget, which controls override) and calls OnCreate; -1 from
// OnCreate fails the creation. Resizes call OnSize; DestroyWindow (or the user
// closing a top-level window) calls OnDestroy, destroys the child windows, then
// the widget, and leaves the C++ object; PostNcDestroy runs last.
//
// A window created without WS_CHILD and with a parent is a top-level window
// owned by the parent's top-level window: it stays above it and is destroyed
// with it.
//
// Threads: every CWnd call is made on the UI thread. Other threads change a
// window only through SendMessage (WinUser.h), which the UI thread carries out
// by calling WindowProc. The list control (CListCtrl) adds a faster path of its
// own for rows.
#pragma once

#include <string>

#include "framework/CCmdTarget.h"
#include "framework/WinUser.h"

class QWidget;
class QRect;

namespace win {

class CFrameWnd;

class CWnd : public CCmdTarget {
public:
    CWnd();
    /// Destroys the window if it still exists.
    ~CWnd() override;
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
    /// The CWnd of a live handle, else null.
    static CWnd* FromHandle(HWND window);

    /// Creates the window. For child windows (WS_CHILD) the rectangle is in the
    /// parent's client coordinates and id is the control id. CW_USEDEFAULT in x
    /// lets the system place the window; CW_USEDEFAULT in cx gives size 0.
    virtual BOOL CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int cx,
                          int cy, HWND parent, HMENU idOrMenu, LPVOID param = nullptr);
    virtual BOOL CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect,
                          CWnd* parent, UINT id, LPVOID param = nullptr);
    virtual BOOL Create(LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id,
                        LPVOID param = nullptr);
    virtual BOOL DestroyWindow();

    BOOL SetWindowPos(const CWnd* insertAfter, int x, int y, int cx, int cy, UINT flags);
    void MoveWindow(int x, int y, int cx, int cy, BOOL repaint = TRUE);
    void MoveWindow(LPCRECT rect, BOOL repaint = TRUE);
    void GetClientRect(LPRECT rect) const;
    void GetWindowRect(LPRECT rect) const;
    BOOL ShowWindow(int command);
    void UpdateWindow();
    void Invalidate(BOOL erase = TRUE);
    BOOL IsWindowVisible() const;
    BOOL EnableWindow(BOOL enable = TRUE);
    BOOL IsWindowEnabled() const;
    void SetFocus();
    BOOL HideCaret();

    DWORD GetStyle() const;
    DWORD GetExStyle() const;
    /// Removes then adds style bits; StyleChanged tells the window.
    BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
    BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);

    void SetWindowText(LPCSTR text);
    void SetWindowText(const std::string& text) { SetWindowText(text.c_str()); }
    void GetWindowText(std::string& text) const;
    std::string GetWindowText() const;

    CWnd* GetParent() const;
    CFrameWnd* GetParentFrame() const;
    int GetDlgCtrlID() const;
    /// The child window with this control id, else null.
    CWnd* GetDlgItem(int id) const;

    /// SendMessageA on this window.
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

    /// The window's Qt widget (framework use), null without a window.
    QWidget* GetWidget() const;

    /// Handles a message sent with SendMessage, on the UI thread. The base
    /// handles WM_SETTEXT, WM_GETTEXT, WM_GETTEXTLENGTH, WM_CLOSE and WM_NOTIFY.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    /// The default processing of a message (what WindowProc does for it in the base).
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    /// Attaches a Qt widget made elsewhere (framework use: dialog controls, bars).
    BOOL SubclassWidget(QWidget* widget, UINT id, DWORD style, CWnd* parent);
    /// Gives up the window without destroying it; returns its widget (framework use).
    QWidget* UnsubclassWidget();

protected:
    /// May change the creation record; false fails the creation.
    virtual BOOL PreCreateWindow(CREATESTRUCT& cs);
    /// Builds the Qt widget for the window. The base makes a plain widget (a
    /// top-level one when parent is null).
    virtual QWidget* CreateWidget(const CREATESTRUCT& cs, QWidget* parent);
    /// Called once the window exists, before it is shown; -1 fails the creation.
    virtual int OnCreate(LPCREATESTRUCT cs);
    virtual void OnDestroy();
    virtual void OnSize(UINT type, int cx, int cy);
    /// The user asked to close a top-level window; the base destroys it.
    virtual void OnClose();
    /// A notification from a child control; the base runs this window's
    /// notification table.
    virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
    /// Called after the window is gone; the base does nothing (views and
    /// frames delete themselves here).
    virtual void PostNcDestroy();
    /// The style bits changed through ModifyStyle.
    virtual void StyleChanged(DWORD oldStyle, DWORD newStyle);

private:
    friend struct HWND__;
    friend class WindowEvents;
    BOOL CreateFromRecord(CREATESTRUCT& cs, CWnd* parent);
    /// The available area of the screen that widget is on (else the primary one).
    static QRect AvailableArea(const QWidget* widget);
    /// Places an owned top-level window near its owner, inside the available area.
    static void PlaceOwnedWindow(QWidget* widget, const QWidget* owner);
    /// Moves a shown top-level window back inside the available area once framed.
    static void KeepOnScreen(QWidget* widget);
    /// Registers the widget as this object's window and forgets the handle when Qt destroys the widget.
    void AttachWidget(QWidget* widget, HWND parent, DWORD style, DWORD exStyle, UINT id);
};

}  // namespace win
