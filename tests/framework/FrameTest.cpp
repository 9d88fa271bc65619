// The single-document framework on real widgets: New and Open, caption,
// command routing and update-UI on menus, keys and toolbar buttons, bar
// toggles, status-bar prompts (disabled items too, "Ready" once nothing is
// under the pointer), command keys kept from focused widgets, tooltips, lock
// panes, toolbar images and print preview.
#include <QAction>
#include <QApplication>
#include <QBitmap>
#include <QClipboard>
#include <QCursor>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QTest>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "framework/AfxMessageBox.h"
#include "framework/CDocument.h"
#include "framework/CFrameWnd.h"
#include "framework/CSingleDocTemplate.h"
#include "framework/CStatusBar.h"
#include "framework/CToolBar.h"
#include "framework/CView.h"
#include "framework/CWinApp.h"
#include "framework/FileDialogs.h"
#include "tests/framework/TestResources.h"
#include "tests/support/qt/QtTestHelpers.h"

using namespace win;
using namespace fwtest;

namespace {

std::vector<std::string> g_calls;  // "target:command" of every handler that ran
bool g_docCmdEnabled = true;

class TestDoc : public CDocument {
public:
    static const CRuntimeClass classTestDoc;
    const CRuntimeClass* GetRuntimeClass() const override { return &classTestDoc; }
    const CommandTable* GetCommandTable() const override;
    BOOL OnNewDocument() override {
        ++newCount;
        return CDocument::OnNewDocument();
    }
    static inline int newCount = 0;
    static inline int instances = 0;
    TestDoc() { ++instances; }
    ~TestDoc() override { ++deleted; }
    static inline int deleted = 0;

private:
    void OnDoc() { g_calls.push_back("doc:doc"); }
    void OnAll() { g_calls.push_back("doc:all"); }
    void OnUpdateDoc(CCmdUI* ui) { ui->Enable(g_docCmdEnabled); }
    static const CommandEntry kCommands[];
};
const CRuntimeClass TestDoc::classTestDoc{"TestDoc", []() -> CObject* { return new TestDoc; }};
const CommandEntry TestDoc::kCommands[] = {
    CommandHandler(kDocCmd, &TestDoc::OnDoc),
    UpdateHandler(kDocCmd, &TestDoc::OnUpdateDoc),
    CommandHandler(kAllCmd, &TestDoc::OnAll),
};
const CommandTable* TestDoc::GetCommandTable() const {
    static const CommandTable table{kCommands, CDocument::GetCommandTable()};
    return &table;
}

class TestView : public CView {
public:
    static const CRuntimeClass classTestView;
    static inline int initialUpdates = 0;
    const CommandTable* GetCommandTable() const override;
    void OnInitialUpdate() override {
        ++initialUpdates;
        CView::OnInitialUpdate();
    }
    void OnDraw(CDC*) override {}

private:
    void OnView() { g_calls.push_back("view:view"); }
    void OnAll() { g_calls.push_back("view:all"); }
    static const CommandEntry kCommands[];
};
const CRuntimeClass TestView::classTestView{"TestView", []() -> CObject* { return new TestView; }};
const CommandEntry TestView::kCommands[] = {
    CommandHandler(kViewCmd, &TestView::OnView),
    CommandHandler(kAllCmd, &TestView::OnAll),
    CommandHandler(57609, &CView::OnFilePrintPreview),
};
const CommandTable* TestView::GetCommandTable() const {
    static const CommandTable table{kCommands, CView::GetCommandTable()};
    return &table;
}

const UINT kIndicators[] = {0, 59137, 59138, 59139};

class TestFrame : public CFrameWnd {
public:
    static const CRuntimeClass classTestFrame;
    const CommandTable* GetCommandTable() const override;
    CToolBar m_wndToolBar;
    CStatusBar m_wndStatusBar;

protected:
    int OnCreate(LPCREATESTRUCT cs) override {
        if (CFrameWnd::OnCreate(cs) == -1) return -1;
        if (!m_wndToolBar.CreateEx(this, TBSTYLE_FLAT,
                                   WS_CHILD | WS_VISIBLE | CBRS_TOP | CBRS_GRIPPER | CBRS_TOOLTIPS | CBRS_FLYBY |
                                       CBRS_SIZE_DYNAMIC) ||
            !m_wndToolBar.LoadToolBar(128))
            return -1;
        if (!m_wndStatusBar.Create(this) || !m_wndStatusBar.SetIndicators(kIndicators, 4)) return -1;
        m_wndToolBar.EnableDocking(CBRS_ALIGN_ANY);
        EnableDocking(CBRS_ALIGN_ANY);
        DockControlBar(&m_wndToolBar);
        return 0;
    }

private:
    void OnFrame() { g_calls.push_back("frame:frame"); }
    void OnAll() { g_calls.push_back("frame:all"); }
    static const CommandEntry kCommands[];
};
const CRuntimeClass TestFrame::classTestFrame{"TestFrame", []() -> CObject* { return new TestFrame; }};
const CommandEntry TestFrame::kCommands[] = {
    CommandHandler(kFrameCmd, &TestFrame::OnFrame),
    CommandHandler(kAllCmd, &TestFrame::OnAll),
};
const CommandTable* TestFrame::GetCommandTable() const {
    static const CommandTable table{kCommands, CFrameWnd::GetCommandTable()};
    return &table;
}

class TestApp : public CWinApp {
public:
    const CommandTable* GetCommandTable() const override;

private:
    void OnApp() { g_calls.push_back("app:app"); }
    void OnAll() { g_calls.push_back("app:all"); }
    static const CommandEntry kCommands[];
};
const CommandEntry TestApp::kCommands[] = {
    CommandHandler(kAppCmd, &TestApp::OnApp),
    CommandHandler(kAllCmd, &TestApp::OnAll),
    CommandHandler(57600, &CWinApp::OnFileNew),
};
const CommandTable* TestApp::GetCommandTable() const {
    static const CommandTable table{kCommands, CWinApp::GetCommandTable()};
    return &table;
}

TestApp theApp;

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        static bool once = [] {
            InstallTestResources();
            theApp.AddDocTemplate(new CSingleDocTemplate(128, &TestDoc::classTestDoc, &TestFrame::classTestFrame,
                                                         &TestView::classTestView));
            return true;
        }();
        (void)once;
        g_calls.clear();
        g_docCmdEnabled = true;
        TestDoc::newCount = TestDoc::instances = TestView::initialUpdates = 0;
        CCommandLineInfo info;
        ASSERT_TRUE(theApp.ProcessShellCommand(info));
        frame = dynamic_cast<TestFrame*>(theApp.m_pMainWnd);
        ASSERT_NE(frame, nullptr);
        window = static_cast<QMainWindow*>(frame->GetWidget());
    }
    void TearDown() override {
        theApp.CloseAllDocuments();
        qvtest::PumpEvents(5);
    }
    QAction* MenuAction(UINT id) {
        for (QAction* a : frame->GetMenuActions())
            if (a->data().toUInt() == id) return a;
        return nullptr;
    }
    QMenu* MenuOf(UINT id) {
        for (QAction* top : window->menuBar()->actions())
            if (top->menu() && top->menu()->actions().contains(MenuAction(id))) return top->menu();
        return nullptr;
    }
    QToolBar* Toolbar() { return qobject_cast<QToolBar*>(frame->m_wndToolBar.GetWidget()); }
    QAction* ButtonAction(UINT id) {
        for (QAction* a : Toolbar()->actions())
            if (!a->isSeparator() && a->data().toUInt() == id) return a;
        return nullptr;
    }
    TestFrame* frame = nullptr;
    QMainWindow* window = nullptr;
};

