// Resolve IP Addresses on real rows. Every body runs in a child process whose
// host lookups read only a hosts file the test writes (HostsResolver), with
// its own offscreen application made after the fork. A slow name service is
// the resolver seam of the platform layer, blocking until the test opens it.
#include <gtest/gtest.h>

#include <condition_variable>
#include <iostream>
#include <mutex>
#include <thread>

#include "app/Resource.h"

#include "platform/TestHooks.h"
#include "tests/support/HostsResolver.h"
#include "tests/ui/ViewTestSupport.h"

using namespace win;
using namespace viewtest;

namespace {

constexpr std::uint32_t kAlpha = 0xC0A84D01;    // 192.168.77.1  alpha.test
constexpr std::uint32_t kBeta = 0x0A4D0002;     // 10.77.0.2     beta.test
constexpr std::uint32_t kNoName = 0x0A4D0063;   // 10.77.0.99    not in the file
constexpr std::uint32_t kNoName2 = 0xC0A84D63;  // 192.168.77.99 not in the file

const char kHosts[] = "192.168.77.1 alpha.test\n10.77.0.2 beta.test\n";

// Runs body in a child that resolves from kHosts only.
void InHostsChild(const std::function<void()>& body) {
    EXPECT_CHILD_PASSED(testsupport::HostsResolver::Run(kHosts, [&] {
        EnsureApp();
        WinsockSession winsock;
        body();
    }));
}

// Waits for the pass started last; the UI thread need not run for it.
bool WaitForPass(CCorvelView* view, DWORD ms = 10000) {
    return view->m_hResolverThread && WaitForSingleObject(view->m_hResolverThread, ms) == WAIT_OBJECT_0;
}

// A name service that blocks every lookup until opened (at most 10 s each).
class Gate {
public:
    Gate() {
        win::testing::SetResolverHook([this](unsigned long) {
            std::unique_lock lock(m_mutex);
            ++m_entered;
            m_cv.notify_all();
            m_cv.wait_for(lock, std::chrono::seconds(10), [this] { return m_open; });
        });
    }
    ~Gate() {
        Open();
        win::testing::SetResolverHook(nullptr);
    }
    bool WaitEntered(int count) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, std::chrono::seconds(5), [&] { return m_entered >= count; });
    }
    void Open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    int Entered() {
        std::lock_guard lock(m_mutex);
        return m_entered;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    int m_entered = 0;
    bool m_open = false;
};

std::vector<std::string> AddressCells(Harness& h) {
    std::vector<std::string> cells;
    for (int r = 0; r < h.List().GetItemCount(); ++r) {
        cells.push_back(h.Cell(r, 1));
        cells.push_back(h.Cell(r, 3));
    }
    return cells;
}

TEST(CCorvelViewResolveTest, ResolveAddressCopiesTheNameWithinItsBuffer) {
    InHostsChild([] {
        char name[CCorvelView::kNameSize];
        ASSERT_TRUE(CCorvelView::ResolveAddress(kAlpha, name));
        EXPECT_STREQ(name, "alpha.test");
        ASSERT_TRUE(CCorvelView::ResolveAddress(kBeta, name));
        EXPECT_STREQ(name, "beta.test");
        EXPECT_FALSE(CCorvelView::ResolveAddress(kNoName, name));
        EXPECT_FALSE(CCorvelView::ResolveAddress(kAlpha, nullptr));

        // A buffer shorter than the name gets its start, terminated, and nothing past it.
        char small[8];
        std::memset(small, 'x', sizeof small);
        ASSERT_TRUE(CCorvelView::ResolveAddress(kAlpha, small, 6));
        EXPECT_STREQ(small, "alpha");
        EXPECT_EQ(small[6], 'x');
    });
}

TEST(CCorvelViewResolveTest, PassNamesTheAddressesThatHaveNamesTwiceTheSame) {
    InHostsChild([] {
        Harness h(false);
        h.view->AddPacketRow(Udp(kAlpha, 1, kNoName, 2));
        h.view->AddPacketRow(Udp(kNoName, 3, kBeta, 4));
        h.view->AddPacketRow(Udp(kBeta, 5, kAlpha, 6));
        h.view->AddPacketRow(Udp(kNoName, 7, kNoName2, 8));
        h.view->OnCmdMsg(ID_CAPTURE_RESOLVEADDRESSES);
        ASSERT_TRUE(WaitForPass(h.view));
        const std::vector<std::string> expected = {"alpha.test", "10.77.0.99", "10.77.0.99", "beta.test",
                                                   "beta.test",  "alpha.test", "10.77.0.99", "192.168.77.99"};
        EXPECT_EQ(AddressCells(h), expected);
        // The other cells keep their texts.
        EXPECT_EQ(h.Cell(0, 2), "1");
        EXPECT_EQ(h.Cell(0, 5), "UDP");

        h.view->OnCmdMsg(ID_CAPTURE_RESOLVEADDRESSES);
        ASSERT_TRUE(WaitForPass(h.view));
        EXPECT_EQ(AddressCells(h), expected);
    });
}

