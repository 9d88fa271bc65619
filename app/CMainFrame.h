// The main frame: the framework's frame window with the program's toolbar and
// status bar, both dockable. While a capture runs its caption also names the
// adapter ("Untitiled - Quorvane - Capturing on 127.0.0.1 (lo)").
#pragma once

#include "framework/CFrameWnd.h"
#include "framework/CStatusBar.h"
#include "framework/CToolBar.h"

class CMainFrame : public win::CFrameWnd {
public:
    static const win::CRuntimeClass classCMainFrame;
    const win::CRuntimeClass* GetRuntimeClass() const override { return &classCMainFrame; }

    void OnUpdateFrameTitle() override;

protected:
    win::BOOL PreCreateWindow(win::CREATESTRUCT& cs) override;
    int OnCreate(win::LPCREATESTRUCT lpCreateStruct) override;

    // Constructed in this order with the frame, destroyed in reverse.
    win::CStatusBar m_wndStatusBar;
    win::CToolBar m_wndToolBar;
};