TEST_F(FrameTest, FirstNewCreatesDocumentFrameAndViewAndCaptionsUntitled) {
    EXPECT_EQ(TestDoc::instances, 1);
    EXPECT_EQ(TestDoc::newCount, 1);
    EXPECT_EQ(TestView::initialUpdates, 1);
    EXPECT_EQ(window->windowTitle().toStdString(), "Untitiled - TestApp");
    ASSERT_NE(frame->GetActiveView(), nullptr);
    EXPECT_EQ(frame->GetActiveDocument(), frame->GetActiveView()->GetDocument());
    EXPECT_EQ(window->centralWidget(), frame->GetActiveView()->GetWidget());
}

TEST_F(FrameTest, LaterNewAndOpenReuseDocumentAndFrame) {
    CDocument* doc = frame->GetActiveDocument();
    theApp.OnFileNew();
    EXPECT_EQ(theApp.m_pMainWnd, frame);
    EXPECT_EQ(frame->GetActiveDocument(), doc);
    EXPECT_EQ(TestDoc::instances, 1);
    EXPECT_EQ(TestDoc::newCount, 2);
    EXPECT_EQ(TestView::initialUpdates, 2);

    QTemporaryDir dir;
    const std::string path = dir.filePath("capture.pkt").toStdString();
    std::ofstream(path) << "ignored";
    ASSERT_EQ(theApp.OpenDocumentFile(path.c_str()), doc);
    EXPECT_EQ(TestDoc::newCount, 2) << "Open runs no new-document hook";
    EXPECT_EQ(TestView::initialUpdates, 3);
    EXPECT_EQ(doc->GetPathName(), path);
    EXPECT_EQ(window->windowTitle().toStdString(), "capture.pkt - TestApp");
    std::vector<std::string> boxes;
    win::testing::SetMessageBoxRecorder(&boxes);
    const std::string missing = dir.filePath("missing").toStdString();
    EXPECT_EQ(theApp.OpenDocumentFile(missing.c_str()), nullptr);
    win::testing::SetMessageBoxRecorder(nullptr);
    EXPECT_EQ(boxes, std::vector<std::string>{"Couldn't open \"" + missing + "\": No such file or directory"});
}

