// Window creation, destruction and the window calls on Qt widgets.
#include "framework/CWnd.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMetaObject>
#include <QResizeEvent>
#include <QScreen>
#include <QTimer>
#include <QThread>
#include <QWidget>
#include <cstring>

#include "framework/FontScale.h"
#include "framework/WindowEvents.h"
#include "framework/WindowHandle.h"

namespace win {

CWnd::CWnd() = default;

CWnd::~CWnd() {
    if (m_hWnd) DestroyWindow();
}

CWnd* CWnd::FromHandle(HWND window) { return HWND__::IsLive(window) ? window->wnd : nullptr; }

QWidget* CWnd::GetWidget() const { return m_hWnd ? m_hWnd->widget.data() : nullptr; }

BOOL CWnd::CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, int x, int y, int cx, int cy,
                    HWND parent, HMENU idOrMenu, LPVOID param) {
    CREATESTRUCT cs{param, nullptr, idOrMenu, parent, cy, cx, y, x, static_cast<LONG>(style), windowName, className,
                    exStyle};
    if (!PreCreateWindow(cs)) return FALSE;
    return CreateFromRecord(cs, FromHandle(cs.hwndParent));
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent,
                    UINT id, LPVOID param) {
    // CW_USEDEFAULT in a rectangle gives the system's position and a size of 0.
    int cx = rect.right == CW_USEDEFAULT ? 0 : rect.right - rect.left;
    int cy = rect.bottom == CW_USEDEFAULT ? 0 : rect.bottom - rect.top;
    return CreateEx(exStyle, className, windowName, style, rect.left, rect.top, cx, cy,
                    parent ? parent->m_hWnd : nullptr, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), param);
}

BOOL CWnd::Create(LPCSTR className, LPCSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id,
                  LPVOID param) {
    return CreateEx(0, className, windowName, style | WS_CHILD, rect, parent, id, param);
}

BOOL CWnd::CreateFromRecord(CREATESTRUCT& cs, CWnd* parent) {
    if (m_hWnd) return FALSE;
    const DWORD style = static_cast<DWORD>(cs.style);
    const bool child = (style & WS_CHILD) != 0;
    QWidget* parentWidget = parent ? parent->GetWidget() : nullptr;
    HWND parentHandle = parent ? parent->m_hWnd : nullptr;
    if (child && !parentWidget) return FALSE;
    if (!child && parentWidget) {
        // A top-level window with a parent is owned by the parent's top-level window.
        parentWidget = parentWidget->window();
        HWND owner = HWND__::FromWidget(parentWidget);
        if (owner) parentHandle = owner;
    }
    QWidget* widget = CreateWidget(cs, parentWidget);
    if (!widget) return FALSE;
    if (!child && parentWidget && !widget->isWindow()) widget->setWindowFlag(Qt::Window, true);
    const UINT id = child ? static_cast<UINT>(reinterpret_cast<UINT_PTR>(cs.hMenu)) : 0;
    AttachWidget(widget, parentHandle, style, cs.dwExStyle, id);

    if (child) {
        widget->setGeometry(cs.x, cs.y, std::max(cs.cx, 0), std::max(cs.cy, 0));
    } else {
        if (cs.x != CW_USEDEFAULT) widget->move(cs.x, cs.y);
        widget->resize(cs.cx == CW_USEDEFAULT ? 0 : std::max(cs.cx, 0), cs.cy == CW_USEDEFAULT ? 0 : std::max(cs.cy, 0));
    }
    if (cs.lpszName) SetWindowText(cs.lpszName);
    if (style & WS_DISABLED) widget->setEnabled(false);

    if (OnCreate(&cs) == -1) {
        DestroyWindow();
        return FALSE;
    }
    if (!m_hWnd) return FALSE;
    if (!child && parentWidget && cs.x == CW_USEDEFAULT) PlaceOwnedWindow(widget, parentWidget);
    if (GetStyle() & WS_VISIBLE) {
        widget->show();
        if (!child) KeepOnScreen(widget);
    } else if (child) {
        widget->hide();
    }
    return TRUE;
}

