// WaitForMultipleObjects and WaitForSingleObject: which index wins, what a
// wait consumes, time-outs, INFINITE and the failure results.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <vector>

#include "platform/WinKernel.h"

using namespace win;

namespace {

constexpr DWORD kGuard = 10000;

struct Events {
    explicit Events(std::vector<BOOL> manual) {
        for (BOOL m : manual) handles.push_back(CreateEventA(nullptr, m, FALSE, nullptr));
    }
    ~Events() {
        for (HANDLE h : handles) CloseHandle(h);
    }
    DWORD Wait(DWORD ms) { return WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, ms); }
    std::vector<HANDLE> handles;
};

TEST(WaitTest, LowestSignalledIndexWinsAndOnlyItIsConsumed) {
    struct Case {
        const char* name;
        std::vector<int> signalled;
        DWORD expected;
    };
    const Case cases[] = {
        {"none", {}, WAIT_TIMEOUT},
        {"only first", {0}, WAIT_OBJECT_0},
        {"only last", {3}, WAIT_OBJECT_0 + 3},
        {"two, higher set first", {2, 1}, WAIT_OBJECT_0 + 1},
        {"all", {3, 2, 1, 0}, WAIT_OBJECT_0},
        {"first and last", {0, 3}, WAIT_OBJECT_0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Events events({FALSE, FALSE, FALSE, FALSE});
        for (int i : c.signalled) SetEvent(events.handles[i]);
        EXPECT_EQ(events.Wait(0), c.expected);
        // The winner was auto-reset by the wait; every other signalled event is still set.
        for (int i : c.signalled) {
            const DWORD state = WaitForSingleObject(events.handles[i], 0);
            EXPECT_EQ(state, WAIT_OBJECT_0 + i == c.expected ? WAIT_TIMEOUT : WAIT_OBJECT_0) << "event " << i;
        }
    }
}

// The engine's wait: packet event (auto) first, shutdown event (manual) second.
// A pending packet signal wins once over shutdown; then shutdown wins every time.
TEST(WaitTest, PendingAutoSignalWinsOnceThenManualShutdownEveryTime) {
    Events events({FALSE, TRUE});
    SetEvent(events.handles[1]);
    SetEvent(events.handles[0]);
    EXPECT_EQ(events.Wait(INFINITE), WAIT_OBJECT_0);
    EXPECT_EQ(events.Wait(INFINITE), WAIT_OBJECT_0 + 1);
    EXPECT_EQ(events.Wait(INFINITE), WAIT_OBJECT_0 + 1);
}

TEST(WaitTest, InfiniteWaitEndsWhenAnotherThreadSets) {
    for (int index = 0; index < 3; ++index) {
        Events events({FALSE, TRUE, FALSE});
        std::thread setter([&] { SetEvent(events.handles[index]); });
        EXPECT_EQ(events.Wait(INFINITE), WAIT_OBJECT_0 + index);
        setter.join();
    }
}

TEST(WaitTest, TimeoutReturnsAfterTheTimeAndLeavesNoWaiterBehind) {
    Events events({FALSE, FALSE});
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(events.Wait(30), WAIT_TIMEOUT);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
    // A set after the timed-out wait is not taken by it: the next wait gets it.
    SetEvent(events.handles[1]);
    EXPECT_EQ(events.Wait(0), WAIT_OBJECT_0 + 1);
}

TEST(WaitTest, ThreadHandleIsSignalledWhenTheThreadEnds) {
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(
        nullptr, 0, [](LPVOID event) -> DWORD { return WaitForSingleObject(event, kGuard); }, go, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    HANDLE both[] = {go, thread};
    EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
    SetEvent(go);
    EXPECT_EQ(WaitForSingleObject(thread, kGuard), WAIT_OBJECT_0);
    // An ended thread stays signalled.
    ResetEvent(go);
    EXPECT_EQ(WaitForMultipleObjects(2, both, FALSE, 0), WAIT_OBJECT_0 + 1);
    CloseHandle(thread);
    CloseHandle(go);
}

TEST(WaitTest, BadArgumentsGiveWaitFailedWithLastError) {
    HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    std::vector<HANDLE> many(MAXIMUM_WAIT_OBJECTS + 1, event);
    HANDLE withNull[] = {event, nullptr};
    HANDLE withInvalid[] = {INVALID_HANDLE_VALUE, event};
    struct Case {
        const char* name;
        DWORD count;
        const HANDLE* handles;
        BOOL waitAll;
        DWORD error;
    };
    const Case cases[] = {
        {"null array", 1, nullptr, FALSE, ERROR_INVALID_PARAMETER},
        {"count 0", 0, many.data(), FALSE, ERROR_INVALID_PARAMETER},
        {"count 65", MAXIMUM_WAIT_OBJECTS + 1, many.data(), FALSE, ERROR_INVALID_PARAMETER},
        {"wait for all", 1, many.data(), TRUE, ERROR_INVALID_PARAMETER},
        {"null handle", 2, withNull, FALSE, ERROR_INVALID_HANDLE},
        {"invalid handle value", 2, withInvalid, FALSE, ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(WaitForMultipleObjects(c.count, c.handles, c.waitAll, 0), WAIT_FAILED);
        EXPECT_EQ(GetLastError(), c.error);
    }
    // 64 handles is the limit, not over it.
    EXPECT_EQ(WaitForMultipleObjects(MAXIMUM_WAIT_OBJECTS, many.data(), FALSE, 0), WAIT_OBJECT_0);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(WaitForSingleObject(nullptr, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    CloseHandle(event);
}

// Two setters on two auto-reset events, one waiter on both: every set is
// seen, as the index of its event, once per round.
TEST(WaitTest, ConcurrentSetsOnSeveralObjectsAreEachDelivered) {
    constexpr int kRounds = 5000;
    Events events({FALSE, FALSE});
    Events acks({FALSE, FALSE});
    std::vector<std::thread> setters;
    for (int s = 0; s < 2; ++s) {
        setters.emplace_back([&, s] {
            for (int i = 0; i < kRounds; ++i) {
                SetEvent(events.handles[s]);
                if (WaitForSingleObject(acks.handles[s], kGuard) != WAIT_OBJECT_0) return;
            }
        });
    }
    int seen[2] = {0, 0};
    for (int i = 0; i < 2 * kRounds; ++i) {
        const DWORD result = events.Wait(kGuard);
        ASSERT_LT(result, WAIT_OBJECT_0 + 2) << "after " << i;
        ++seen[result];
        SetEvent(acks.handles[result]);
    }
    for (std::thread& setter : setters) setter.join();
    EXPECT_EQ(seen[0], kRounds);
    EXPECT_EQ(seen[1], kRounds);
}

}  // namespace