TEST_F(FrameTest, SaveWritesAnEmptyFile) {
    QTemporaryDir dir;
    const std::string path = dir.filePath("saved.pkt").toStdString();
    win::testing::SetFileDialogAnswer(path);
    frame->ExecuteCommand(57604);
    win::testing::SetFileDialogAnswer(std::nullopt);
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    ASSERT_TRUE(in.good());
    EXPECT_EQ(in.tellg(), 0);
    EXPECT_EQ(frame->GetActiveDocument()->GetPathName(), path);
}

TEST_F(FrameTest, CommandGoesToTheFirstTableOnTheRoute) {
    const struct {
        UINT id;
        const char* expected;
    } cases[] = {{kViewCmd, "view:view"}, {kDocCmd, "doc:doc"}, {kFrameCmd, "frame:frame"},
                 {kAppCmd, "app:app"},    {kAllCmd, "view:all"}};
    for (const auto& c : cases) {
        g_calls.clear();
        MenuAction(c.id)->trigger();
        ASSERT_EQ(g_calls.size(), 1u) << c.id;
        EXPECT_EQ(g_calls[0], c.expected);
    }
}

TEST_F(FrameTest, MenuOpeningRunsUpdateHandlersAndDisablesUnhandled) {
    QMenu* menu = MenuOf(kDocCmd);
    ASSERT_NE(menu, nullptr);
    g_docCmdEnabled = false;
    emit menu->aboutToShow();
    EXPECT_FALSE(MenuAction(kDocCmd)->isEnabled());
    EXPECT_FALSE(MenuAction(kUnhandledCmd)->isEnabled());
    EXPECT_TRUE(MenuAction(kViewCmd)->isEnabled());
    EXPECT_TRUE(MenuAction(kAppCmd)->isEnabled());
    g_docCmdEnabled = true;
    emit menu->aboutToShow();
    EXPECT_TRUE(MenuAction(kDocCmd)->isEnabled());
}

