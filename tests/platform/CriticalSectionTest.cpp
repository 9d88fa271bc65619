// Critical sections: re-entry by the owner, exclusion of other threads until
// the owner has left as often as it entered.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/WinKernel.h"

using namespace win;

namespace {

TEST(CriticalSectionTest, OwnerReentersAndOthersWaitForTheLastLeave) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    EnterCriticalSection(&section);
    EnterCriticalSection(&section);  // re-entry must not block
    std::thread other([&] {
        EnterCriticalSection(&section);
        SetEvent(entered);
        LeaveCriticalSection(&section);
    });
    LeaveCriticalSection(&section);
    EXPECT_EQ(WaitForSingleObject(entered, 50), WAIT_TIMEOUT);  // still held once
    LeaveCriticalSection(&section);
    EXPECT_EQ(WaitForSingleObject(entered, 10000), WAIT_OBJECT_0);
    other.join();
    DeleteCriticalSection(&section);
    EXPECT_EQ(section.impl, nullptr);
    CloseHandle(entered);
}

TEST(CriticalSectionTest, NestedSectionsExcludeEachOther) {
    CRITICAL_SECTION section;
    InitializeCriticalSection(&section);
    constexpr int kThreads = 4;
    constexpr int kIncrements = 20000;
    long counter = 0;  // plain on purpose: only the section protects it
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kIncrements; ++i) {
                EnterCriticalSection(&section);
                EnterCriticalSection(&section);
                const long seen = counter;
                LeaveCriticalSection(&section);
                counter = seen + 1;
                LeaveCriticalSection(&section);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(counter, kThreads * kIncrements);
    DeleteCriticalSection(&section);
}

}  // namespace
