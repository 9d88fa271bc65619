// The event filter that turns a window widget's Qt events into CWnd calls:
// resizes into OnSize, the user's close request on a top-level window into
// OnClose. One instance per window, parented to its widget. Framework-internal.
#pragma once

#include <QObject>

#include "framework/WinUser.h"

namespace win {

class WindowEvents : public QObject {
public:
    WindowEvents(QWidget* widget, HWND handle);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    HWND m_handle;
};

}  // namespace win
