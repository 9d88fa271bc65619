// The main frame: a QMainWindow with the menu bar and accelerators built from
// the resources of its id, the caption "document title - window title", the
// view as its client, docked control bars, status-bar prompts, command
// routing (active view, its document, the frame, the application) with the
// update-UI passes, and the exit sequence when it is closed.
#pragma once

#include <string>
#include <vector>

#include "framework/CWnd.h"

class QAction;
class QStyle;
class QTimer;

namespace win {

class CView;
class CDocument;
class CControlBar;
class CStatusBar;
struct CRuntimeClass;

inline constexpr UINT AFX_IDW_TOOLBAR = 59392;
inline constexpr UINT AFX_IDW_STATUS_BAR = 59393;
inline constexpr DWORD FWS_ADDTOTITLE = 0x00008000;
inline constexpr DWORD CBRS_ALIGN_LEFT = 0x1000;
inline constexpr DWORD CBRS_ALIGN_TOP = 0x2000;
inline constexpr DWORD CBRS_ALIGN_RIGHT = 0x4000;
inline constexpr DWORD CBRS_ALIGN_BOTTOM = 0x8000;
inline constexpr DWORD CBRS_ALIGN_ANY = 0xF000;

/// What the template passes to the frame's creation: the view class and document.
struct CCreateContext {
    const CRuntimeClass* m_pNewViewClass = nullptr;
    CDocument* m_pCurrentDoc = nullptr;
};

class CFrameWnd : public CWnd {
public:
    CFrameWnd();
    ~CFrameWnd() override;

    /// Creates the hidden frame from resource id (title field 0 of string id,
    /// menu, accelerators and icon of that id) and its view from the context.
    virtual BOOL LoadFrame(UINT resourceId, DWORD style, CWnd* parent, CCreateContext* context);

    CView* GetActiveView() const { return m_pActiveView; }
    void SetActiveView(CView* view) { m_pActiveView = view; }
    CDocument* GetActiveDocument() const;

    void EnableDocking(DWORD dockStyle);
    void DockControlBar(CControlBar* bar);
    /// The bar with this control id, else null.
    CControlBar* GetControlBar(UINT id) const;
    void ShowControlBar(CControlBar* bar, BOOL show);

    /// Sets the caption from the active document's title and the window title.
    virtual void OnUpdateFrameTitle();
    /// Calls OnInitialUpdate of every view of the document and shows the frame.
    void InitialUpdateFrame(CDocument* doc, BOOL makeVisible);

    /// Routes a command: active view, its document, the frame, the application.
    BOOL RouteCommand(UINT id);
    /// Asks the routing for the command's state; false when it is disabled.
    BOOL UpdateCommand(CCmdUI* ui);
    /// Executes a command from menu, key or button: nothing when disabled.
    void ExecuteCommand(UINT id);
    /// One update pass over the toolbar buttons (also run at idle).
    void OnIdleUpdateCmdUI();

    /// Shows a command's prompt in the status bar (id 0: "Ready").
    void SetMessageText(UINT commandId);
    void SetMessageText(const std::string& text);

    void OnBarCheck();
    void OnUpdateControlBarMenu(CCmdUI* ui);
    const CommandTable* GetCommandTable() const override;

    // Framework use.
    void AddControlBar(CControlBar* bar);
    void RemoveControlBar(CControlBar* bar);
    CStatusBar* GetStatusBar() const;
    /// The menu-bar and accelerator actions built from the resources.
    const std::vector<QAction*>& GetMenuActions() const { return m_menuActions; }
    const std::vector<QAction*>& GetAcceleratorActions() const { return m_accelActions; }
    std::string m_strTitle;  // the window title (template field 0)

protected:
    BOOL PreCreateWindow(CREATESTRUCT& cs) override;
    QWidget* CreateWidget(const CREATESTRUCT& cs, QWidget* parent) override;
    /// Creates the view from the creation context; -1 on failure.
    int OnCreate(LPCREATESTRUCT cs) override;
    /// The close box and Exit: asks the document, then closes it and ends the loop.
    void OnClose() override;
    void OnDestroy() override;
    void PostNcDestroy() override;

private:
    void BuildMenu(UINT id);
    void BuildAccelerators(UINT id);
    void UpdateMenuActions(const std::vector<QAction*>& actions);
    QAction* MakeCommandAction(UINT id, const char* text);
    /// Puts "Ready" back when the prompt's item or button is no longer under the pointer.
    void RestoreIdlePrompt();
    static const CommandEntry kCommands[];
    UINT m_nIDResource = 0;
    CView* m_pActiveView = nullptr;
    std::vector<CControlBar*> m_bars;
    std::vector<QAction*> m_menuActions;
    std::vector<QAction*> m_accelActions;
    QTimer* m_idleTimer = nullptr;
    QStyle* m_menuStyle = nullptr;  // lets disabled menu items be highlighted
    UINT m_promptId = 0;            // the command whose prompt the status bar shows
    bool m_bAutoDelete = false;  // set once the window exists
};

}  // namespace win
