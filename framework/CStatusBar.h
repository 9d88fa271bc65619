// The status bar: pane 0 shows the current prompt or "Ready" (string 57345)
// and takes the free width; indicator panes (59137 CAP, 59138 NUM, 59139
// SCRL) show their text only while the lock is on and are as wide as it.
// Lock states are polled on the frame's idle pass and read from the display
// (KeyboardLocks.h); where the display does not offer them they are off.
// Any other indicator pane shows what its command's update handler sets with
// CCmdUI::SetText on that pass (ten times a second), and nothing while the
// handler disables it or none handles it. SetPaneInfo gives a pane a width in
// pixels of the 8-point reference font, converted to the bar's font as
// dialog units are (FontScale.h).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "framework/CControlBar.h"

class QLabel;

namespace win {


class CStatusBar : public CControlBar {
public:
    BOOL Create(CWnd* parent, DWORD style = WS_CHILD | WS_VISIBLE | CBRS_BOTTOM, UINT id = 59393);
    BOOL SetIndicators(const UINT* ids, int count);
    void SetPaneText(int index, const std::string& text);
    /// Sets a pane's id and width (reference pixels); style is kept for the
    /// platform's signature and ignored.
    BOOL SetPaneInfo(int index, UINT id, UINT style, int width);
    /// The pane's width in pixels (tests).
    int GetPaneWidth(int index) const;
    std::string GetPaneText(int index) const;
    int GetCount() const { return static_cast<int>(m_panes.size()); }
    /// Reads the lock states and updates the indicator panes.
    void UpdateIndicators();

private:
    std::vector<UINT> m_ids;
    std::vector<QLabel*> m_panes;
};

namespace testing {
void FailNextStatusBarCreate();
void FailNextSetIndicators();
/// Replaces the lock-state reader (argument: 59137, 59138 or 59139); null restores it.
void SetLockStateReader(std::function<bool(UINT indicator)> reader);
}  // namespace testing

}  // namespace win
