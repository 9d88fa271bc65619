// The common part of the toolbar and the status bar: a bar of the frame with a
// control id (59392, 59393) through which the View menu shows and hides it.
#pragma once

#include "framework/CWnd.h"

namespace win {

class CFrameWnd;

inline constexpr DWORD CBRS_BORDER_TOP = 0x0200;
inline constexpr DWORD CBRS_BORDER_BOTTOM = 0x0800;
inline constexpr DWORD CBRS_TOOLTIPS = 0x0010;
inline constexpr DWORD CBRS_FLYBY = 0x0020;
inline constexpr DWORD CBRS_GRIPPER = 0x00400000;
inline constexpr DWORD CBRS_SIZE_DYNAMIC = 0x0400;
inline constexpr DWORD CBRS_TOP = 0x2000 | CBRS_BORDER_BOTTOM;
inline constexpr DWORD CBRS_BOTTOM = 0x8000 | CBRS_BORDER_TOP;

class CControlBar : public CWnd {
public:
    ~CControlBar() override;
    void EnableDocking(DWORD dockStyle) { m_dwDockStyle = dockStyle; }
    DWORD GetDockStyle() const { return m_dwDockStyle; }
    DWORD m_dwBarStyle = 0;

protected:
    CFrameWnd* m_pFrame = nullptr;
    DWORD m_dwDockStyle = 0;
    void OnDestroy() override;
    /// Attaches the bar widget as a child window of the frame.
    BOOL AttachBar(QWidget* widget, CWnd* parent, DWORD style, UINT id);
};

}  // namespace win
