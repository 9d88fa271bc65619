// Events: auto-reset release-one and coalescing, manual-reset, argument checks,
// and signals that must never be lost when a set races a waiter.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/WinKernel.h"

using namespace win;

namespace {

constexpr DWORD kGuard = 10000;  // failure guard only; passing tests never reach it

TEST(EventTest, AutoResetReleasesOneWaitAndResets) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    EXPECT_TRUE(CloseHandle(event));
}

TEST(EventTest, SeveralSetsBeforeAWaitCoalesce) {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(SetEvent(event));
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

TEST(EventTest, InitialStateAndResetEvent) {
    HANDLE autoEvent = CreateEventA(nullptr, FALSE, TRUE, nullptr);
    HANDLE manualEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
    ASSERT_TRUE(ResetEvent(autoEvent));
    EXPECT_EQ(WaitForSingleObject(autoEvent, 0), WAIT_TIMEOUT);
    EXPECT_EQ(WaitForSingleObject(manualEvent, 0), WAIT_OBJECT_0);
    ASSERT_TRUE(ResetEvent(manualEvent));
    EXPECT_EQ(WaitForSingleObject(manualEvent, 0), WAIT_TIMEOUT);
    CloseHandle(autoEvent);
    CloseHandle(manualEvent);
}

TEST(EventTest, ManualResetStaysSetUntilReset) {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    SetEvent(event);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    ResetEvent(event);
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    CloseHandle(event);
}

// Blocked waiters: an auto-reset set releases exactly one; a manual-reset set
// releases every one.
TEST(EventTest, SetReleasesOneBlockedWaiterOrAll) {
    for (BOOL manual : {FALSE, TRUE}) {
        SCOPED_TRACE(manual ? "manual-reset" : "auto-reset");
        constexpr int kWaiters = 3;
        HANDLE event = CreateEventA(nullptr, manual, FALSE, nullptr);
        HANDLE released = CreateEventA(nullptr, FALSE, FALSE, nullptr);
        std::atomic<int> releasedCount{0};
        std::vector<std::thread> waiters;
        for (int i = 0; i < kWaiters; ++i) {
            waiters.emplace_back([&] {
                if (WaitForSingleObject(event, kGuard) == WAIT_OBJECT_0) ++releasedCount;
                SetEvent(released);
            });
        }
        // Whether the set lands before or after the waiters block, it releases
        // one of them (auto-reset) or all of them (manual-reset).
        SetEvent(event);
        if (manual) {
            while (releasedCount.load() < kWaiters) ASSERT_EQ(WaitForSingleObject(released, kGuard), WAIT_OBJECT_0);
        } else {
            // Exactly one waiter comes out, and it signals once: take that signal,
            // so that a later one can only come from a second, wrongly released waiter.
            ASSERT_EQ(WaitForSingleObject(released, kGuard), WAIT_OBJECT_0);
            // The others stay blocked until further sets.
            EXPECT_EQ(WaitForSingleObject(released, 50), WAIT_TIMEOUT);
            EXPECT_EQ(releasedCount.load(), 1);
            for (int i = 1; i < kWaiters; ++i) SetEvent(event);
            // Sets that land before a waiter blocks coalesce, so keep setting until all are out.
            while (releasedCount.load() < kWaiters) {
                if (WaitForSingleObject(released, 20) == WAIT_TIMEOUT) SetEvent(event);
            }
        }
        for (std::thread& waiter : waiters) waiter.join();
        EXPECT_EQ(releasedCount.load(), kWaiters);
        CloseHandle(event);
        CloseHandle(released);
    }
}

TEST(EventTest, BadArgumentsFailWithLastError) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(CreateEventA(nullptr, FALSE, FALSE, "named"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    for (HANDLE bad : {static_cast<HANDLE>(nullptr), INVALID_HANDLE_VALUE}) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(SetEvent(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(ResetEvent(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(CloseHandle(bad));
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
}

// One producer sets an auto-reset event after each item; the consumer waits
// with short time-outs, so sets race time-outs. A lost signal would leave the
// consumer short of items until the guard expires.
TEST(EventTest, NoSignalIsLostWhenSetsRaceTimeouts) {
    constexpr int kItems = 20000;
    HANDLE itemEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HANDLE ackEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> produced{0};
    std::thread producer([&] {
        for (int i = 0; i < kItems; ++i) {
            produced.fetch_add(1);
            SetEvent(itemEvent);
            if (WaitForSingleObject(ackEvent, kGuard) != WAIT_OBJECT_0) return;
        }
    });
    int consumed = 0;
    const auto start = std::chrono::steady_clock::now();
    while (consumed < kItems && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
        const DWORD result = WaitForSingleObject(itemEvent, consumed % 2);  // 0 and 1 ms time-outs
        if (result == WAIT_TIMEOUT) continue;
        ASSERT_EQ(result, WAIT_OBJECT_0);
        ++consumed;
        EXPECT_EQ(produced.load(), consumed);
        SetEvent(ackEvent);
    }
    producer.join();
    EXPECT_EQ(consumed, kItems);
    CloseHandle(itemEvent);
    CloseHandle(ackEvent);
}

// Queue hand-over as the capture engine does it: append, then set; the
// consumer drains everything after each wake. Every item arrives once.
TEST(EventTest, CoalescedSignalsCoverEveryQueuedItem) {
    constexpr int kProducers = 3;
    constexpr int kPerProducer = 20000;
    HANDLE itemEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    std::atomic<int> queued{0};
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&] {
            for (int i = 0; i < kPerProducer; ++i) {
                queued.fetch_add(1, std::memory_order_release);
                SetEvent(itemEvent);
            }
        });
    }
    int taken = 0;
    while (taken < kProducers * kPerProducer) {
        while (taken < queued.load(std::memory_order_acquire)) ++taken;
        if (taken == kProducers * kPerProducer) break;
        ASSERT_EQ(WaitForSingleObject(itemEvent, kGuard), WAIT_OBJECT_0) << "lost signal after " << taken;
    }
    for (std::thread& producer : producers) producer.join();
    EXPECT_EQ(taken, kProducers * kPerProducer);
    CloseHandle(itemEvent);
}

}  // namespace