QRect CWnd::AvailableArea(const QWidget* widget) {
    QScreen* screen = widget ? widget->screen() : nullptr;
    if (!screen) screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect();
}

void CWnd::PlaceOwnedWindow(QWidget* widget, const QWidget* owner) {
    // The system's default position for an owned window: a step down and
    // right of its owner, then moved inside the screen's available area,
    // allowing for a typical window frame until the real one is known.
    const QRect ownerFrame = owner->frameGeometry();
    const QPoint origin = ownerFrame.topLeft() + QPoint(32, 32);
    const QRect available = AvailableArea(owner);
    const QMargins frame(4, 30, 4, 4);
    const QRect placed = FontScale::PlaceInside(QRect(origin, widget->size()).marginsAdded(frame), available);
    widget->resize(FontScale::ClampSize(widget->size(), available.marginsRemoved(frame)));
    widget->move(placed.topLeft());
}

void CWnd::KeepOnScreen(QWidget* widget) {
    // Once the window manager has framed the window, its real frame is known:
    // move it back inside the available area if the frame reaches outside.
    QPointer<QWidget> guard(widget);
    auto check = [guard]() {
        if (!guard || !guard->isVisible() || guard->isMaximized() || guard->isFullScreen()) return;
        const QRect available = AvailableArea(guard);
        const QRect frame = guard->frameGeometry();
        const QRect placed = FontScale::PlaceInside(frame, available);
        if (placed.size() != frame.size()) {
            const QSize margins = frame.size() - guard->size();
            guard->resize(placed.size() - margins);
        }
        if (placed.topLeft() != frame.topLeft()) guard->move(placed.topLeft());
    };
    QTimer::singleShot(0, widget, check);
    QTimer::singleShot(400, widget, check);
}

BOOL CWnd::PreCreateWindow(CREATESTRUCT&) { return TRUE; }

QWidget* CWnd::CreateWidget(const CREATESTRUCT& cs, QWidget* parent) {
    const bool child = (static_cast<DWORD>(cs.style) & WS_CHILD) != 0;
    return new QWidget(parent, child ? Qt::Widget : Qt::Window);
}

int CWnd::OnCreate(LPCREATESTRUCT) { return 0; }
void CWnd::OnDestroy() {}
void CWnd::OnSize(UINT, int, int) {}
void CWnd::OnClose() { DestroyWindow(); }
void CWnd::PostNcDestroy() {}
void CWnd::StyleChanged(DWORD, DWORD) {}

BOOL CWnd::OnNotify(WPARAM, LPARAM lParam, LRESULT* result) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    return header ? OnNotifyMsg(header, result) : FALSE;
}

void CWnd::AttachWidget(QWidget* widget, HWND parent, DWORD style, DWORD exStyle, UINT id) {
    m_hWnd = HWND__::Register(widget, this, parent, style, exStyle, id);
    new WindowEvents(widget, m_hWnd);
    HWND self = m_hWnd;
    QObject::connect(widget, &QObject::destroyed, [self]() {
        // Qt took the widget away (its parent went): the window is gone.
        if (!HWND__::IsLive(self)) return;
        CWnd* wnd = self->wnd;
        HWND__::Unregister(self);
        if (wnd) wnd->m_hWnd = nullptr;
    });
}

BOOL CWnd::SubclassWidget(QWidget* widget, UINT id, DWORD style, CWnd* parent) {
    if (m_hWnd || !widget) return FALSE;
    AttachWidget(widget, parent ? parent->m_hWnd : nullptr, style, 0, id);
    return TRUE;
}

QWidget* CWnd::UnsubclassWidget() {
    QWidget* widget = GetWidget();
    if (m_hWnd) HWND__::Unregister(m_hWnd);
    m_hWnd = nullptr;
    return widget;
}

BOOL CWnd::DestroyWindow() {
    HWND self = m_hWnd;
    if (!HWND__::IsLive(self) || self->destroying) return FALSE;
    self->destroying = true;
    OnDestroy();
    for (HWND child : HWND__::ChildrenOf(self))
        if (child->wnd) child->wnd->DestroyWindow();
    QPointer<QWidget> widget = self->widget;
    const bool inOwnEvent = self->eventDepth > 0;
    HWND__::Unregister(self);
    m_hWnd = nullptr;
    if (widget) {
        widget->hide();
        // A widget inside its own event handler must outlive the handler.
        if (inOwnEvent)
            widget->deleteLater();
        else
            delete widget.data();
    }
    PostNcDestroy();
    return TRUE;
}

