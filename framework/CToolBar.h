// The toolbar: a QToolBar of the main window, dockable on the four sides and
// floating, with a gripper. LoadToolBar builds the buttons from the toolbar
// resource: images cut from the bitmap of the same id in button order,
// separators for 0, buttons 7 pixels larger than the images, tooltips from
// the second line of each command string, the prompt while hovered.
#pragma once

#include <QPixmap>
#include <vector>

#include "framework/CControlBar.h"

namespace win {

inline constexpr DWORD TBSTYLE_FLAT = 0x0800;

class CToolBar : public CControlBar {
public:
    BOOL CreateEx(CWnd* parent, DWORD ctrlStyle, DWORD style, const RECT& borders = RECT{0, 0, 0, 0},
                  UINT id = 59392);
    BOOL LoadToolBar(UINT id);
    /// The command id of each item in order (0 for separators).
    const std::vector<UINT>& GetItemIds() const { return m_items; }
    /// Image index of the strip (images of width x height) with its light grey
    /// ground transparent; at a fractional scale, smoothly scaled to it.
    static QPixmap ButtonImage(const QPixmap& strip, int index, int width, int height, qreal scale);

private:
    std::vector<UINT> m_items;
};

namespace testing {
/// Makes the next toolbar CreateEx (or LoadToolBar) fail once.
void FailNextToolBarCreate();
void FailNextToolBarLoad();
}  // namespace testing

}  // namespace win
