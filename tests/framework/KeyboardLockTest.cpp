// The status bar's lock panes against the display's real lock states. On the
// offscreen platform no lock can be read and every pane stays empty. On X11
// the test starts its own X server (Xvfb, no TCP), runs this executable again
// as a child on the xcb platform against it, and there toggles the locks with
// xdotool: the panes must follow on the frame's idle pass. Scroll Lock is not
// toggled there, because Xvfb's default keymap binds the Scroll_Lock key to no
// modifier, so its indicator never lights. Skipped when Xvfb or xdotool is not
// installed.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QGuiApplication>
#include <QTest>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

#include "framework/CFrameWnd.h"
#include "framework/CStatusBar.h"
#include "tests/framework/TestResources.h"
#include "tests/support/qt/QtTestHelpers.h"

extern char** environ;

using namespace win;

namespace {

constexpr const char* kChildRole = "QV_KEYBOARD_LOCK_CHILD";
const UINT kIndicators[] = {0, 59137, 59138, 59139};

class LockFrame : public CFrameWnd {
public:
    CStatusBar m_wndStatusBar;

protected:
    int OnCreate(LPCREATESTRUCT cs) override {
        if (CFrameWnd::OnCreate(cs) == -1) return -1;
        if (!m_wndStatusBar.Create(this) || !m_wndStatusBar.SetIndicators(kIndicators, 4)) return -1;
        return 0;
    }
};

bool OnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

/// Waits for the process at most timeoutMs; kills it when it is still running then.
/// Returns its wait status, or -1 when it had to be killed.
int WaitBounded(pid_t pid, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return status;
        if (done < 0 && errno != EINTR) return -1;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

/// An Xvfb server on a display number it picks itself, killed on destruction.
class XServer {
public:
    /// Starts the server and waits until it reports its display; false with a reason on failure.
    bool Start(std::string& error) {
        int ready[2];
        if (pipe(ready) != 0) {
            error = std::string("pipe: ") + std::strerror(errno);
            return false;
        }
        const std::string fd = std::to_string(ready[1]);
        m_pid = fork();
        if (m_pid < 0) {
            error = std::string("fork: ") + std::strerror(errno);
            close(ready[0]);
            close(ready[1]);
            return false;
        }
        if (m_pid == 0) {
            close(ready[0]);
            const int devnull = open("/dev/null", O_RDWR);
            dup2(devnull, STDOUT_FILENO);
            dup2(devnull, STDERR_FILENO);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0", "640x480x24",
                   static_cast<char*>(nullptr));
            _exit(127);
        }
        close(ready[1]);
        // Xvfb writes the display number once it accepts connections.
        std::string number;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd pfd{ready[0], POLLIN, 0};
            if (poll(&pfd, 1, 100) <= 0) continue;
            char buffer[16];
            const ssize_t count = read(ready[0], buffer, sizeof buffer);
            if (count <= 0) break;
            number.append(buffer, static_cast<size_t>(count));
        }
        close(ready[0]);
        if (number.find('\n') == std::string::npos) {
            error = "Xvfb did not report a display";
            return false;
        }
        m_display = ":" + number.substr(0, number.find('\n'));
        return true;
    }
    const std::string& Display() const { return m_display; }
    ~XServer() {
        if (m_pid <= 0) return;
        kill(m_pid, SIGTERM);
        if (WaitBounded(m_pid, 5000) < 0) ADD_FAILURE() << "Xvfb did not end on SIGTERM";
    }

private:
    pid_t m_pid = -1;
    std::string m_display;
};

/// Runs this test again in a child process on the xcb platform against the display.
/// Returns the child's output; status gets its wait status (-1: killed after the time limit).
std::string RunChildOn(const std::string& display, int& status) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        const std::string entry = *e;
        if (entry.rfind("DISPLAY=", 0) != 0 && entry.rfind("QT_QPA_PLATFORM=", 0) != 0 &&
            entry.rfind("WAYLAND_DISPLAY=", 0) != 0)
            env.push_back(entry);
    }
    env.push_back("DISPLAY=" + display);
    env.push_back("QT_QPA_PLATFORM=xcb");
    env.push_back(std::string(kChildRole) + "=1");
    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string self = "/proc/self/exe", filter = "--gtest_filter=KeyboardLockTest.PanesFollowTheLocksOfAnXServer";
    char* argv[] = {self.data(), filter.data(), nullptr};

    int out[2];
    status = -1;
    if (pipe(out) != 0) return "pipe failed";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = -1;
    const int rc = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    if (rc != 0) {
        close(out[0]);
        return std::string("posix_spawn: ") + std::strerror(rc);
    }
    // Read until the child closes its output or the time limit passes.
    std::string text;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd pfd{out[0], POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0) continue;
        char buffer[1024];
        const ssize_t count = read(out[0], buffer, sizeof buffer);
        if (count <= 0) break;
        text.append(buffer, static_cast<size_t>(count));
    }
    close(out[0]);
    status = WaitBounded(pid, 1000);
    return text;
}

