// The main frame on QMainWindow: menus, accelerators, routing, update passes,
// bars, caption and the exit sequence.
#include "framework/CFrameWnd.h"

#include <QAction>
#include <QApplication>
#include <QCursor>
#include <QScreen>
#include <QProxyStyle>
#include <QToolButton>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPixmap>
#include <QTimer>
#include <QToolBar>

#include "framework/AcceleratorKeyFilter.h"
#include "framework/AfxStrings.h"
#include "framework/CControlBar.h"
#include "framework/CDocument.h"
#include "framework/CStatusBar.h"
#include "framework/CView.h"
#include "framework/CWinApp.h"
#include "framework/FrameworkIds.h"
#include "framework/Resources.h"

namespace win {
using namespace afx;

namespace {

/// The update record for one QAction (menu item, accelerator or button).
class ActionCmdUI : public CCmdUI {
public:
    explicit ActionCmdUI(QAction* action) : CCmdUI(action->data().toUInt()), m_action(action) {}
    void Enable(BOOL on) override {
        CCmdUI::Enable(on);
        m_action->setEnabled(on != FALSE);
    }
    void SetCheck(int check) override {
        CCmdUI::SetCheck(check);
        m_action->setCheckable(true);
        m_action->setChecked(check != 0);
    }

private:
    QAction* m_action;
};

QKeySequence KeyOf(const AcceleratorEntry& entry) {
    int key = 0;
    const WORD vk = entry.key;
    if (vk >= 'A' && vk <= 'Z') key = Qt::Key_A + (vk - 'A');
    else if (vk >= '0' && vk <= '9') key = Qt::Key_0 + (vk - '0');
    else if (vk == VK_BACK) key = Qt::Key_Backspace;
    else if (vk == VK_ESCAPE) key = Qt::Key_Escape;
    else if (vk == VK_INSERT) key = Qt::Key_Insert;
    else if (vk == VK_DELETE) key = Qt::Key_Delete;
    else if (vk >= 0x70 && vk <= 0x87) key = Qt::Key_F1 + (vk - 0x70);
    else return {};
    int modifiers = 0;
    if (entry.flags & FCONTROL) modifiers |= Qt::ControlModifier;
    if (entry.flags & FSHIFT) modifiers |= Qt::ShiftModifier;
    if (entry.flags & FALT) modifiers |= Qt::AltModifier;
    return QKeySequence(key | modifiers);
}

/// Menu items can be highlighted while disabled, as on the platform the
/// framework stands in for, so that their prompts show in the status bar.
class MenuPromptStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* data) const override {
        if (hint == QStyle::SH_Menu_AllowActiveAndDisabled) return 1;
        return QProxyStyle::styleHint(hint, option, widget, data);
    }
};

/// The size a desktop gives a new main window: three quarters of each side
/// of the available screen area, at least 640 x 480 where the screen allows.
QSize DefaultFrameSize() {
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen) return QSize(640, 480);
    const QRect available = screen->availableGeometry();
    return QSize(std::min(std::max(available.width() * 3 / 4, 640), available.width()),
                 std::min(std::max(available.height() * 3 / 4, 480), available.height()));
}

}  // namespace

const CommandEntry CFrameWnd::kCommands[] = {
    CommandHandler(ID_VIEW_TOOLBAR, &CFrameWnd::OnBarCheck),
    UpdateHandler(ID_VIEW_TOOLBAR, &CFrameWnd::OnUpdateControlBarMenu),
    CommandHandler(ID_VIEW_STATUS_BAR, &CFrameWnd::OnBarCheck),
    UpdateHandler(ID_VIEW_STATUS_BAR, &CFrameWnd::OnUpdateControlBarMenu),
};

const CommandTable* CFrameWnd::GetCommandTable() const {
    static const CommandTable table{kCommands, nullptr};
    return &table;
}

CFrameWnd::CFrameWnd() = default;
CFrameWnd::~CFrameWnd() = default;

BOOL CFrameWnd::PreCreateWindow(CREATESTRUCT& cs) {
    cs.dwExStyle |= WS_EX_CLIENTEDGE;
    return TRUE;
}

QWidget* CFrameWnd::CreateWidget(const CREATESTRUCT&, QWidget* parent) {
    auto* window = new QMainWindow(parent);
    window->setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks);
    return window;
}