BOOL CWnd::SetWindowPos(const CWnd*, int x, int y, int cx, int cy, UINT flags) {
    QWidget* w = GetWidget();
    if (!w) return FALSE;
    if (!(flags & SWP_NOMOVE)) w->move(x, y);
    if (!(flags & SWP_NOSIZE)) {
        const QSize old = w->size();
        QSize size(std::max(cx, 0), std::max(cy, 0));
        if (w->isWindow()) {
            // A top-level window's size is in pixels of the 8-point font:
            // convert it like the text it holds, and keep it on the screen.
            size = QSize(FontScale::Width(size.width(), w->font()), FontScale::Height(size.height(), w->font()));
            size = FontScale::ClampSize(size, AvailableArea(w).marginsRemoved(QMargins(4, 30, 4, 4)));
        }
        w->resize(size);
        if (!w->isVisible() && old != w->size()) {
            // Hidden widgets get their resize event only when shown; the
            // window hears of its size at once, as it would on Windows.
            QResizeEvent event(w->size(), old);
            QApplication::sendEvent(w, &event);
        }
    }
    return TRUE;
}

void CWnd::MoveWindow(int x, int y, int cx, int cy, BOOL) { SetWindowPos(nullptr, x, y, cx, cy, SWP_NOZORDER); }

void CWnd::MoveWindow(LPCRECT rect, BOOL repaint) {
    MoveWindow(rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, repaint);
}

void CWnd::GetClientRect(LPRECT rect) const {
    *rect = RECT{0, 0, 0, 0};
    QWidget* w = GetWidget();
    if (!w) return;
    if (auto* main = qobject_cast<QMainWindow*>(w); main && main->centralWidget()) w = main->centralWidget();
    *rect = RECT{0, 0, w->width(), w->height()};
}

void CWnd::GetWindowRect(LPRECT rect) const {
    *rect = RECT{0, 0, 0, 0};
    QWidget* w = GetWidget();
    if (!w) return;
    const QPoint origin = w->mapToGlobal(QPoint(0, 0));
    *rect = RECT{origin.x(), origin.y(), origin.x() + w->width(), origin.y() + w->height()};
}

BOOL CWnd::ShowWindow(int command) {
    QWidget* w = GetWidget();
    if (!w) return FALSE;
    const BOOL wasVisible = w->isVisible();
    switch (command) {
    case SW_HIDE: w->hide(); break;
    case SW_SHOWMINIMIZED: w->showMinimized(); break;
    case SW_SHOWMAXIMIZED: w->showMaximized(); break;
    default: w->show(); break;
    }
    if (command == SW_HIDE)
        m_hWnd->style &= ~WS_VISIBLE;
    else
        m_hWnd->style |= WS_VISIBLE;
    return wasVisible;
}

void CWnd::UpdateWindow() {
    if (QWidget* w = GetWidget()) w->repaint();
}

void CWnd::Invalidate(BOOL) {
    if (QWidget* w = GetWidget()) w->update();
}

BOOL CWnd::IsWindowVisible() const {
    QWidget* w = GetWidget();
    return w && w->isVisible();
}

BOOL CWnd::EnableWindow(BOOL enable) {
    QWidget* w = GetWidget();
    if (!w) return FALSE;
    const BOOL wasDisabled = !w->isEnabled();
    w->setEnabled(enable != FALSE);
    return wasDisabled;
}

BOOL CWnd::IsWindowEnabled() const {
    QWidget* w = GetWidget();
    return w && w->isEnabled();
}

void CWnd::SetFocus() {
    if (QWidget* w = GetWidget()) w->setFocus(Qt::OtherFocusReason);
}

BOOL CWnd::HideCaret() { return win::HideCaret(m_hWnd); }