TEST_F(FrameTest, DisabledCommandsDoNothingFromMenuOrKey) {
    g_docCmdEnabled = false;
    frame->ExecuteCommand(kDocCmd);
    window->show();
    window->activateWindow();
    qvtest::PumpEvents(20);
    frame->OnIdleUpdateCmdUI();
    qvtest::SendKeys(window, QKeySequence("Ctrl+D"));
    qvtest::SendKeys(window, QKeySequence("Ctrl+U"));
    qvtest::SendKeys(window, QKeySequence(Qt::Key_F6));
    qvtest::PumpEvents(10);
    EXPECT_TRUE(g_calls.empty());
    g_docCmdEnabled = true;
    frame->OnIdleUpdateCmdUI();
    qvtest::SendKeys(window, QKeySequence("Ctrl+D"));
    qvtest::PumpEvents(10);
    EXPECT_EQ(g_calls, std::vector<std::string>{"doc:doc"});
}

TEST_F(FrameTest, ToolbarImagesAreCutInButtonOrderAndButtonsFollowUpdates) {
    ASSERT_EQ(frame->m_wndToolBar.GetItemIds(), (std::vector<UINT>{kViewCmd, 0, kUnhandledCmd, 57600}));
    const QRgb expected[] = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255)};
    const UINT ids[] = {kViewCmd, kUnhandledCmd, 57600};
    for (int i = 0; i < 3; ++i) {
        QAction* a = ButtonAction(ids[i]);
        ASSERT_NE(a, nullptr);
        const QImage image = a->icon().pixmap(QSize(16, 15)).toImage();
        EXPECT_EQ(image.size(), QSize(16, 15));
        EXPECT_EQ(image.pixel(8, 7) & 0xFFFFFF, expected[i] & 0xFFFFFF) << i;
        EXPECT_EQ(Toolbar()->widgetForAction(a)->size(), QSize(23, 22));
    }
    EXPECT_EQ(Toolbar()->actions().size(), 4);
    EXPECT_TRUE(Toolbar()->actions()[1]->isSeparator());
    frame->OnIdleUpdateCmdUI();
    EXPECT_TRUE(ButtonAction(kViewCmd)->isEnabled());
    EXPECT_FALSE(ButtonAction(kUnhandledCmd)->isEnabled());
    EXPECT_EQ(ButtonAction(kViewCmd)->toolTip().toStdString(), "View Tip");
    EXPECT_EQ(ButtonAction(57600)->toolTip().toStdString(), "New");
}

TEST_F(FrameTest, ViewMenuTogglesAndChecksBars) {
    QMenu* menu = MenuOf(59392);
    emit menu->aboutToShow();
    EXPECT_TRUE(MenuAction(59392)->isChecked());
    EXPECT_TRUE(MenuAction(59393)->isChecked());
    MenuAction(59392)->trigger();
    MenuAction(59393)->trigger();
    emit menu->aboutToShow();
    EXPECT_TRUE(Toolbar()->isHidden());
    EXPECT_TRUE(frame->m_wndStatusBar.GetWidget()->isHidden());
    EXPECT_FALSE(MenuAction(59392)->isChecked());
    EXPECT_FALSE(MenuAction(59393)->isChecked());
    MenuAction(59392)->trigger();
    emit menu->aboutToShow();
    EXPECT_FALSE(Toolbar()->isHidden());
    EXPECT_TRUE(MenuAction(59392)->isChecked());
}

TEST_F(FrameTest, HoverAndHighlightShowPromptThenReady) {
    CStatusBar& status = frame->m_wndStatusBar;
    EXPECT_EQ(status.GetPaneText(0), "Ready");
    QWidget* button = Toolbar()->widgetForAction(ButtonAction(kViewCmd));
    qvtest::HoverEnter(button);
    EXPECT_EQ(status.GetPaneText(0), "View command prompt");
    qvtest::HoverLeave(button);
    EXPECT_EQ(status.GetPaneText(0), "Ready");
    emit MenuAction(kDocCmd)->hovered();
    EXPECT_EQ(status.GetPaneText(0), "Document command prompt");
    emit MenuOf(kDocCmd)->aboutToHide();
    EXPECT_EQ(status.GetPaneText(0), "Ready");
}

