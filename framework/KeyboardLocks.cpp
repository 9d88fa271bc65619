// The lock states from X11's keyboard extension. The indicators are looked up
// by their names ("Caps Lock", "Num Lock", "Scroll Lock") rather than by bit
// position, because the keymap decides which indicator sits where. The
// Display is the one Qt's xcb platform opened; on other platforms Qt offers
// none and the locks read as off.
#include "framework/KeyboardLocks.h"

#include <QGuiApplication>

// After Qt: X11's headers define macros (None, Bool, Status) that Qt's
// headers would otherwise trip over.
#include <X11/XKBlib.h>

namespace win {

namespace {

const char* IndicatorName(KeyboardLock lock) {
    switch (lock) {
    case KeyboardLock::Caps: return "Caps Lock";
    case KeyboardLock::Num: return "Num Lock";
    case KeyboardLock::Scroll: return "Scroll Lock";
    }
    return nullptr;
}

::Display* X11Display() {
    auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    if (!app) return nullptr;
    auto* x11 = app->nativeInterface<QNativeInterface::QX11Application>();
    return x11 ? x11->display() : nullptr;
}

}  // namespace

bool IsKeyboardLockOn(KeyboardLock lock) {
    ::Display* display = X11Display();
    const char* name = IndicatorName(lock);
    if (!display || !name) return false;
    // Xlib caches interned atoms, so only the first lookup of a name asks the
    // server; an indicator name the server has never heard of reads as off.
    const Atom atom = XInternAtom(display, name, True);
    if (atom == None) return false;
    int index = 0;
    Bool on = False;
    XkbIndicatorMapRec map{};
    Bool real = False;
    if (!XkbGetNamedIndicator(display, atom, &index, &on, &map, &real)) return false;
    return on != False;
}

}  // namespace win