BOOL CFrameWnd::LoadFrame(UINT resourceId, DWORD style, CWnd* parent, CCreateContext* context) {
    m_nIDResource = resourceId;
    std::string full;
    AfxLoadString(resourceId, full);
    AfxExtractSubString(m_strTitle, full, 0);
    const QSize size = DefaultFrameSize();
    if (!CreateEx(0, nullptr, m_strTitle.c_str(), style & ~WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, size.width(),
                  size.height(),
                  parent ? parent->m_hWnd : nullptr, nullptr, context))
        return FALSE;
    m_bAutoDelete = true;
    return TRUE;
}

int CFrameWnd::OnCreate(LPCREATESTRUCT cs) {
    auto* window = static_cast<QMainWindow*>(GetWidget());
    BuildMenu(m_nIDResource);
    BuildAccelerators(m_nIDResource);
    if (const IconResource* icon = AfxFindIcon(m_nIDResource)) {
        QIcon qicon;
        if (icon->large) qicon.addPixmap(QPixmap(icon->large));
        if (icon->small) qicon.addPixmap(QPixmap(icon->small));
        window->setWindowIcon(qicon);
        // Every window of the program carries its icon, dialogs shown before
        // the frame included.
        if (QApplication::windowIcon().isNull()) QApplication::setWindowIcon(qicon);
    }
    new AcceleratorKeyFilter(window, m_accelActions);
    auto* context = static_cast<CCreateContext*>(cs->lpCreateParams);
    if (context && context->m_pNewViewClass) {
        CObject* object = context->m_pNewViewClass->CreateObject();
        auto* view = dynamic_cast<CView*>(object);
        if (!view) {
            delete object;
            return -1;
        }
        if (context->m_pCurrentDoc) context->m_pCurrentDoc->AddView(view);
        if (!view->CreateEx(0, nullptr, nullptr, WS_CHILD | WS_VISIBLE | WS_BORDER, CRect(0, 0, 0, 0), this,
                            AFX_IDW_PANE_FIRST, context)) {
            if (context->m_pCurrentDoc) context->m_pCurrentDoc->RemoveView(view);
            delete view;
            return -1;
        }
        window->setCentralWidget(view->GetWidget());
        m_pActiveView = view;
    }
    m_idleTimer = new QTimer(window);
    m_idleTimer->setInterval(100);
    QObject::connect(m_idleTimer, &QTimer::timeout, window, [this]() { OnIdleUpdateCmdUI(); });
    m_idleTimer->start();
    return 0;
}

QAction* CFrameWnd::MakeCommandAction(UINT id, const char* text) {
    auto* action = new QAction(QString::fromLocal8Bit(text ? text : ""), GetWidget());
    action->setData(id);
    QObject::connect(action, &QAction::triggered, GetWidget(), [this, id]() { ExecuteCommand(id); });
    QObject::connect(action, &QAction::hovered, GetWidget(), [this, id]() { SetMessageText(id); });
    return action;
}

void CFrameWnd::BuildMenu(UINT id) {
    const MenuResource* menu = AfxFindMenu(id);
    if (!menu) return;
    auto* window = static_cast<QMainWindow*>(GetWidget());
    QMenuBar* bar = window->menuBar();
    std::vector<QMenu*> open;  // the popups being filled, innermost last
    for (const MenuItemResource& item : menu->items) {
        const QString text = QString::fromLocal8Bit(item.text ? item.text : "");
        if (item.flags & MF_POPUP) {
            QMenu* popup = open.empty() ? bar->addMenu(text) : open.back()->addMenu(text);
            if (!m_menuStyle) {
                m_menuStyle = new MenuPromptStyle;
                m_menuStyle->setParent(window);
            }
            popup->setStyle(m_menuStyle);
            QObject::connect(popup, &QMenu::aboutToShow, window, [this, popup]() {
                const QList<QAction*> list = popup->actions();
                std::vector<QAction*> actions(list.begin(), list.end());
                UpdateMenuActions(actions);
            });
            QObject::connect(popup, &QMenu::aboutToHide, window, [this]() { SetMessageText(0U); });
            open.push_back(popup);
            continue;
        }
        if (open.empty()) continue;
        if (item.flags & MF_SEPARATOR) {
            open.back()->addSeparator();
        } else {
            QAction* action = MakeCommandAction(item.id, item.text);
            open.back()->addAction(action);
            m_menuActions.push_back(action);
        }
        if (item.flags & MF_END) open.pop_back();
    }
}

