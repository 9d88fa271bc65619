// Builds a frame, its toolbar and status bar from the program's resources with
// the framework and checks what a person sees: the menu bar item for item, the
// keys, the toolbar buttons with their tooltips, and the prompts.
#include <QAction>
#include <QKeySequence>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QToolBar>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "app/ProgramResources.h"
#include "app/Resource.h"
#include "framework/CDocument.h"
#include "framework/CFrameWnd.h"
#include "framework/CSingleDocTemplate.h"
#include "framework/CStatusBar.h"
#include "framework/CToolBar.h"
#include "framework/CView.h"
#include "framework/CWinApp.h"
#include "tests/support/qt/QtTestHelpers.h"

using namespace win;

namespace {

class BarsDoc : public CDocument {
public:
    static const CRuntimeClass classBarsDoc;
};
const CRuntimeClass BarsDoc::classBarsDoc{"BarsDoc", []() -> CObject* { return new BarsDoc; }};

class BarsView : public CView {
public:
    static const CRuntimeClass classBarsView;
    void OnDraw(CDC*) override {}
};
const CRuntimeClass BarsView::classBarsView{"BarsView", []() -> CObject* { return new BarsView; }};

const UINT kIndicators[] = {ID_SEPARATOR, ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL};

class BarsFrame : public CFrameWnd {
public:
    static const CRuntimeClass classBarsFrame;
    CStatusBar m_wndStatusBar;
    CToolBar m_wndToolBar;

protected:
    int OnCreate(LPCREATESTRUCT cs) override {
        if (CFrameWnd::OnCreate(cs) == -1) return -1;
        if (!m_wndToolBar.CreateEx(this, TBSTYLE_FLAT,
                                   WS_CHILD | WS_VISIBLE | CBRS_TOP | CBRS_GRIPPER | CBRS_TOOLTIPS | CBRS_FLYBY |
                                       CBRS_SIZE_DYNAMIC) ||
            !m_wndToolBar.LoadToolBar(IDR_MAINFRAME))
            return -1;
        if (!m_wndStatusBar.Create(this) || !m_wndStatusBar.SetIndicators(kIndicators, 4)) return -1;
        return 0;
    }
};
const CRuntimeClass BarsFrame::classBarsFrame{"BarsFrame", []() -> CObject* { return new BarsFrame; }};

class BarsApp : public CWinApp {};
BarsApp theApp;

class ProgramBars : public ::testing::Test {
protected:
    void SetUp() override {
        static bool once = [] {
            RegisterProgramResources();
            theApp.AddDocTemplate(new CSingleDocTemplate(IDR_MAINFRAME, &BarsDoc::classBarsDoc,
                                                         &BarsFrame::classBarsFrame, &BarsView::classBarsView));
            return true;
        }();
        (void)once;
        CCommandLineInfo info;
        ASSERT_TRUE(theApp.ProcessShellCommand(info));
        frame = dynamic_cast<BarsFrame*>(theApp.m_pMainWnd);
        ASSERT_NE(frame, nullptr);
        window = static_cast<QMainWindow*>(frame->GetWidget());
    }
    void TearDown() override {
        theApp.CloseAllDocuments();
        qvtest::PumpEvents(5);
    }
    QToolBar* Toolbar() { return qobject_cast<QToolBar*>(frame->m_wndToolBar.GetWidget()); }
    BarsFrame* frame = nullptr;
    QMainWindow* window = nullptr;
};

}  // namespace

TEST_F(ProgramBars, MenuBarMatchesTheResourceItemForItem) {
    // Popup title, then "text|id" per item, "-" per separator.
    std::vector<std::string> actual;
    for (QAction* top : window->menuBar()->actions()) {
        ASSERT_NE(top->menu(), nullptr);
        actual.push_back(top->text().toStdString());
        for (QAction* a : top->menu()->actions())
            actual.push_back(a->isSeparator() ? "-"
                                              : a->text().toStdString() + "|" + std::to_string(a->data().toUInt()));
    }
    const std::vector<std::string> expected = {
        "&File",   "&New\tCtrl+N|57600", "&Open...\tCtrl+O|57601", "&Save\tCtrl+S|57603", "Save &As...|57604", "-",
        "&Print...\tCtrl+P|57607", "Print Pre&view|57609", "P&rint Setup...|57606", "-", "E&xit|57665",
        "&Capture", "&Start|32771", "S&top|32772", "&Clear|32773", "-", "Select Adapter...|32774",
        "Capture Filter...|32776",
        "Resolve IP Addresses|32775",
        "&Edit",   "&Undo\tCtrl+Z|57643", "-", "Cu&t\tCtrl+X|57635", "&Copy\tCtrl+C|57634", "&Paste\tCtrl+V|57637",
        "&View",   "&Toolbar|59392", "&Status Bar|59393", "-", "&Follow New Packets|32778",
        "&Help",   "&About Quorvane...|57664",
    };
    EXPECT_EQ(actual, expected);
}

TEST_F(ProgramBars, KeysMatchTheAcceleratorTableInOrder) {
    std::vector<std::string> actual;
    for (QAction* a : frame->GetAcceleratorActions())
        actual.push_back(a->shortcut().toString().toStdString() + "=" + std::to_string(a->data().toUInt()));
    const std::vector<std::string> expected = {
        "Ctrl+N=57600",    "Ctrl+O=57601",   "Ctrl+S=57603",     "Ctrl+P=57607",    "Ctrl+Z=57643",
        "Ctrl+X=57635",    "Ctrl+C=57634",   "Ctrl+V=57637",     "Alt+Backspace=57643", "Shift+Del=57635",
        "Ctrl+Ins=57634",  "Shift+Ins=57637", "F6=57680",        "Shift+F6=57681",  "Ctrl+F=32779",
        "Esc=32790",
    };
    EXPECT_EQ(actual, expected);
}

TEST_F(ProgramBars, ToolbarButtonsWithTooltipsAndPrompts) {
    const std::vector<UINT> ids = {32771, 32772, 32773, 0, 57600, 57601, 57603, 0,
                                   57635, 57634, 57637, 0, 57607, 0,     57664};
    EXPECT_EQ(frame->m_wndToolBar.GetItemIds(), ids);
    std::vector<std::string> tips;
    for (QAction* a : Toolbar()->actions()) tips.push_back(a->isSeparator() ? "-" : a->toolTip().toStdString());
    const std::vector<std::string> expected = {"Start Capture", "Stop Capture", "Clear", "-", "New", "Open", "Save",
                                               "-", "Cut", "Copy", "Paste", "-", "Print", "-", "About"};
    EXPECT_EQ(tips, expected);

    CStatusBar& status = frame->m_wndStatusBar;
    QWidget* clear = Toolbar()->widgetForAction(Toolbar()->actions()[2]);
    qvtest::HoverEnter(clear);
    EXPECT_EQ(status.GetPaneText(0), "Clear the capture window");
    qvtest::HoverLeave(clear);
    EXPECT_EQ(status.GetPaneText(0), "Ready");
}

TEST_F(ProgramBars, EditCommandsAreGreyedWhenNothingHandlesThem) {
    frame->OnIdleUpdateCmdUI();
    for (QAction* a : Toolbar()->actions()) {
        const UINT id = a->data().toUInt();
        if (id == ID_EDIT_CUT || id == ID_EDIT_COPY || id == ID_EDIT_PASTE) {
            EXPECT_FALSE(a->isEnabled()) << id;
        }
    }
    EXPECT_EQ(window->windowTitle().toStdString(), "Untitiled - Quorvane");
}
