// The main frame's creation: toolbar from resource 128 along the top, status
// bar with the message pane and the three lock indicators along the bottom.
#include "app/CMainFrame.h"

#include "app/Resource.h"
#include "document/CCorvelDoc.h"

using namespace win;

namespace {
const UINT kIndicators[] = {
    ID_SEPARATOR,  // the message pane
    ID_INDICATOR_CAPS,
    ID_INDICATOR_NUM,
    ID_INDICATOR_SCRL,
};
}  // namespace

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

    m_wndToolBar.EnableDocking(CBRS_ALIGN_ANY);
    EnableDocking(CBRS_ALIGN_ANY);
    DockControlBar(&m_wndToolBar);
    return 0;
}

BOOL CMainFrame::PreCreateWindow(CREATESTRUCT& cs) { return CFrameWnd::PreCreateWindow(cs) ? TRUE : FALSE; }

void CMainFrame::OnUpdateFrameTitle() {
    CFrameWnd::OnUpdateFrameTitle();
    const auto* doc = dynamic_cast<const CCorvelDoc*>(GetActiveDocument());
    if (!doc || doc->GetCapturingOn().empty()) return;
    SetWindowText(GetWindowText() + " - Capturing on " + doc->GetCapturingOn());
}
