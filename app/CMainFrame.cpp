// The main frame's creation: toolbar from resource 128 along the top, the
// display filter's field on a line of its own under it, status bar with the
// message pane, the counters and the three lock indicators along the bottom.
#include "app/CMainFrame.h"

#include "app/Resource.h"
#include "document/CCorvelDoc.h"

using namespace win;

namespace {
const UINT kIndicators[] = {
    ID_SEPARATOR,  // the message pane
    ID_INDICATOR_CAPTURED,
    ID_INDICATOR_SHOWN,
    ID_INDICATOR_LOST,
    ID_INDICATOR_CAPS,
    ID_INDICATOR_NUM,
    ID_INDICATOR_SCRL,
};
// Widths of the counter panes in pixels of the 8-point font, for texts such
// as "Captured: 10,000,000" (the status bar converts them to its font).
constexpr int kCapturedWidth = 120;
constexpr int kShownWidth = 108;
constexpr int kLostWidth = 100;

}  // namespace

const CommandEntry CMainFrame::kCommands[] = {
    CommandHandler(ID_VIEW_DISPLAYFILTER, &CMainFrame::OnViewDisplayFilter),
};

const CommandTable* CMainFrame::GetCommandTable() const {
    static const CommandTable table{kCommands, CFrameWnd::GetCommandTable()};
    return &table;
}

const CRuntimeClass CMainFrame::classCMainFrame{"CMainFrame", []() -> CObject* { return new CMainFrame; }};

int CMainFrame::OnCreate(LPCREATESTRUCT lpCreateStruct) {
    if (CFrameWnd::OnCreate(lpCreateStruct) == -1) return -1;

    if (!m_wndToolBar.CreateEx(this, TBSTYLE_FLAT,
                               WS_CHILD | WS_VISIBLE | CBRS_TOP | CBRS_GRIPPER | CBRS_TOOLTIPS | CBRS_FLYBY |
                                   CBRS_SIZE_DYNAMIC,
                               RECT{0, 0, 0, 0}, AFX_IDW_TOOLBAR) ||
        !m_wndToolBar.LoadToolBar(IDR_MAINFRAME))
        return -1;

    if (!m_wndStatusBar.Create(this, WS_CHILD | WS_VISIBLE | CBRS_BOTTOM, AFX_IDW_STATUS_BAR) ||
        !m_wndStatusBar.SetIndicators(kIndicators, sizeof(kIndicators) / sizeof(UINT)))
        return -1;
    m_wndStatusBar.SetPaneInfo(1, ID_INDICATOR_CAPTURED, 0, kCapturedWidth);
    m_wndStatusBar.SetPaneInfo(2, ID_INDICATOR_SHOWN, 0, kShownWidth);
    m_wndStatusBar.SetPaneInfo(3, ID_INDICATOR_LOST, 0, kLostWidth);

    m_wndToolBar.EnableDocking(CBRS_ALIGN_ANY);
    EnableDocking(CBRS_ALIGN_ANY);
    DockControlBar(&m_wndToolBar);

    // Under the toolbar, above the list.
    if (!m_wndFilterBar.Create(this, "Display filter:", ID_DISPLAYFILTER_APPLY, WS_CHILD | WS_VISIBLE | CBRS_TOP,
                               IDW_DISPLAYFILTER))
        return -1;
    m_wndFilterBar.SetCueBanner("tcpdump expression, such as: tcp port 80 (Ctrl+F; Enter applies, Escape clears)");
    return 0;
}

void CMainFrame::OnViewDisplayFilter() { m_wndFilterBar.FocusField(); }

BOOL CMainFrame::PreCreateWindow(CREATESTRUCT& cs) { return CFrameWnd::PreCreateWindow(cs) ? TRUE : FALSE; }

void CMainFrame::OnUpdateFrameTitle() {
    CFrameWnd::OnUpdateFrameTitle();
    const auto* doc = dynamic_cast<const CCorvelDoc*>(GetActiveDocument());
    if (!doc || doc->GetCapturingOn().empty()) return;
    SetWindowText(GetWindowText() + " - Capturing on " + doc->GetCapturingOn());
}
