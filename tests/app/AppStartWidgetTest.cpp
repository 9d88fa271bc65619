// The application object's start and exit hooks, the main frame's bars and the
// About box, on the offscreen platform with the program's own global object;
// and the built program ending quietly on an unsupported system.
#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QLineEdit>
#include <QTest>
#include <QLabel>
#include <QPixmap>
#include <QWidget>
#include <gtest/gtest.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "app/CCorvelApp.h"
#include "app/Resource.h"
#include "framework/AfxMessageBox.h"
#include "framework/CControlBar.h"
#include "framework/CEditBar.h"
#include "framework/CFrameWnd.h"
#include "framework/CStatusBar.h"
#include "framework/CToolBar.h"
#include "platform/TestHooks.h"
#include "platform/WinRegistry.h"
#include "tests/support/qt/QtTestHelpers.h"

using namespace win;

namespace {

// A private settings store holding 127.0.0.1 as the default adapter, so that
// start-up shows no adapter dialog; message boxes are recorded, not shown.
class AppStart : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() /
                ("quorvane-app-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
        std::filesystem::create_directories(m_dir);
        setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Tembrook\\Quorvane", 0, nullptr, 0, KEY_WRITE,
                                  nullptr, &key, nullptr),
                  static_cast<LONG>(ERROR_SUCCESS));
        const char adapter[] = "127.0.0.1";
        ASSERT_EQ(RegSetValueExA(key, "Default Adapter", 0, REG_SZ, reinterpret_cast<const BYTE*>(adapter),
                                 sizeof adapter),
                  static_cast<LONG>(ERROR_SUCCESS));
        RegCloseKey(key);
        win::testing::SetMessageBoxRecorder(&m_boxes);
    }
    void TearDown() override {
        theApp.CloseAllDocuments();
        theApp.m_pMainWnd = nullptr;
        theApp.ExitInstance();
        win::testing::SetMessageBoxRecorder(nullptr);
        win::testing::SetVersionOverride(nullptr);
        win::testing::SetStartupFailure(0);
        std::filesystem::remove_all(m_dir);
    }
    static void AnswerVersion(DWORD platform, DWORD major, DWORD minor) {
        OSVERSIONINFOA answer{};
        answer.dwPlatformId = platform;
        answer.dwMajorVersion = major;
        answer.dwMinorVersion = minor;
        win::testing::SetVersionOverride(&answer);
    }
    CFrameWnd* Frame() const { return static_cast<CFrameWnd*>(theApp.m_pMainWnd); }

    std::filesystem::path m_dir;
    std::vector<std::string> m_boxes;
};

TEST_F(AppStart, VersionCheckEndsQuietlyBelowNt5AndPassesFromNt5On) {
    // With socket start-up failing, a version that passes the check is told
    // apart by the box; one that does not ends before it.
    struct Case {
        DWORD platform, major, minor;
        bool passes;
    } cases[] = {
        {VER_PLATFORM_WIN32s, 3, 10, false}, {VER_PLATFORM_WIN32_WINDOWS, 4, 10, false},
        {VER_PLATFORM_WIN32_WINDOWS, 5, 0, false}, {VER_PLATFORM_WIN32_NT, 4, 0, false},
        {VER_PLATFORM_WIN32_NT, 5, 0, true}, {VER_PLATFORM_WIN32_NT, 6, 1, true},
    };
    win::testing::SetStartupFailure(WSASYSNOTREADY);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.platform) + "." + std::to_string(c.major) + "." + std::to_string(c.minor));
        m_boxes.clear();
        AnswerVersion(c.platform, c.major, c.minor);
        EXPECT_FALSE(theApp.InitInstance());
        EXPECT_EQ(theApp.m_pMainWnd, nullptr);
        if (c.passes)
            EXPECT_EQ(m_boxes, std::vector<std::string>{"WSAStartup() failed"});
        else
            EXPECT_TRUE(m_boxes.empty());
    }
}

TEST_F(AppStart, BarCreationFailureFailsTheStart) {
    struct Case {
        const char* name;
        void (*fail)();
    } cases[] = {
        {"toolbar create", win::testing::FailNextToolBarCreate},
        {"toolbar load", win::testing::FailNextToolBarLoad},
        {"status bar create", win::testing::FailNextStatusBarCreate},
        {"indicators", win::testing::FailNextSetIndicators},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.fail();
        EXPECT_FALSE(theApp.InitInstance());
        EXPECT_TRUE(m_boxes.empty());
        EXPECT_EQ(theApp.m_pMainWnd, nullptr);
        theApp.ExitInstance();
    }
}

