// Window-level types and constants of the framework: window handles, rectangles,
// creation records, notifications, messages and the flags that the program's
// window calls take. They live in namespace win beside the platform's types so
// that program code spells them as the Windows user interface does.
#pragma once

#include <string>

#include "framework/Resources.h"
#include "platform/WinTypes.h"

namespace win {

/// The window handle: the framework's record of one live window (its Qt widget,
/// its CWnd, style and id). Null when there is no window; ::IsWindow tells
/// whether a non-null handle still stands for a window.
struct HWND__;
using HWND = HWND__*;

using HINSTANCE = void*;
using HMENU = void*;
using HICON = void*;
using HBRUSH = void*;
using HCURSOR = void*;
using LPCREATESTRUCT = struct CREATESTRUCT*;

struct POINT {
    LONG x;
    LONG y;
};
struct SIZE {
    LONG cx;
    LONG cy;
};
struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};
using LPRECT = RECT*;
using LPCRECT = const RECT*;

/// A rectangle with the usual helpers.
struct CRect : RECT {
    CRect() : RECT{0, 0, 0, 0} {}
    CRect(LONG l, LONG t, LONG r, LONG b) : RECT{l, t, r, b} {}
    CRect(const RECT& r) : RECT(r) {}
    LONG Width() const { return right - left; }
    LONG Height() const { return bottom - top; }
};

struct CREATESTRUCT {
    LPVOID lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;  // for child windows: the control id
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    LPCSTR lpszName;
    LPCSTR lpszClass;
    DWORD dwExStyle;
};

/// Header of every notification a control sends to its parent.
struct NMHDR {
    HWND hwndFrom;
    UINT_PTR idFrom;
    UINT code;
};
inline constexpr UINT NM_CLICK = static_cast<UINT>(-2);
inline constexpr UINT NM_DBLCLK = static_cast<UINT>(-3);

// Messages the framework dispatches (see CWnd::WindowProc).
inline constexpr UINT WM_CREATE = 0x0001;
inline constexpr UINT WM_DESTROY = 0x0002;
inline constexpr UINT WM_SIZE = 0x0005;
inline constexpr UINT WM_SETTEXT = 0x000C;
inline constexpr UINT WM_GETTEXT = 0x000D;
inline constexpr UINT WM_GETTEXTLENGTH = 0x000E;
inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_NOTIFY = 0x004E;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr UINT WM_CLEAR = 0x0303;
inline constexpr UINT WM_USER = 0x0400;
inline constexpr UINT WM_APP = 0x8000;

// ShowWindow.
inline constexpr int SW_HIDE = 0;
inline constexpr int SW_SHOWNORMAL = 1;
inline constexpr int SW_SHOWMINIMIZED = 2;
inline constexpr int SW_SHOWMAXIMIZED = 3;
inline constexpr int SW_SHOW = 5;

// SetWindowPos.
inline constexpr UINT SWP_NOSIZE = 0x0001;
inline constexpr UINT SWP_NOMOVE = 0x0002;
inline constexpr UINT SWP_NOZORDER = 0x0004;
inline constexpr UINT SWP_NOACTIVATE = 0x0010;

// OnSize types.
inline constexpr UINT SIZE_RESTORED = 0;
inline constexpr UINT SIZE_MINIMIZED = 1;
inline constexpr UINT SIZE_MAXIMIZED = 2;

inline constexpr int CW_USEDEFAULT = static_cast<int>(0x80000000);
inline constexpr DWORD WS_EX_CLIENTEDGE = 0x00000200;

// Cursors: LoadCursor(nullptr, IDC_ARROW).
inline const LPCSTR IDC_ARROW = reinterpret_cast<LPCSTR>(static_cast<UINT_PTR>(32512));
HCURSOR LoadCursorA(HINSTANCE instance, LPCSTR name);
inline HCURSOR LoadCursor(HINSTANCE instance, LPCSTR name) { return LoadCursorA(instance, name); }

/// True when the handle stands for a live window; null and destroyed handles give false.
BOOL IsWindow(HWND window);

/// Carries out a message on the window's thread (the UI thread) and returns its
/// result: called from the UI thread it runs at once; from another thread it
/// waits until the UI thread has run it between its own events (also inside
/// modal loops). A handle that is no window gives 0.
LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
inline LRESULT SendMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(window, message, wParam, lParam);
}

/// Queues a message for the window's thread (the UI thread) and returns at
/// once; the UI thread carries it out on a later turn of its event loop, if the
/// window still exists then. FALSE for a handle that is no window.
BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
inline BOOL PostMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return PostMessageA(window, message, wParam, lParam);
}

BOOL HideCaret(HWND window);

/// Registers (or finds) a window class with these attributes and returns its
/// name, valid for the rest of the process.
LPCSTR AfxRegisterWndClass(UINT classStyle, HCURSOR cursor = nullptr, HBRUSH background = nullptr,
                           HICON icon = nullptr);

}  // namespace win