TEST(CCorvelViewResolveTest, PassOnAnEmptyListEndsAtOnce) {
    InHostsChild([] {
        Harness h(false);
        h.view->OnCaptureResolveAddresses();
        ASSERT_TRUE(WaitForPass(h.view, 2000));
        EXPECT_EQ(h.List().GetItemCount(), 0);
    });
}

TEST(CCorvelViewResolveConcurrencyTest, RowsAddedDuringAPassKeepTheirDottedText) {
    InHostsChild([] {
        Harness h(false);
        h.view->AddPacketRow(Udp(kAlpha, 1, kBeta, 2));
        Gate gate;
        h.view->OnCaptureResolveAddresses();
        ASSERT_TRUE(gate.WaitEntered(1));
        h.view->AddPacketRow(Udp(kBeta, 3, kAlpha, 4));
        gate.Open();
        ASSERT_TRUE(WaitForPass(h.view));
        const std::vector<std::string> expected = {"alpha.test", "beta.test", "10.77.0.2", "192.168.77.1"};
        EXPECT_EQ(AddressCells(h), expected);
        EXPECT_EQ(gate.Entered(), 2) << "only the row present at the start is looked up";
    });
}

TEST(CCorvelViewResolveConcurrencyTest, ClearDuringAPassEndsItWithoutNamingNewRows) {
    InHostsChild([] {
        Harness h(false);
        g_deleted = 0;
        for (int i = 0; i < 5; ++i) h.view->AddPacketRow(Udp(kAlpha, 1, kBeta, 2));
        Gate gate;
        h.view->OnCaptureResolveAddresses();
        ASSERT_TRUE(gate.WaitEntered(1));
        // The pass is inside the lookup of row 0's source; Clear frees the
        // records, and new rows take the indexes the pass would visit next.
        h.view->OnCaptureClear();
        EXPECT_EQ(g_deleted, 5);
        for (int i = 0; i < 5; ++i) h.view->AddPacketRow(Udp(kAlpha, 1, kBeta, 2));
        gate.Open();
        ASSERT_TRUE(WaitForPass(h.view));
        for (int r = 0; r < 5; ++r) {
            EXPECT_EQ(h.Cell(r, 1), "192.168.77.1") << r;
            EXPECT_EQ(h.Cell(r, 3), "10.77.0.2") << r;
        }
        EXPECT_EQ(gate.Entered(), 1) << "the pass ends at the Clear";
    });
}

TEST(CCorvelViewResolveConcurrencyTest, ClearsRacingPassesNeverTouchFreedRecords) {
    InHostsChild([] {
        Harness h(false);
        for (int round = 0; round < 40; ++round) {
            for (int i = 0; i < 20; ++i) h.view->AddPacketRow(Udp(i % 2 ? kAlpha : kNoName, 1, kBeta, 2));
            h.view->OnCaptureResolveAddresses();
            h.view->OnCaptureResolveAddresses();
            h.view->OnCaptureClear();
        }
        ASSERT_TRUE(WaitForPass(h.view));
        // Passes still running on earlier handles end on their own; the
        // window's destruction closes the link they use.
    });
}

TEST(CCorvelViewResolveConcurrencyTest, LeavingWhileAPassWaitsOnASlowNameServiceEndsWithinASecond) {
    InHostsChild([] {
        Gate gate;
        auto h = std::make_unique<Harness>();
        for (int i = 0; i < 3; ++i) h->view->AddPacketRow(Udp(kAlpha, 1, kBeta, 2));
        h->view->OnCaptureResolveAddresses();
        ASSERT_TRUE(gate.WaitEntered(1));
        const auto start = std::chrono::steady_clock::now();
        h.reset();  // the view's window, the view, the frame and the document
        const double seconds = Seconds(start);
        std::cout << "[ measured ] leaving with a pass blocked in a lookup: " << seconds * 1000 << " ms\n";
        EXPECT_LT(seconds, 5.0);
        // The pass wakes after the view is gone and must end without touching it.
        gate.Open();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(gate.Entered(), 1);
    });
}

}  // namespace