TEST_F(AppStart, StartShowsTheMainFrameWithItsBars) {
    ASSERT_TRUE(theApp.InitInstance());
    CFrameWnd* frame = Frame();
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->IsWindowVisible());
    EXPECT_EQ(frame->GetWindowText(), "Untitiled - Quorvane");
    EXPECT_TRUE(m_boxes.empty());

    auto* toolBar = dynamic_cast<CToolBar*>(frame->GetControlBar(ID_VIEW_TOOLBAR));
    ASSERT_NE(toolBar, nullptr);
    EXPECT_EQ(toolBar->GetDockStyle(), CBRS_ALIGN_ANY);
    EXPECT_FALSE(toolBar->GetItemIds().empty());
    auto* statusBar = dynamic_cast<CStatusBar*>(frame->GetControlBar(ID_VIEW_STATUS_BAR));
    ASSERT_NE(statusBar, nullptr);
    EXPECT_EQ(statusBar->GetCount(), 7);
    EXPECT_EQ(statusBar->GetPaneText(0), "Ready");
    // The counters: nothing captured, no display filter, nothing lost.
    EXPECT_EQ(statusBar->GetPaneText(1), "Captured: 0");
    EXPECT_EQ(statusBar->GetPaneText(2), "");
    EXPECT_EQ(statusBar->GetPaneText(3), "Lost: 0");
    auto* filterBar = dynamic_cast<CEditBar*>(frame->GetControlBar(IDW_DISPLAYFILTER));
    ASSERT_NE(filterBar, nullptr);
    EXPECT_TRUE(filterBar->IsWindowVisible());
}

// The counter panes are as wide as their texts need at the bar's font, like
// sizes in dialog units: a larger font gives wider panes.
TEST_F(AppStart, CounterPanesAreSizedByTheFont) {
    ASSERT_TRUE(theApp.InitInstance());
    auto* statusBar = dynamic_cast<CStatusBar*>(Frame()->GetControlBar(ID_VIEW_STATUS_BAR));
    ASSERT_NE(statusBar, nullptr);
    QWidget* bar = statusBar->GetWidget();
    const QFontMetrics metrics(bar->font());
    for (int pane : {1, 2, 3}) {
        const char* widest[] = {"", "Captured: 10,000,000", "Shown: 10,000,000", "Lost: 10,000,000"};
        EXPECT_GE(statusBar->GetPaneWidth(pane), metrics.horizontalAdvance(widest[pane])) << pane;
    }
    const int before = statusBar->GetPaneWidth(1);
    QFont larger = bar->font();
    larger.setPointSizeF(larger.pointSizeF() * 2);
    for (QWidget* child : bar->findChildren<QWidget*>()) child->setFont(larger);
    statusBar->SetPaneInfo(1, ID_INDICATOR_CAPTURED, 0, 120);
    EXPECT_GT(statusBar->GetPaneWidth(1), before * 3 / 2);
}

// Ctrl+F puts the focus in the display filter field; an invalid expression
// turns it red with libpcap's message and changes nothing else; a valid one
// takes the mark away and shows the "Shown" counter.
TEST_F(AppStart, DisplayFilterFieldTakesFocusAndMarksInvalidExpressions) {
    ASSERT_TRUE(theApp.InitInstance());
    CFrameWnd* frame = Frame();
    frame->GetWidget()->activateWindow();
    qvtest::PumpEvents();
    auto* filterBar = dynamic_cast<CEditBar*>(frame->GetControlBar(IDW_DISPLAYFILTER));
    ASSERT_NE(filterBar, nullptr);
    frame->ExecuteCommand(ID_VIEW_DISPLAYFILTER);
    qvtest::PumpEvents();
    EXPECT_EQ(QApplication::focusWidget(), filterBar->GetField());

    filterBar->SetText("tcp port");
    frame->ExecuteCommand(ID_DISPLAYFILTER_APPLY);
    EXPECT_NE(filterBar->GetError().find("syntax error"), std::string::npos) << filterBar->GetError();
    EXPECT_EQ(filterBar->GetField()->palette().color(QPalette::Text), QColor(0xB0, 0, 0));
    auto* statusBar = dynamic_cast<CStatusBar*>(frame->GetControlBar(ID_VIEW_STATUS_BAR));
    frame->OnIdleUpdateCmdUI();
    EXPECT_EQ(statusBar->GetPaneText(2), "") << "no filter in force";

    filterBar->SetText("udp");
    frame->ExecuteCommand(ID_DISPLAYFILTER_APPLY);
    EXPECT_EQ(filterBar->GetError(), "");
    EXPECT_NE(filterBar->GetField()->palette().color(QPalette::Text), QColor(0xB0, 0, 0));
    frame->OnIdleUpdateCmdUI();
    EXPECT_EQ(statusBar->GetPaneText(2), "Shown: 0");

    // Escape empties the field and shows every row again.
    QTest::keyClick(filterBar->GetField(), Qt::Key_Escape);
    EXPECT_EQ(filterBar->GetText(), "");
    frame->OnIdleUpdateCmdUI();
    EXPECT_EQ(statusBar->GetPaneText(2), "");
}

