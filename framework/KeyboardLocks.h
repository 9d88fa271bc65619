// Reading the keyboard's lock states (Caps Lock, Num Lock, Scroll Lock) from
// the display. Only the X11 display offers them to a client; on any other
// platform, or when the display cannot answer, every lock reads as off. Kept
// apart from the status bar so that the X11 headers, whose macros clash with
// Qt's and the framework's names, are included in one source file only.
// Framework-internal.
#pragma once

namespace win {

struct KeyboardLockStates {
    bool caps = false;
    bool num = false;
    bool scroll = false;
};

/// Every lock's indicator state as last answered by the display, and a new
/// question for the next call; all off until the first answer, and when the
/// display offers no lock states. Window thread only.
KeyboardLockStates ReadKeyboardLocks();

}  // namespace win
