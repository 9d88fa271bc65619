// CreateThread and Sleep: the routine runs with its parameter, a closed
// handle detaches a running thread, bad arguments fail.
#include <gtest/gtest.h>

#include <chrono>

#include "platform/WinKernel.h"

using namespace win;

namespace {

constexpr DWORD kGuard = 10000;

struct Work {
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    int value = 0;
};

DWORD Routine(LPVOID p) {
    auto* work = static_cast<Work*>(p);
    WaitForSingleObject(work->go, kGuard);
    work->value = 42;
    SetEvent(work->done);
    return 0;
}

TEST(ThreadTest, RoutineRunsWithItsParameterAndTheHandleSignalsItsEnd) {
    Work work;
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, Routine, &work, 0, &id);
    ASSERT_NE(thread, nullptr);
    EXPECT_NE(id, 0u);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
    SetEvent(work.go);
    ASSERT_EQ(WaitForSingleObject(thread, kGuard), WAIT_OBJECT_0);
    EXPECT_EQ(work.value, 42);
    EXPECT_TRUE(CloseHandle(thread));
    CloseHandle(work.go);
    CloseHandle(work.done);
}

TEST(ThreadTest, ClosingTheHandleOfARunningThreadDetachesIt) {
    Work work;
    DWORD firstId = 0, secondId = 0;
    HANDLE thread = CreateThread(nullptr, 0, Routine, &work, 0, &firstId);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(CloseHandle(thread));  // still running, blocked on go
    SetEvent(work.go);
    ASSERT_EQ(WaitForSingleObject(work.done, kGuard), WAIT_OBJECT_0);
    EXPECT_EQ(work.value, 42);
    HANDLE second = CreateThread(nullptr, 0, Routine, &work, 0, &secondId);
    EXPECT_NE(firstId, secondId);
    WaitForSingleObject(second, kGuard);
    CloseHandle(second);
    CloseHandle(work.go);
    CloseHandle(work.done);
}

TEST(ThreadTest, BadArgumentsFail) {
    Work work;
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(CreateThread(nullptr, 0, nullptr, &work, 0, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(CreateThread(nullptr, 0, Routine, &work, 4 /* CREATE_SUSPENDED */, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(SetEvent(nullptr));
    CloseHandle(work.go);
    CloseHandle(work.done);
}

TEST(ThreadTest, SleepWaitsAtLeastTheTimeGiven) {
    const auto start = std::chrono::steady_clock::now();
    Sleep(25);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(25));
    Sleep(0);
}

}  // namespace