// The field keeps its own edit keys: a person pastes an expression there.
TEST_F(AppStart, DisplayFilterFieldKeepsItsEditKeys) {
    ASSERT_TRUE(theApp.InitInstance());
    CFrameWnd* frame = Frame();
    frame->GetWidget()->activateWindow();
    auto* filterBar = dynamic_cast<CEditBar*>(frame->GetControlBar(IDW_DISPLAYFILTER));
    ASSERT_NE(filterBar, nullptr);
    filterBar->FocusField();
    qvtest::PumpEvents();
    QApplication::clipboard()->setText("icmp");
    QTest::keyClick(filterBar->GetField(), Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(filterBar->GetText(), "icmp");
}

TEST_F(AppStart, ViewCommandsToggleTheBarsAndTheirCheckMarks) {
    ASSERT_TRUE(theApp.InitInstance());
    CFrameWnd* frame = Frame();
    ASSERT_NE(frame, nullptr);
    for (UINT id : {ID_VIEW_TOOLBAR, ID_VIEW_STATUS_BAR}) {
        SCOPED_TRACE(id);
        CControlBar* bar = frame->GetControlBar(id);
        ASSERT_NE(bar, nullptr);
        for (bool shown : {false, true}) {
            frame->ExecuteCommand(id);
            qvtest::PumpEvents();
            EXPECT_EQ(bool(bar->IsWindowVisible()), shown);
            CCmdUI ui(id);
            EXPECT_TRUE(frame->UpdateCommand(&ui));
            EXPECT_EQ(ui.m_nCheck, shown ? 1 : 0);
        }
    }
}

TEST_F(AppStart, AboutBoxShowsTitleIconAndTexts) {
    ASSERT_TRUE(theApp.InitInstance());
    QString title;
    QStringList texts;
    bool icon = false, mainBlocked = false;
    qvtest::WhenModal([&](QWidget* modal) {
        title = modal->windowTitle();
        for (QLabel* label : modal->findChildren<QLabel*>()) {
            if (!label->pixmap().isNull()) icon = true;
            if (!label->text().isEmpty()) texts << label->text();
        }
        mainBlocked = modal->windowModality() == Qt::ApplicationModal;
        qvtest::SendKeys(modal, QKeySequence(Qt::Key_Escape));
    });
    Frame()->ExecuteCommand(ID_APP_ABOUT);
    EXPECT_EQ(title, "About Corvel");
    EXPECT_TRUE(icon);
    EXPECT_TRUE(texts.contains("Quorvane Version 1.0")) << texts.join("|").toStdString();
    EXPECT_TRUE(texts.contains("Copyright (C) 2002 Tembrook")) << texts.join("|").toStdString();
    EXPECT_TRUE(mainBlocked);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

// The built program with the environment's version answer: a failed start ends
// the process by itself with the exit status 0 and no box (a box would block
// until the time limit).
TEST(AppProgram, UnsupportedSystemEndsTheProgramQuietly) {
    for (const char* version : {"1.4.10", "2.4.0", "0.3.10"}) {
        SCOPED_TRACE(version);
        const std::string command = std::string("env QT_QPA_PLATFORM=offscreen QUORVANE_OS_VERSION=") + version +
                                    " timeout 20 " QV_PROGRAM_PATH " >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
}

// --help and --version answer on standard output and exit 0 before anything
// needs a display: with no display at all (and Qt's platform left to find
// one) a program that made its Qt application first would fail instead.
TEST(AppProgram, HelpAndVersionAnswerOnTheTerminalWithoutADisplay) {
    struct Case {
        const char* arguments;
        std::vector<std::string> expected;  // lines that must appear
    } cases[] = {
        {"--help", {"Usage: quorvane [OPTION]... [FILE]", "  -h, --help     show this help and exit",
                    "  -V, --version  show the version and exit"}},
        {"-h", {"Usage: quorvane [OPTION]... [FILE]"}},
        {"--version", {"Quorvane 2.0.0.1"}},
        {"-V", {"Quorvane 2.0.0.1"}},
        {"some-file --help", {"Usage: quorvane [OPTION]... [FILE]"}},
    };
    const std::string output = ::testing::TempDir() + "qv-help-output";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments);
        const std::string command = std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "
                                                "QUORVANE_DEBUG= timeout 20 ") +
                                    QV_PROGRAM_PATH " " + c.arguments + " >" + output + " 2>&1";
        const int status = std::system(command.c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
        std::ifstream in(output);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        for (const std::string& line : c.expected)
            EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << "no line \"" << line << "\"";
    }
    std::remove(output.c_str());
}

}  // namespace
