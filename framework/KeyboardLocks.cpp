// The lock states from X11's keyboard extension. The indicators are looked up
// by their names ("Caps Lock", "Num Lock", "Scroll Lock") rather than by bit
// position, because the keymap decides which indicator sits where. The three
// requests go out on Qt's own XCB connection together and their answers come
// back in one round trip (the status bar reads them ten times a second). On
// other platforms Qt offers no X11 connection and the locks read as off.
#include "framework/KeyboardLocks.h"

#include <QGuiApplication>

// After Qt: X11's headers define macros (None, Bool, Status) that Qt's
// headers would otherwise trip over.
#include <X11/Xlib.h>
// The keyboard extension's header names a field "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>

namespace win {

namespace {

QNativeInterface::QX11Application* X11() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    return app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
}

}  // namespace

KeyboardLockStates ReadKeyboardLocks() {
    KeyboardLockStates states;
    QNativeInterface::QX11Application* x11 = X11();
    ::Display* display = x11 ? x11->display() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!display || !connection) return states;
    const char* const names[] = {"Caps Lock", "Num Lock", "Scroll Lock"};
    bool* const on[] = {&states.caps, &states.num, &states.scroll};
    xcb_xkb_get_named_indicator_cookie_t cookies[3];
    bool asked[3] = {};
    for (int i = 0; i < 3; ++i) {
        // Xlib caches interned atoms, so only the first lookup of a name asks
        // the server; an indicator name the server has never heard of reads as off.
        const Atom atom = XInternAtom(display, names[i], True);
        if (atom == None) continue;
        cookies[i] = xcb_xkb_get_named_indicator(connection, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_LED_CLASS_DFLT_XI_CLASS,
                                                 XCB_XKB_ID_DFLT_XI_ID, static_cast<xcb_atom_t>(atom));
        asked[i] = true;
    }
    for (int i = 0; i < 3; ++i) {
        if (!asked[i]) continue;
        xcb_generic_error_t* error = nullptr;
        xcb_xkb_get_named_indicator_reply_t* reply = xcb_xkb_get_named_indicator_reply(connection, cookies[i], &error);
        if (reply) *on[i] = reply->found && reply->on;
        std::free(reply);
        std::free(error);
    }
    return states;
}

}  // namespace win