// Menu items can be highlighted while disabled, so their prompts show; the
// prompt goes once no item is highlighted.
TEST_F(FrameTest, DisabledMenuItemsShowTheirPromptWhenHighlighted) {
    CStatusBar& status = frame->m_wndStatusBar;
    window->show();
    QMenu* menu = MenuOf(kUnhandledCmd);
    ASSERT_NE(menu, nullptr);
    menu->popup(window->mapToGlobal(QPoint(10, 10)));
    qvtest::PumpEvents(20);
    ASSERT_FALSE(MenuAction(kUnhandledCmd)->isEnabled());
    menu->setActiveAction(MenuAction(kUnhandledCmd));
    qvtest::PumpEvents(10);
    EXPECT_EQ(menu->activeAction(), MenuAction(kUnhandledCmd));
    EXPECT_EQ(status.GetPaneText(0), "Nobody handles this");
    menu->setActiveAction(nullptr);
    frame->OnIdleUpdateCmdUI();
    EXPECT_EQ(status.GetPaneText(0), "Ready");
    menu->close();
    qvtest::PumpEvents(10);
}

// A button's prompt stays only while the pointer is on the button, also when
// no leave event comes (the window was maximised under the pointer).
TEST_F(FrameTest, PromptGivesWayToReadyWhenThePointerIsElsewhere) {
    CStatusBar& status = frame->m_wndStatusBar;
    window->show();
    qvtest::PumpEvents(20);
    QWidget* button = Toolbar()->widgetForAction(ButtonAction(kViewCmd));
    QCursor::setPos(button->mapToGlobal(button->rect().center()));
    qvtest::HoverEnter(button);
    frame->OnIdleUpdateCmdUI();
    EXPECT_EQ(status.GetPaneText(0), "View command prompt");
    QCursor::setPos(window->mapToGlobal(QPoint(window->width() / 2, window->height() / 2)));
    frame->OnIdleUpdateCmdUI();
    EXPECT_EQ(status.GetPaneText(0), "Ready");
}

