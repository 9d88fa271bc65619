// Registered waits on the thread pool: permanent firing, re-runs while the
// object stays signalled, overlap of slow runs (not for a run's own signal), bounded runs, run-once, and
// UnregisterWaitEx waiting for runs in progress without deadlocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <set>
#include <thread>

#include "platform/WinKernel.h"

using namespace win;

namespace {

constexpr DWORD kGuard = 10000;

struct Context {
    HANDLE object = nullptr;
    HANDLE ack = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE inRun = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> runs{0};
    std::atomic<int> active{0};
    std::atomic<int> maxActive{0};
    int resets = 0;  // re-sets left for the socket-like callback
    HANDLE wait = nullptr;
    ~Context() {
        CloseHandle(ack);
        CloseHandle(inRun);
        CloseHandle(release);
    }
};

void CountAndAck(PVOID p, BOOL) {
    auto* c = static_cast<Context*>(p);
    ++c->runs;
    SetEvent(c->ack);
}

TEST(ThreadPoolWaitTest, PermanentWaitRunsOncePerSignal) {
    Context c;
    c.object = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_TRUE(RegisterWaitForSingleObject(&c.wait, c.object, CountAndAck, &c, INFINITE, WT_EXECUTEDEFAULT));
    for (int i = 1; i <= 200; ++i) {
        SetEvent(c.object);
        ASSERT_EQ(WaitForSingleObject(c.ack, kGuard), WAIT_OBJECT_0);
        ASSERT_EQ(c.runs.load(), i);
    }
    EXPECT_TRUE(UnregisterWaitEx(c.wait, INVALID_HANDLE_VALUE));
    CloseHandle(c.object);
}

// Like the capture handler: reset the manual-reset event, then set it again
// while "more data" waits. Each set gets its run, and the last run ends it.
void ResetAndResignal(PVOID p, BOOL) {
    auto* c = static_cast<Context*>(p);
    ResetEvent(c->object);
    ++c->runs;
    if (c->resets > 0) {
        --c->resets;
        SetEvent(c->object);
    } else {
        SetEvent(c->ack);
    }
}

TEST(ThreadPoolWaitTest, ObjectSignalledAgainDuringARunRunsAgain) {
    Context c;
    c.resets = 5000;
    c.object = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(RegisterWaitForSingleObject(&c.wait, c.object, ResetAndResignal, &c, INFINITE, 0));
    SetEvent(c.object);
    ASSERT_EQ(WaitForSingleObject(c.ack, kGuard), WAIT_OBJECT_0);
    EXPECT_TRUE(UnregisterWaitEx(c.wait, INVALID_HANDLE_VALUE));
    EXPECT_EQ(c.runs.load(), 5001);
    CloseHandle(c.object);
}

// A manual-reset event left signalled keeps the callback running, but on a
// bounded number of threads; unregistering stops it.
void CountConcurrent(PVOID p, BOOL) {
    auto* c = static_cast<Context*>(p);
    const int now = ++c->active;
    int seen = c->maxActive.load();
    while (now > seen && !c->maxActive.compare_exchange_weak(seen, now)) {
    }
    if (++c->runs == 2000) SetEvent(c->ack);
    --c->active;
}

TEST(ThreadPoolWaitTest, ObjectThatStaysSignalledRunsOnBoundedThreads) {
    Context c;
    c.object = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(RegisterWaitForSingleObject(&c.wait, c.object, CountConcurrent, &c, INFINITE, 0));
    ASSERT_EQ(WaitForSingleObject(c.ack, kGuard), WAIT_OBJECT_0);
    EXPECT_TRUE(UnregisterWaitEx(c.wait, INVALID_HANDLE_VALUE));
    const int runs = c.runs.load();
    EXPECT_EQ(c.active.load(), 0);
    EXPECT_LE(c.maxActive.load(), 4);
    Sleep(20);  // nothing may run after the unregister returned
    EXPECT_EQ(c.runs.load(), runs);
    CloseHandle(c.object);
}

// A run that blocks does not hold back the next signal: it runs on another
// pool thread while the first is still inside the callback.
void FirstRunWaitsForSecond(PVOID p, BOOL) {
    auto* c = static_cast<Context*>(p);
    if (++c->runs == 1) {
        ResetEvent(c->object);
        SetEvent(c->inRun);
        WaitForSingleObject(c->release, kGuard);
    } else {
        ResetEvent(c->object);
        SetEvent(c->release);
    }
}

TEST(ThreadPoolWaitTest, SlowRunsOverlapOnAnotherThread) {
    Context c;
    c.object = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(RegisterWaitForSingleObject(&c.wait, c.object, FirstRunWaitsForSecond, &c, INFINITE, 0));
    SetEvent(c.object);
    ASSERT_EQ(WaitForSingleObject(c.inRun, kGuard), WAIT_OBJECT_0);
    SetEvent(c.object);
    EXPECT_EQ(WaitForSingleObject(c.release, kGuard), WAIT_OBJECT_0) << "the second run never started";
    EXPECT_TRUE(UnregisterWaitEx(c.wait, INVALID_HANDLE_VALUE));
    EXPECT_EQ(c.runs.load(), 2);
    CloseHandle(c.object);
}

// A run that signals its own object and then takes long: the signal is its
// own next run, on the same thread, never an overlapping one.
void SignalSelfThenLinger(PVOID p, BOOL) {
    auto* c = static_cast<Context*>(p);
    const int active = ++c->active;
    c->maxActive = std::max(c->maxActive.load(), active);
    ResetEvent(c->object);
    if (++c->runs == 1) {
        SetEvent(c->object);
        Sleep(30);  // well past the delay after which another thread would take a signal
    } else {
        SetEvent(c->ack);
    }
    --c->active;
}

TEST(ThreadPoolWaitTest, ARunsOwnSignalIsItsNextRunNotAnOverlap) {
    Context c;
    c.object = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(RegisterWaitForSingleObject(&c.wait, c.object, SignalSelfThenLinger, &c, INFINITE, 0));
    SetEvent(c.object);
    ASSERT_EQ(WaitForSingleObject(c.ack, kGuard), WAIT_OBJECT_0);
    EXPECT_TRUE(UnregisterWaitEx(c.wait, INVALID_HANDLE_VALUE));
    EXPECT_EQ(c.runs.load(), 2);
    EXPECT_EQ(c.maxActive.load(), 1);
    CloseHandle(c.object);
}

void BlockUntilReleased(PVOID p, BOOL) {
    auto* c = static_cast<Context*>(p);
    ++c->runs;
    ResetEvent(c->object);
    SetEvent(c->inRun);
    WaitForSingleObject(c->release, kGuard);
}

TEST(ThreadPoolWaitTest, UnregisterWaitsForTheRunInProgressAndStopsFurtherRuns) {
    Context c;
    Context other;  // a second registration whose run is blocked at the same time
    c.object = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    other.object = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(RegisterWaitForSingleObject(&c.wait, c.object, BlockUntilReleased, &c, INFINITE, 0));
    ASSERT_TRUE(RegisterWaitForSingleObject(&other.wait, other.object, BlockUntilReleased, &other, INFINITE, 0));
    SetEvent(other.object);
    SetEvent(c.object);
    ASSERT_EQ(WaitForSingleObject(c.inRun, kGuard), WAIT_OBJECT_0);
    ASSERT_EQ(WaitForSingleObject(other.inRun, kGuard), WAIT_OBJECT_0);

    HANDLE unregistered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread unregister([&] {
        UnregisterWaitEx(c.wait, INVALID_HANDLE_VALUE);
        SetEvent(unregistered);
    });
    EXPECT_EQ(WaitForSingleObject(unregistered, 50), WAIT_TIMEOUT);  // the run is still in progress
    SetEvent(c.release);
    EXPECT_EQ(WaitForSingleObject(unregistered, kGuard), WAIT_OBJECT_0);
    unregister.join();
    SetEvent(c.object);  // no run after the unregister
    Sleep(20);
    EXPECT_EQ(c.runs.load(), 1);

    SetEvent(other.release);
    EXPECT_TRUE(UnregisterWaitEx(other.wait, INVALID_HANDLE_VALUE));
    EXPECT_EQ(other.runs.load(), 1);
    CloseHandle(unregistered);
    CloseHandle(c.object);
    CloseHandle(other.object);
}

void UnregisterSelf(PVOID p, BOOL) {
    auto* c = static_cast<Context*>(p);
    ++c->runs;
    UnregisterWaitEx(c->wait, INVALID_HANDLE_VALUE);
    SetEvent(c->ack);
}

TEST(ThreadPoolWaitTest, CallbackMayUnregisterItsOwnWait) {
    Context c;
    c.object = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_TRUE(RegisterWaitForSingleObject(&c.wait, c.object, UnregisterSelf, &c, INFINITE, 0));
    SetEvent(c.object);
    ASSERT_EQ(WaitForSingleObject(c.ack, kGuard), WAIT_OBJECT_0);
    EXPECT_EQ(c.runs.load(), 1);
    CloseHandle(c.object);
}

TEST(ThreadPoolWaitTest, ExecuteOnlyOnceRunsOnce) {
    Context c;
    c.object = CreateEventA(nullptr, FALSE, TRUE, nullptr);  // already signalled
    ASSERT_TRUE(RegisterWaitForSingleObject(&c.wait, c.object, CountAndAck, &c, INFINITE, WT_EXECUTEONLYONCE));
    ASSERT_EQ(WaitForSingleObject(c.ack, kGuard), WAIT_OBJECT_0);
    SetEvent(c.object);
    Sleep(20);
    EXPECT_EQ(c.runs.load(), 1);
    // The later set was not taken by the finished registration.
    EXPECT_EQ(WaitForSingleObject(c.object, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(UnregisterWaitEx(c.wait, INVALID_HANDLE_VALUE));
    CloseHandle(c.object);
}

TEST(ThreadPoolWaitTest, ThreadHandleCanBeWaitedOn) {
    Context c;
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    c.object = CreateThread(
        nullptr, 0, [](LPVOID e) -> DWORD { return WaitForSingleObject(e, kGuard); }, go, 0, nullptr);
    ASSERT_TRUE(RegisterWaitForSingleObject(&c.wait, c.object, CountAndAck, &c, INFINITE, WT_EXECUTEONLYONCE));
    SetEvent(go);
    ASSERT_EQ(WaitForSingleObject(c.ack, kGuard), WAIT_OBJECT_0);
    EXPECT_TRUE(UnregisterWaitEx(c.wait, INVALID_HANDLE_VALUE));
    CloseHandle(c.object);
    CloseHandle(go);
}

TEST(ThreadPoolWaitTest, BadArgumentsFail) {
    Context c;
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(RegisterWaitForSingleObject(&c.wait, nullptr, CountAndAck, &c, INFINITE, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(RegisterWaitForSingleObject(&c.wait, event, nullptr, &c, INFINITE, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(RegisterWaitForSingleObject(&c.wait, event, CountAndAck, &c, INFINITE, 0));
    // A wait handle is neither waitable nor closed by CloseHandle.
    EXPECT_EQ(WaitForSingleObject(c.wait, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(CloseHandle(c.wait));
    EXPECT_FALSE(SetEvent(c.wait));
    EXPECT_FALSE(UnregisterWaitEx(event, INVALID_HANDLE_VALUE));
    EXPECT_TRUE(UnregisterWaitEx(c.wait, INVALID_HANDLE_VALUE));
    CloseHandle(event);
}

}  // namespace