DWORD CWnd::GetStyle() const { return m_hWnd ? m_hWnd->style : 0; }
DWORD CWnd::GetExStyle() const { return m_hWnd ? m_hWnd->exStyle : 0; }

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT) {
    if (!m_hWnd) return FALSE;
    const DWORD old = m_hWnd->style;
    const DWORD now = (old & ~remove) | add;
    if (now == old) return FALSE;
    m_hWnd->style = now;
    StyleChanged(old, now);
    return TRUE;
}

BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT) {
    if (!m_hWnd) return FALSE;
    const DWORD old = m_hWnd->exStyle;
    m_hWnd->exStyle = (old & ~remove) | add;
    return m_hWnd->exStyle != old;
}

void CWnd::SetWindowText(LPCSTR text) {
    QWidget* w = GetWidget();
    if (!w) return;
    const QString s = QString::fromLocal8Bit(text ? text : "");
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        button->setText(s);
    else if (auto* label = qobject_cast<QLabel*>(w))
        label->setText(s);
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        edit->setText(s);
    else
        w->setWindowTitle(s);
}

std::string CWnd::GetWindowText() const {
    QWidget* w = GetWidget();
    if (!w) return {};
    QString s;
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        s = button->text();
    else if (auto* label = qobject_cast<QLabel*>(w))
        s = label->text();
    else if (auto* edit = qobject_cast<QLineEdit*>(w))
        s = edit->text();
    else
        s = w->windowTitle();
    return s.toLocal8Bit().toStdString();
}

void CWnd::GetWindowText(std::string& text) const { text = GetWindowText(); }

CWnd* CWnd::GetParent() const {
    if (!m_hWnd) return nullptr;
    return FromHandle(m_hWnd->parent);
}

int CWnd::GetDlgCtrlID() const { return m_hWnd ? static_cast<int>(m_hWnd->id) : 0; }

CWnd* CWnd::GetDlgItem(int id) const {
    if (!m_hWnd) return nullptr;
    for (HWND child : HWND__::ChildrenOf(m_hWnd))
        if (static_cast<int>(child->id) == id && (child->style & WS_CHILD)) return child->wnd;
    return nullptr;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return SendMessageA(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProc(message, wParam, lParam);
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETTEXT:
        SetWindowText(reinterpret_cast<LPCSTR>(lParam));
        return TRUE;
    case WM_GETTEXT: {
        if (wParam == 0 || lParam == 0) return 0;
        const std::string text = GetWindowText();
        const size_t n = std::min<size_t>(text.size(), wParam - 1);
        std::memcpy(reinterpret_cast<char*>(lParam), text.data(), n);
        reinterpret_cast<char*>(lParam)[n] = '\0';
        return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(GetWindowText().size());
    case WM_CLOSE:
        OnClose();
        return 0;
    case WM_NOTIFY: {
        LRESULT result = 0;
        OnNotify(wParam, lParam, &result);
        return result;
    }
    default:
        return 0;
    }
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // Runs on the UI thread; the window may have gone while the call waited.
    auto run = [=]() -> LRESULT {
        CWnd* wnd = CWnd::FromHandle(window);
        return wnd ? wnd->WindowProc(message, wParam, lParam) : 0;
    };
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) return run();
    if (!HWND__::IsLive(window)) return 0;
    LRESULT result = 0;
    QMetaObject::invokeMethod(app, [&result, &run]() { result = run(); }, Qt::BlockingQueuedConnection);
    return result;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || !HWND__::IsLive(window)) return FALSE;
    QMetaObject::invokeMethod(
        app,
        [=]() {
            if (CWnd* wnd = CWnd::FromHandle(window)) wnd->WindowProc(message, wParam, lParam);
        },
        Qt::QueuedConnection);
    return TRUE;
}

BOOL HideCaret(HWND window) {
    CWnd* wnd = CWnd::FromHandle(window);
    if (!wnd || !wnd->GetWidget()) return FALSE;
    // Read-only text views show no caret once they cannot take text input.
    wnd->GetWidget()->setAttribute(Qt::WA_InputMethodEnabled, false);
    return TRUE;
}

HCURSOR LoadCursorA(HINSTANCE, LPCSTR name) {
    // The cursor handle is the resource number; the framework knows the arrow only.
    return const_cast<char*>(name);
}

}  // namespace win