// Inside the frame, the keys of the frame's commands and the edit keys are
// the frame's: a disabled command's key and Copy/Paste do nothing in a
// focused widget that would handle them, an enabled command's key runs it.
TEST_F(FrameTest, CommandAndEditKeysNeverReachTheFocusedWidget) {
    auto* edit = new QLineEdit("secret", window->centralWidget());
    window->show();
    window->activateWindow();
    edit->show();
    edit->setFocus();
    edit->selectAll();
    qvtest::PumpEvents(20);
    QApplication::clipboard()->setText("sentinel");
    frame->OnIdleUpdateCmdUI();
    QTest::keyClick(edit, Qt::Key_C, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_Insert, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(QApplication::clipboard()->text(), "sentinel");
    EXPECT_EQ(edit->text(), "secret");
    QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
    QTest::keyClick(edit, Qt::Key_U, Qt::ControlModifier);  // the unhandled command's key
    EXPECT_EQ(edit->text(), "secret");
    EXPECT_TRUE(g_calls.empty());
    QTest::keyClick(edit, Qt::Key_D, Qt::ControlModifier);
    qvtest::PumpEvents(10);
    EXPECT_EQ(g_calls, std::vector<std::string>{"doc:doc"});
    QTest::keyClick(edit, Qt::Key_A);  // other keys still reach the widget
    EXPECT_EQ(edit->text(), "a");
}

// The images' light grey ground is the button face (transparent); at a
// fractional scale the image is scaled smoothly to the device's pixels.
TEST(ToolBarImages, GroundIsTransparentAndFractionalScalesAreSmooth) {
    QPixmap strip(32, 15);
    strip.fill(QColor(192, 192, 192));
    {
        QPainter painter(&strip);
        painter.fillRect(QRect(4, 4, 8, 7), Qt::black);   // image 0
        painter.fillRect(QRect(16, 0, 16, 15), Qt::red);  // image 1, no ground
    }
    const QImage flat = CToolBar::ButtonImage(strip, 0, 16, 15, 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(flat.size(), QSize(16, 15));
    EXPECT_EQ(qAlpha(flat.pixel(0, 0)), 0);
    EXPECT_EQ(flat.pixel(6, 6), qRgb(0, 0, 0));
    EXPECT_EQ(CToolBar::ButtonImage(strip, 1, 16, 15, 1.0).toImage().pixel(8, 7), qRgb(255, 0, 0));
    const QPixmap scaled = CToolBar::ButtonImage(strip, 0, 16, 15, 1.5);
    EXPECT_EQ(scaled.size(), QSize(24, 23));
    EXPECT_DOUBLE_EQ(scaled.devicePixelRatio(), 1.5);
    // Smooth scaling blends the edge of the black square into partial values.
    const QImage image = scaled.toImage().convertToFormat(QImage::Format_ARGB32);
    bool blended = false;
    for (int x = 0; x < image.width(); ++x) {
        const QRgb p = image.pixel(x, 9);
        if (qAlpha(p) > 0 && qAlpha(p) < 255) blended = true;
    }
    EXPECT_TRUE(blended);
    EXPECT_EQ(CToolBar::ButtonImage(strip, 0, 16, 15, 2.0).size(), QSize(16, 15));  // whole scales stay crisp
}

TEST_F(FrameTest, LockPanesShowTextOnlyWhileLockIsOn) {
    bool caps = false;
    win::testing::SetLockStateReader([&caps](UINT id) { return id == 59137 && caps; });
    CStatusBar& status = frame->m_wndStatusBar;
    status.UpdateIndicators();
    EXPECT_EQ(status.GetPaneText(1), "");
    caps = true;
    status.UpdateIndicators();
    EXPECT_EQ(status.GetPaneText(1), "CAP");
    EXPECT_EQ(status.GetPaneText(2), "");
    EXPECT_EQ(status.GetPaneText(3), "");
    win::testing::SetLockStateReader(nullptr);
}

TEST_F(FrameTest, PrintPreviewProducesBlankPages) {
    int pages = -1;
    win::testing::SetPrintPreviewSink(&pages);
    frame->ExecuteCommand(57609);
    win::testing::SetPrintPreviewSink(nullptr);
    EXPECT_EQ(pages, 1);
}

TEST_F(FrameTest, CloseBoxDestroysFrameAndViewThenDeletesDocument) {
    const int deletedBefore = TestDoc::deleted;
    CView* view = frame->GetActiveView();
    HWND viewWindow = view->m_hWnd;
    HWND frameWindow = frame->m_hWnd;
    window->close();
    qvtest::PumpEvents(5);
    EXPECT_FALSE(IsWindow(viewWindow));
    EXPECT_FALSE(IsWindow(frameWindow));
    EXPECT_EQ(TestDoc::deleted, deletedBefore + 1);
    EXPECT_EQ(theApp.m_pMainWnd, nullptr);
}

TEST(FrameCreation, FailingToolbarOrStatusBarFailsNew) {
    using Fail = void (*)();
    for (Fail fail : {Fail(&win::testing::FailNextToolBarCreate), Fail(&win::testing::FailNextToolBarLoad),
                      Fail(&win::testing::FailNextStatusBarCreate), Fail(&win::testing::FailNextSetIndicators)}) {
        theApp.CloseAllDocuments();
        fail();
        CCommandLineInfo info;
        EXPECT_FALSE(theApp.ProcessShellCommand(info));
        EXPECT_EQ(theApp.m_pMainWnd, nullptr);
    }
}

}  // namespace