void CFrameWnd::BuildAccelerators(UINT id) {
    const AcceleratorResource* table = AfxFindAccelerators(id);
    if (!table) return;
    for (const AcceleratorEntry& entry : table->entries) {
        QKeySequence key = KeyOf(entry);
        if (key.isEmpty()) continue;
        QAction* action = MakeCommandAction(entry.command, nullptr);
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
        GetWidget()->addAction(action);
        m_accelActions.push_back(action);
    }
}

CDocument* CFrameWnd::GetActiveDocument() const {
    return m_pActiveView ? m_pActiveView->GetDocument() : nullptr;
}

BOOL CFrameWnd::RouteCommand(UINT id) {
    CView* view = m_pActiveView;
    if (view && view->OnCmdMsg(id)) return TRUE;
    CDocument* doc = view ? view->GetDocument() : nullptr;
    if (doc && doc->OnCmdMsg(id)) return TRUE;
    if (OnCmdMsg(id)) return TRUE;
    CWinApp* app = AfxGetApp();
    return app && app->OnCmdMsg(id);
}

BOOL CFrameWnd::UpdateCommand(CCmdUI* ui) {
    CView* view = m_pActiveView;
    CDocument* doc = view ? view->GetDocument() : nullptr;
    CWinApp* app = AfxGetApp();
    CCmdTarget* route[] = {view, doc, this, app};
    // An update handler anywhere on the route decides first; one that changes
    // nothing leaves the command enabled when some table handles it.
    for (CCmdTarget* target : route)
        if (target && target->OnUpdateCmdMsg(ui)) break;
    if (!ui->m_bEnableChanged) {
        bool handled = false;
        for (CCmdTarget* target : route)
            if (target && target->HasCommandHandler(ui->m_nID)) handled = true;
        ui->Enable(handled ? TRUE : FALSE);
    }
    return ui->m_bEnabled ? TRUE : FALSE;
}

void CFrameWnd::ExecuteCommand(UINT id) {
    CCmdUI state(id);
    if (!UpdateCommand(&state)) return;
    // The command may destroy this frame (which deletes itself): keep the
    // handle, whose record outlives the window, to tell afterwards.
    HWND__* self = m_hWnd;
    RouteCommand(id);
    if (IsWindow(self)) OnIdleUpdateCmdUI();
}

void CFrameWnd::UpdateMenuActions(const std::vector<QAction*>& actions) {
    for (QAction* action : actions) {
        // Widgets on a bar (an edit field) carry no command id.
        if (action->isSeparator() || action->menu() || !action->data().isValid()) continue;
        ActionCmdUI ui(action);
        UpdateCommand(&ui);
    }
}

void CFrameWnd::OnIdleUpdateCmdUI() {
    // Accelerators too, so that a disabled command's key does nothing even
    // before its menu has been opened (ExecuteCommand checks again anyway).
    UpdateMenuActions(m_accelActions);
    for (CControlBar* bar : m_bars) {
        auto* toolbar = qobject_cast<QToolBar*>(bar->GetWidget());
        if (!toolbar) continue;
        const QList<QAction*> list = toolbar->actions();
        std::vector<QAction*> actions(list.begin(), list.end());
        UpdateMenuActions(actions);
    }
    if (CStatusBar* status = GetStatusBar()) status->UpdateIndicators();
    RestoreIdlePrompt();
}

void CFrameWnd::RestoreIdlePrompt() {
    // A prompt stays only while its item or button is under the pointer (or
    // highlighted in an open menu); leave events do not always come, for
    // example when the window is maximised under the pointer.
    if (m_promptId == 0) return;
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        if (QAction* active = menu->activeAction(); active && active->data().toUInt() == m_promptId) return;
    } else if (!QApplication::activePopupWidget()) {
        auto* button = qobject_cast<QToolButton*>(QApplication::widgetAt(QCursor::pos()));
        if (button && button->defaultAction() && button->defaultAction()->data().toUInt() == m_promptId) return;
    }
    SetMessageText(0U);
}

void CFrameWnd::SetMessageText(UINT commandId) {
    std::string text;
    if (commandId != 0) {
        std::string full;
        if (AfxLoadString(commandId, full)) AfxExtractSubString(text, full, 0);
    }
    if (text.empty()) AfxLoadString(AFX_IDS_IDLEMESSAGE, text);
    SetMessageText(text);
    m_promptId = commandId;
}

void CFrameWnd::SetMessageText(const std::string& text) {
    m_promptId = 0;
    if (CStatusBar* status = GetStatusBar()) status->SetPaneText(0, text);
}

