// The lock states from X11's keyboard extension. The indicators are looked up
// by their names ("Caps Lock", "Num Lock", "Scroll Lock") rather than by bit
// position, because the keymap decides which indicator sits where. The three
// requests go out together on Qt's own XCB connection, and their answers are
// read without waiting, one call later. On other platforms Qt offers no X11
// connection and the locks read as off.
#include "framework/KeyboardLocks.h"

#include <QGuiApplication>

// After Qt: X11's headers define macros (None, Bool, Status) that Qt's
// headers would otherwise trip over.
#include <X11/Xlib.h>
#include <xcb/xcbext.h>
// The keyboard extension's header names a field "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <algorithm>
#include <cstdlib>
#include <iterator>

namespace win {

namespace {

QNativeInterface::QX11Application* X11() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    return app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
}

}  // namespace

KeyboardLockStates ReadKeyboardLocks() {
    // The answers to one call's requests are taken by the next call (the
    // status bar asks ten times a second), so the window thread never waits
    // for the display, which may be busy drawing the window.
    static xcb_connection_t* asking = nullptr;
    static xcb_xkb_get_named_indicator_cookie_t cookies[3];
    static bool asked[3] = {};
    static KeyboardLockStates known;
    static int waitedCalls = 0;  // calls that found an answer still missing

    QNativeInterface::QX11Application* x11 = X11();
    ::Display* display = x11 ? x11->display() : nullptr;
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!display || !connection) return {};
    bool* const on[] = {&known.caps, &known.num, &known.scroll};
    if (connection != asking) {
        // Another display (a new application object): nothing known of it yet.
        asking = connection;
        std::fill(std::begin(asked), std::end(asked), false);
        known = {};
    }
    bool waiting = false;
    for (int i = 0; i < 3; ++i) {
        if (!asked[i]) continue;
        void* reply = nullptr;
        xcb_generic_error_t* error = nullptr;
        if (!xcb_poll_for_reply(connection, cookies[i].sequence, &reply, &error)) {
            waiting = true;
            continue;
        }
        auto* answer = static_cast<xcb_xkb_get_named_indicator_reply_t*>(reply);
        *on[i] = answer && answer->found && answer->on;
        asked[i] = false;
        std::free(reply);
        std::free(error);
    }
    // An answer that never comes (the display gone quiet) is given up after
    // about two seconds, and the question asked again.
    if (waiting && ++waitedCalls < 20) return known;
    for (int i = 0; i < 3; ++i) {
        if (asked[i]) xcb_discard_reply(connection, cookies[i].sequence);
        asked[i] = false;
    }
    waitedCalls = 0;
    const char* const names[] = {"Caps Lock", "Num Lock", "Scroll Lock"};
    for (int i = 0; i < 3; ++i) {
        // Xlib caches interned atoms, so only the first lookup of a name asks
        // the server; an indicator name the server has never heard of reads as off.
        const Atom atom = XInternAtom(display, names[i], True);
        if (atom == None) {
            *on[i] = false;
            continue;
        }
        cookies[i] = xcb_xkb_get_named_indicator(connection, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_LED_CLASS_DFLT_XI_CLASS,
                                                 XCB_XKB_ID_DFLT_XI_ID, static_cast<xcb_atom_t>(atom));
        asked[i] = true;
    }
    xcb_flush(connection);
    return known;
}

}  // namespace win
