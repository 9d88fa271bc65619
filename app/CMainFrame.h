// The main frame: the framework's frame window with the program's toolbar and
// status bar, both dockable, and the display filter's bar. Ctrl+F puts the
// focus in the filter field; what the field sends goes to the view. While a
// capture runs the caption also names the adapter
// ("Untitled - Quorvane - Capturing on 127.0.0.1 (lo)").
#pragma once

#include "framework/CEditBar.h"
#include "framework/CFrameWnd.h"
#include "framework/CStatusBar.h"
#include "framework/CToolBar.h"

class CMainFrame : public win::CFrameWnd {
public:
    static const win::CRuntimeClass classCMainFrame;
    const win::CRuntimeClass* GetRuntimeClass() const override { return &classCMainFrame; }
    const win::CommandTable* GetCommandTable() const override;

    /// Ctrl+F: the keyboard focus to the display filter field.
    void OnViewDisplayFilter();

    void OnUpdateFrameTitle() override;

protected:
    win::BOOL PreCreateWindow(win::CREATESTRUCT& cs) override;
    int OnCreate(win::LPCREATESTRUCT lpCreateStruct) override;

    // Constructed in this order with the frame, destroyed in reverse.
    win::CStatusBar m_wndStatusBar;
    win::CToolBar m_wndToolBar;
    win::CEditBar m_wndFilterBar;

private:
    static const win::CommandEntry kCommands[];
};