void CFrameWnd::AddControlBar(CControlBar* bar) { m_bars.push_back(bar); }

void CFrameWnd::RemoveControlBar(CControlBar* bar) {
    m_bars.erase(std::remove(m_bars.begin(), m_bars.end(), bar), m_bars.end());
}

CControlBar* CFrameWnd::GetControlBar(UINT id) const {
    for (CControlBar* bar : m_bars)
        if (static_cast<UINT>(bar->GetDlgCtrlID()) == id) return bar;
    return nullptr;
}

CStatusBar* CFrameWnd::GetStatusBar() const { return dynamic_cast<CStatusBar*>(GetControlBar(AFX_IDW_STATUS_BAR)); }

void CFrameWnd::EnableDocking(DWORD dockStyle) {
    auto* window = static_cast<QMainWindow*>(GetWidget());
    window->setDockNestingEnabled((dockStyle & CBRS_ALIGN_ANY) == CBRS_ALIGN_ANY);
}

void CFrameWnd::DockControlBar(CControlBar* bar) {
    auto* window = static_cast<QMainWindow*>(GetWidget());
    auto* toolbar = qobject_cast<QToolBar*>(bar->GetWidget());
    if (!window || !toolbar) return;
    const DWORD style = bar->m_dwBarStyle;
    Qt::ToolBarArea area = Qt::TopToolBarArea;
    if (style & CBRS_ALIGN_BOTTOM) area = Qt::BottomToolBarArea;
    if (style & CBRS_ALIGN_LEFT) area = Qt::LeftToolBarArea;
    if (style & CBRS_ALIGN_RIGHT) area = Qt::RightToolBarArea;
    if (style & CBRS_ALIGN_TOP) area = Qt::TopToolBarArea;
    window->addToolBar(area, toolbar);
}

void CFrameWnd::ShowControlBar(CControlBar* bar, BOOL show) {
    if (bar) bar->ShowWindow(show ? SW_SHOW : SW_HIDE);
}

void CFrameWnd::OnBarCheck() {
    CControlBar* bar = GetControlBar(CCmdTarget::GetCurrentCommand());
    if (bar) ShowControlBar(bar, bar->GetWidget()->isHidden() ? TRUE : FALSE);
}

void CFrameWnd::OnUpdateControlBarMenu(CCmdUI* ui) {
    CControlBar* bar = GetControlBar(ui->m_nID);
    if (!bar) {
        ui->Enable(FALSE);
        return;
    }
    ui->Enable(TRUE);
    ui->SetCheck(bar->GetWidget()->isHidden() ? 0 : 1);
}

void CFrameWnd::OnUpdateFrameTitle() {
    std::string caption = m_strTitle;
    if (CDocument* doc = GetActiveDocument(); doc && (GetStyle() & FWS_ADDTOTITLE))
        caption = doc->GetTitle() + " - " + m_strTitle;
    if (QWidget* w = GetWidget()) w->setWindowTitle(QString::fromStdString(caption));
}

void CFrameWnd::InitialUpdateFrame(CDocument* doc, BOOL makeVisible) {
    if (doc) {
        const std::vector<CView*> views = doc->GetViews();
        for (CView* view : views) view->OnInitialUpdate();
    }
    OnUpdateFrameTitle();
    if (makeVisible) ShowWindow(SW_SHOW);
    OnIdleUpdateCmdUI();
}

void CFrameWnd::OnClose() {
    if (CDocument* doc = GetActiveDocument(); doc && !doc->SaveModified()) return;
    CWinApp* app = AfxGetApp();
    const bool isMain = app && app->m_pMainWnd == this;
    if (isMain) {
        // Destroys this frame (which deletes itself) with its view, then
        // deletes the document; no member may be touched afterwards.
        app->CloseAllDocuments();
        app->m_pMainWnd = nullptr;
        QCoreApplication::quit();
        return;
    }
    DestroyWindow();
}

void CFrameWnd::OnDestroy() {
    if (m_idleTimer) m_idleTimer->stop();
    // The view goes with the frame's children; forget it first.
    m_pActiveView = nullptr;
}

void CFrameWnd::PostNcDestroy() {
    if (m_bAutoDelete) delete this;
}

CFrameWnd* CWnd::GetParentFrame() const {
    for (CWnd* w = GetParent(); w; w = w->GetParent())
        if (auto* frame = dynamic_cast<CFrameWnd*>(w)) return frame;
    return nullptr;
}

}  // namespace win
