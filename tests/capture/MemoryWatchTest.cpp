// The capture's memory headroom: each limit keeps a reserve taken from its own
// total (physical memory from the machine's or the group's, address space from
// the limit in force), a reading that fails counts as no room and never
// throws, and under a real address-space limit the watch lets a capture run
// while the room lasts (in a child process, which the limit would hamper).
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <fstream>

#include "capture/MemoryWatch.h"
#include "platform/TestHooks.h"
#include "platform/WinKernel.h"
#include "platform/WinMemory.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Sanitizers.h"

namespace {

using win::DWORDLONG;
using win::MEMORYSTATUSEX;

constexpr DWORDLONG kMiB = 1ull << 20;
constexpr DWORDLONG kGiB = 1ull << 30;
// What the memory status gives for the address space when no limit is set.
constexpr DWORDLONG kNoAddressLimit = 1ull << 47;

MEMORYSTATUSEX StatusOf(DWORDLONG totalPhys, DWORDLONG availPhys, DWORDLONG totalVirtual, DWORDLONG availVirtual)
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    status.ullTotalPhys = totalPhys;
    status.ullAvailPhys = availPhys;
    status.ullTotalVirtual = totalVirtual;
    status.ullAvailVirtual = availVirtual;
    return status;
}

TEST(MemoryWatchTest, TheReserveIsASixteenthOfItsTotalWithinBounds)
{
    const struct {
        DWORDLONG total;
        DWORDLONG reserve;
    } cases[] = {
        {0, 48 * kMiB},             {384 * kMiB, 48 * kMiB}, {700 * kMiB, 48 * kMiB}, {1 * kGiB, 64 * kMiB},
        {2 * kGiB, 128 * kMiB},     {4 * kGiB, 256 * kMiB},  {64 * kGiB, 256 * kMiB}, {kNoAddressLimit, 256 * kMiB},
    };
    for (const auto& c : cases) EXPECT_EQ(MemoryWatch::ReserveOf(c.total), c.reserve) << c.total;
}

TEST(MemoryWatchTest, EachLimitIsMeasuredAgainstItsOwnReserve)
{
    const struct {
        const char* name;
        MEMORYSTATUSEX status;
        bool low;
    } cases[] = {
        {"plenty of both", StatusOf(16 * kGiB, 10 * kGiB, kNoAddressLimit, kNoAddressLimit - 600 * kMiB), false},
        // The program maps about 520 MiB before it captures: under a 700 MiB
        // address-space limit 180 MiB are left, which is plenty for that limit
        // though less than the reserve of a 16 GiB machine.
        {"700 MiB address limit, 180 MiB free", StatusOf(16 * kGiB, 10 * kGiB, 700 * kMiB, 180 * kMiB), false},
        {"700 MiB address limit, 40 MiB free", StatusOf(16 * kGiB, 10 * kGiB, 700 * kMiB, 40 * kMiB), true},
        {"4 GiB address limit, 200 MiB free", StatusOf(16 * kGiB, 10 * kGiB, 4 * kGiB, 200 * kMiB), true},
        {"16 GiB machine, 200 MiB available", StatusOf(16 * kGiB, 200 * kMiB, kNoAddressLimit, kNoAddressLimit), true},
        {"16 GiB machine, 300 MiB available", StatusOf(16 * kGiB, 300 * kMiB, kNoAddressLimit, kNoAddressLimit), false},
        {"384 MiB group, 60 MiB left", StatusOf(384 * kMiB, 60 * kMiB, kNoAddressLimit, kNoAddressLimit), false},
        {"384 MiB group, 30 MiB left", StatusOf(384 * kMiB, 30 * kMiB, kNoAddressLimit, kNoAddressLimit), true},
    };
    for (const auto& c : cases) EXPECT_EQ(MemoryWatch::IsLow(c.status), c.low) << c.name;
}

TEST(MemoryWatchTest, AFailedReadingCountsAsNoRoomUntilAReadingSucceeds)
{
    MemoryWatch watch;
    ASSERT_TRUE(watch.Check()) << "this machine has room";

    win::testing::SetMemoryStatusFailures(1);
    EXPECT_FALSE(watch.Check());
    EXPECT_FALSE(watch.HasRoom());
    EXPECT_TRUE(watch.Check()) << "the next reading succeeds";
    EXPECT_TRUE(watch.HasRoom());

    // A reading due in Charge fails the same way, without an exception.
    for (std::uint64_t i = 1; i < MemoryWatch::kReadEveryCharges; ++i) ASSERT_TRUE(watch.Charge(0)) << i;
    win::testing::SetMemoryStatusFailures(1);
    EXPECT_FALSE(watch.Charge(0)) << "the reading at the step failed";
    win::testing::SetMemoryStatusFailures(0);
    EXPECT_FALSE(watch.HasRoom());
    EXPECT_FALSE(watch.Charge(0)) << "no room until the next reading";
    EXPECT_TRUE(watch.Check());
}

TEST(MemoryWatchTest, TheStatusFailsWithoutThrowingWhenItsMemoryRunsOut)
{
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    win::testing::SetMemoryStatusFailures(1);
    EXPECT_FALSE(win::GlobalMemoryStatusEx(&status));
    EXPECT_EQ(win::GetLastError(), win::ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_TRUE(win::GlobalMemoryStatusEx(&status));
}

// The process's mapped size, as RLIMIT_AS counts it.
DWORDLONG MappedBytes()
{
    std::ifstream statm("/proc/self/statm");
    DWORDLONG pages = 0;
    statm >> pages;
    return pages * static_cast<DWORDLONG>(sysconf(_SC_PAGESIZE));
}

TEST(MemoryWatchTest, UnderAnAddressSpaceLimitTheRoomLeftUnderItCounts)
{
    if (testsupport::kUnderSanitizer) GTEST_SKIP() << "a sanitizer does not run under an address-space limit";
    EXPECT_CHILD_PASSED(testsupport::ChildProcess::Run([] {
        // 200 MiB of address space left: far below the reserve of this
        // machine's memory, well above the reserve of the limit itself.
        rlimit limit{};
        ASSERT_EQ(getrlimit(RLIMIT_AS, &limit), 0);
        limit.rlim_cur = MappedBytes() + 200 * kMiB;
        if (setrlimit(RLIMIT_AS, &limit) != 0) testsupport::ChildProcess::SkipChild("cannot set RLIMIT_AS");
        MemoryWatch watch;
        EXPECT_TRUE(watch.Check()) << "a capture may start with 200 MiB of address space left";

        // Most of it taken: what is left is below the limit's reserve.
        void* taken = mmap(nullptr, 170 * kMiB, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
        ASSERT_NE(taken, MAP_FAILED);
        EXPECT_FALSE(watch.Check()) << "30 MiB left";
        munmap(taken, 170 * kMiB);
        EXPECT_TRUE(watch.Check()) << "given back";
    }));
}

}  // namespace
