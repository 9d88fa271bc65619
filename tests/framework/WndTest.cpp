// Windows on real widgets: creation hooks, sizes, owned top-level windows,
// the user closing a window, handles after destruction, and SendMessage
// from another thread carried out on the UI thread.
#include <QApplication>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <atomic>
#include <gtest/gtest.h>
#include <thread>

#include "framework/CWnd.h"
#include "framework/FontScale.h"
#include "tests/support/qt/QtTestHelpers.h"

using namespace win;

namespace {

constexpr UINT kProbe = WM_USER + 1;

class ProbeWnd : public CWnd {
public:
    int createResult = 0;
    int creates = 0, destroys = 0, lastCx = -1, lastCy = -1;
    std::atomic<bool> ranOnUiThread{false};

protected:
    int OnCreate(LPCREATESTRUCT) override {
        ++creates;
        if (createResult == 0) SetWindowPos(nullptr, 0, 0, 800, 480, SWP_NOMOVE | SWP_NOZORDER);
        return createResult;
    }
    void OnDestroy() override { ++destroys; }
    void OnSize(UINT, int cx, int cy) override {
        lastCx = cx;
        lastCy = cy;
    }
    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == kProbe) {
            ranOnUiThread = QThread::currentThread() == QApplication::instance()->thread();
            return static_cast<LRESULT>(wParam + 1);
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }
};

LPCSTR PacketClass() { return AfxRegisterWndClass(0, LoadCursor(nullptr, IDC_ARROW), nullptr, nullptr); }

TEST(WndTest, CreationCallsOnCreateAndSizesFromIt) {
    ProbeWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, PacketClass(), "Packet", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                             CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr));
    EXPECT_EQ(wnd.creates, 1);
    EXPECT_TRUE(IsWindow(wnd.m_hWnd));
    EXPECT_EQ(wnd.GetWindowText(), "Packet");
    // The 800 x 480 of the 8-point font, converted to the window's font and
    // kept inside the screen's available area less a window frame.
    const QFont font = wnd.GetWidget()->font();
    const QRect area = wnd.GetWidget()->screen()->availableGeometry().marginsRemoved(QMargins(4, 30, 4, 4));
    const int cx = std::min(FontScale::Width(800, font), area.width());
    const int cy = std::min(FontScale::Height(480, font), area.height());
    EXPECT_EQ(wnd.lastCx, cx);
    EXPECT_EQ(wnd.lastCy, cy);
    RECT rc;
    wnd.GetClientRect(&rc);
    EXPECT_EQ(rc.right, cx);
    EXPECT_EQ(rc.bottom, cy);
    HWND old = wnd.m_hWnd;
    EXPECT_TRUE(wnd.DestroyWindow());
    EXPECT_EQ(wnd.destroys, 1);
    EXPECT_EQ(wnd.m_hWnd, nullptr);
    EXPECT_FALSE(IsWindow(old));
    EXPECT_FALSE(IsWindow(nullptr));
    EXPECT_EQ(SendMessageA(old, kProbe, 1, 0), 0) << "a dead handle carries no message";
}

TEST(WndTest, MinusOneFromOnCreateFailsCreation) {
    ProbeWnd wnd;
    wnd.createResult = -1;
    EXPECT_FALSE(wnd.CreateEx(0, PacketClass(), "x", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr));
    EXPECT_EQ(wnd.m_hWnd, nullptr);
}

TEST(WndTest, OwnedWindowIsDestroyedWithOwnerAndUserCloseLeavesObject) {
    ProbeWnd owner, child, owned;
    ASSERT_TRUE(owner.CreateEx(0, PacketClass(), "owner", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr));
    ASSERT_TRUE(child.CreateEx(0, nullptr, nullptr, WS_CHILD | WS_VISIBLE, CRect(0, 0, 50, 50), &owner, 7));
    ASSERT_TRUE(owned.CreateEx(0, PacketClass(), "Packet", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                               CRect(CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT), &child, 0));
    EXPECT_TRUE(owned.GetWidget()->isWindow());
    EXPECT_EQ(owned.GetWidget()->parentWidget(), owner.GetWidget()) << "owned by the top-level window";
    EXPECT_EQ(owner.GetDlgItem(7), &child);

    owned.GetWidget()->close();  // the user's close box
    qvtest::PumpEvents(5);
    EXPECT_EQ(owned.m_hWnd, nullptr);
    EXPECT_EQ(owned.destroys, 1);
    ASSERT_TRUE(owned.CreateEx(0, PacketClass(), "Packet", WS_OVERLAPPEDWINDOW, CRect(0, 0, 10, 10), &child, 0));

    owner.DestroyWindow();
    EXPECT_EQ(child.m_hWnd, nullptr);
    EXPECT_EQ(owned.m_hWnd, nullptr);
    EXPECT_EQ(child.destroys, 1);
    EXPECT_EQ(owned.destroys, 2);
}

TEST(WndTest, SendMessageFromAnotherThreadRunsOnTheUiThread) {
    ProbeWnd wnd;
    ASSERT_TRUE(wnd.CreateEx(0, PacketClass(), "w", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr));
    EXPECT_EQ(wnd.SendMessage(kProbe, 41), 42) << "direct on the UI thread";
    std::atomic<LRESULT> result{0};
    std::atomic<bool> done{false};
    std::thread worker([&] {
        result = SendMessageA(wnd.m_hWnd, kProbe, 9, 0);
        done = true;
    });
    for (int i = 0; i < 200 && !done; ++i) qvtest::PumpEvents(5);
    worker.join();
    EXPECT_EQ(result.load(), 10);
    EXPECT_TRUE(wnd.ranOnUiThread);
}

}  // namespace