/// Presses and releases the key on the X display with xdotool; false when xdotool failed.
bool PressKey(const char* keysym) {
    char program[] = "xdotool", key[] = "key";
    std::string name = keysym;
    char* argv[] = {program, key, name.data(), nullptr};
    pid_t pid = -1;
    if (posix_spawnp(&pid, "xdotool", nullptr, nullptr, argv, environ) != 0) return false;
    const int status = WaitBounded(pid, 10000);
    return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> LockPanes(const CStatusBar& bar) {
    return {bar.GetPaneText(1), bar.GetPaneText(2), bar.GetPaneText(3)};
}

using Panes = std::vector<std::string>;

TEST(KeyboardLockTest, OffscreenPlatformReadsEveryLockOff) {
    ASSERT_EQ(QGuiApplication::platformName(), "offscreen");
    fwtest::InstallTestResources();
    auto* frame = new LockFrame;  // deletes itself when destroyed
    ASSERT_TRUE(frame->LoadFrame(128, WS_OVERLAPPEDWINDOW, nullptr, nullptr));
    frame->OnIdleUpdateCmdUI();
    EXPECT_EQ(LockPanes(frame->m_wndStatusBar), (Panes{"", "", ""}));
    frame->DestroyWindow();
}

TEST(KeyboardLockTest, PanesFollowTheLocksOfAnXServer) {
    if (!std::getenv(kChildRole)) {
        if (!OnPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed";
        if (!OnPath("xdotool")) GTEST_SKIP() << "xdotool is not installed";
        XServer server;
        std::string error;
        ASSERT_TRUE(server.Start(error)) << error;
        int status = -1;
        const std::string output = RunChildOn(server.Display(), status);
        ASSERT_NE(status, -1) << "the xcb child ran out of time:\n" << output;
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << output;
        EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
        EXPECT_EQ(output.find("SKIPPED"), std::string::npos) << output;
        return;
    }

    // The child: a frame on the X server, whose locks all start off.
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    fwtest::InstallTestResources();
    auto* frame = new LockFrame;  // deletes itself when destroyed
    ASSERT_TRUE(frame->LoadFrame(128, WS_OVERLAPPEDWINDOW, nullptr, nullptr));
    frame->ShowWindow(SW_SHOW);
    const CStatusBar& bar = frame->m_wndStatusBar;
    qvtest::PumpEvents(200);
    EXPECT_EQ(LockPanes(bar), (Panes{"", "", ""}));

    // Each toggle must reach its pane without any call from the test: the
    // frame's idle pass reads the display again.
    struct Step {
        const char* key;
        Panes expected;
    };
    const Step steps[] = {
        {"Caps_Lock", {"CAP", "", ""}},
        {"Num_Lock", {"CAP", "NUM", ""}},
        {"Caps_Lock", {"", "NUM", ""}},
        {"Num_Lock", {"", "", ""}},
    };
    for (const Step& step : steps) {
        ASSERT_TRUE(PressKey(step.key)) << "xdotool key " << step.key;
        EXPECT_TRUE(QTest::qWaitFor([&] { return LockPanes(bar) == step.expected; }, 5000))
            << "after " << step.key << ": \"" << bar.GetPaneText(1) << "\" \"" << bar.GetPaneText(2) << "\" \""
            << bar.GetPaneText(3) << "\"";
    }

    // A test's reader replaces the display, and clearing it gives the display back.
    ASSERT_TRUE(PressKey("Caps_Lock"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return bar.GetPaneText(1) == "CAP"; }, 5000));
    win::testing::SetLockStateReader([](UINT id) { return id == 59139; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return LockPanes(bar) == Panes{"", "", "SCRL"}; }, 5000));
    win::testing::SetLockStateReader(nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return LockPanes(bar) == Panes{"CAP", "", ""}; }, 5000));
    frame->DestroyWindow();
}

}  // namespace
