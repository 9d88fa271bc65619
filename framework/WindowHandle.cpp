// The registry of live window handles. It is read from any thread (IsWindow,
// SendMessage) and written on the UI thread, so one mutex guards it.
#include "framework/WindowHandle.h"

#include <algorithm>
#include <mutex>

namespace win {
namespace {

struct Registry {
    std::mutex lock;
    std::vector<HWND> live;  // in creation order
    std::vector<HWND> retired;  // kept so that records are never reused
};

Registry& TheRegistry() {
    static Registry* registry = new Registry;  // lives to the end of the process
    return *registry;
}

}  // namespace

HWND HWND__::Register(QWidget* widget, CWnd* wnd, HWND parent, DWORD style, DWORD exStyle, UINT id) {
    auto* h = new HWND__;
    h->widget = widget;
    h->wnd = wnd;
    h->parent = parent;
    h->style = style;
    h->exStyle = exStyle;
    h->id = id;
    Registry& r = TheRegistry();
    std::lock_guard guard(r.lock);
    r.live.push_back(h);
    return h;
}

void HWND__::Unregister(HWND window) {
    Registry& r = TheRegistry();
    std::lock_guard guard(r.lock);
    auto it = std::find(r.live.begin(), r.live.end(), window);
    if (it == r.live.end()) return;
    r.live.erase(it);
    window->wnd = nullptr;
    window->widget = nullptr;
    r.retired.push_back(window);
}

bool HWND__::IsLive(HWND window) {
    if (!window) return false;
    Registry& r = TheRegistry();
    std::lock_guard guard(r.lock);
    return std::find(r.live.begin(), r.live.end(), window) != r.live.end();
}

std::vector<HWND> HWND__::ChildrenOf(HWND window) {
    std::vector<HWND> children;
    Registry& r = TheRegistry();
    std::lock_guard guard(r.lock);
    for (HWND h : r.live)
        if (h->parent == window) children.push_back(h);
    return children;
}

HWND HWND__::FromWidget(const QWidget* widget) {
    if (!widget) return nullptr;
    Registry& r = TheRegistry();
    std::lock_guard guard(r.lock);
    for (HWND h : r.live)
        if (h->widget == widget) return h;
    return nullptr;
}

BOOL IsWindow(HWND window) { return HWND__::IsLive(window) ? TRUE : FALSE; }

}  // namespace win
