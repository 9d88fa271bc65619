// An owned top-level window (one created with a parent window) stays above
// its owner and is minimised with it. Qt tells the window system of the owner
// only for dialogs and tool windows; for an ordinary window on X11 this sets
// WM_TRANSIENT_FOR itself, so that the window manager keeps the two together. Other platforms rely on Qt's own
// transient parent. Qt clears WM_TRANSIENT_FOR of an ordinary window when it
// shows it, so this is called after every show.
#pragma once

class QWidget;

namespace win {

/// Marks window as owned by owner's top-level window; call after each show.
void SetWindowOwner(QWidget* window, QWidget* owner);

}  // namespace win
