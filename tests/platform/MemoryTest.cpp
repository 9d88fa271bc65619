// Memory services: aligned, zeroed regions, backed at once, that go back to
// the system when freed; injected allocation failures; and a memory status
// that follows a control group's limit and the address-space limit (in child
// processes).
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/TestHooks.h"
#include "platform/WinKernel.h"
#include "platform/WinMemory.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/MemoryCgroup.h"

namespace {

using namespace win;

// True when some mapping of this process covers the address.
bool IsMapped(const void* address) {
    const auto at = reinterpret_cast<std::uintptr_t>(address);
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        std::istringstream fields(line);
        std::uintptr_t start = 0;
        std::uintptr_t end = 0;
        char dash = 0;
        fields >> std::hex >> start >> dash >> end;
        if (at >= start && at < end) return true;
    }
    return false;
}

MEMORYSTATUSEX Status() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    EXPECT_TRUE(GlobalMemoryStatusEx(&status));
    return status;
}

TEST(MemoryTest, RegionsAreAlignedZeroedWritableAndReturned) {
    for (SIZE_T size : {SIZE_T{1}, SIZE_T{4096}, SIZE_T{65536}, SIZE_T{200000}, SIZE_T{3} << 20}) {
        auto* region = static_cast<unsigned char*>(VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
        ASSERT_NE(region, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(region) % kAllocationGranularity, 0u) << size;
        // Committed means backed: every page is there before it is touched.
        const SIZE_T page = static_cast<SIZE_T>(sysconf(_SC_PAGESIZE));
        std::vector<unsigned char> resident((size + page - 1) / page);
        ASSERT_EQ(mincore(region, size, resident.data()), 0);
        EXPECT_EQ(std::count_if(resident.begin(), resident.end(), [](unsigned char r) { return (r & 1) == 0; }), 0)
            << size;
        for (SIZE_T i = 0; i < size; i += 997) ASSERT_EQ(region[i], 0) << size << " at " << i;
        std::memset(region, 0x5A, size);
        EXPECT_EQ(region[size - 1], 0x5A);
        EXPECT_TRUE(IsMapped(region));
        EXPECT_TRUE(VirtualFree(region, 0, MEM_RELEASE)) << size;
        EXPECT_FALSE(IsMapped(region)) << "a freed region goes back to the system, size " << size;
        EXPECT_FALSE(VirtualFree(region, 0, MEM_RELEASE)) << "freed twice";
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
}

TEST(MemoryTest, BadArgumentsAreRefused) {
    int local = 0;
    EXPECT_EQ(VirtualAlloc(&local, 4096, MEM_COMMIT, PAGE_READWRITE), nullptr);
    EXPECT_EQ(VirtualAlloc(nullptr, 0, MEM_COMMIT, PAGE_READWRITE), nullptr);
    EXPECT_EQ(VirtualAlloc(nullptr, 4096, MEM_RESERVE, PAGE_READWRITE), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(VirtualFree(nullptr, 0, MEM_RELEASE));
    void* region = VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READWRITE);
    ASSERT_NE(region, nullptr);
    EXPECT_FALSE(VirtualFree(region, 4096, MEM_RELEASE)) << "a size with MEM_RELEASE";
    EXPECT_TRUE(VirtualFree(region, 0, MEM_RELEASE));
}

TEST(MemoryTest, InjectedFailuresRunOut) {
    win::testing::SetVirtualAllocFailures(2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READWRITE), nullptr) << i;
        EXPECT_EQ(GetLastError(), ERROR_NOT_ENOUGH_MEMORY);
    }
    void* region = VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READWRITE);
    EXPECT_NE(region, nullptr) << "the third allocation succeeds";
    VirtualFree(region, 0, MEM_RELEASE);
    win::testing::SetVirtualAllocFailures(5);
    win::testing::SetVirtualAllocFailures(0);
    region = VirtualAlloc(nullptr, 4096, MEM_COMMIT, PAGE_READWRITE);
    EXPECT_NE(region, nullptr) << "0 cancels the failures left";
    VirtualFree(region, 0, MEM_RELEASE);
}

TEST(MemoryTest, StatusIsConsistent) {
    MEMORYSTATUSEX wrong{};
    wrong.dwLength = sizeof wrong - 1;
    EXPECT_FALSE(GlobalMemoryStatusEx(&wrong));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(GlobalMemoryStatusEx(nullptr));

    const MEMORYSTATUSEX status = Status();
    EXPECT_GT(status.ullTotalPhys, 0u);
    EXPECT_GT(status.ullAvailPhys, 0u);
    EXPECT_LE(status.ullAvailPhys, status.ullTotalPhys);
    EXPECT_LE(status.dwMemoryLoad, 100u);
    EXPECT_GE(status.ullTotalPageFile, status.ullTotalPhys);
    EXPECT_GT(status.ullAvailVirtual, 0u);
    EXPECT_LT(status.ullAvailVirtual, status.ullTotalVirtual) << "the test itself maps memory";
    // The kernel's own figures: the total is the machine's (or a group's
    // lower limit), and the page file adds exactly the swap space.
    struct sysinfo info {};
    ASSERT_EQ(sysinfo(&info), 0);
    EXPECT_LE(status.ullTotalPhys, DWORDLONG{info.totalram} * info.mem_unit);
    EXPECT_EQ(status.ullTotalPageFile - status.ullTotalPhys, DWORDLONG{info.totalswap} * info.mem_unit);
}

TEST(MemoryTest, StatusFollowsTheControlGroupLimit) {
    constexpr unsigned long long kLimit = 200ull << 20;
    testsupport::MemoryCgroup group(kLimit);
    if (!group.IsReady()) GTEST_SKIP() << group.Reason();
    const unsigned long long limit = group.Limit();
    EXPECT_CHILD_PASSED(testsupport::ChildProcess::Run([&] {
        if (!group.Join(getpid())) testsupport::ChildProcess::FailChild("cannot join the group");
        const MEMORYSTATUSEX before = Status();
        EXPECT_EQ(before.ullTotalPhys, limit);
        EXPECT_LE(before.ullAvailPhys, limit);
        // 64 MiB written: the group's usage grows by as much.
        constexpr SIZE_T kTouched = 64u << 20;
        void* region = VirtualAlloc(nullptr, kTouched, MEM_COMMIT, PAGE_READWRITE);
        ASSERT_NE(region, nullptr);
        std::memset(region, 1, kTouched);
        const MEMORYSTATUSEX during = Status();
        EXPECT_LE(during.ullAvailPhys + (48u << 20), before.ullAvailPhys)
            << before.ullAvailPhys << " then " << during.ullAvailPhys;
        VirtualFree(region, 0, MEM_RELEASE);
        const MEMORYSTATUSEX after = Status();
        EXPECT_GE(after.ullAvailPhys, during.ullAvailPhys + (48u << 20)) << "freeing gives the room back";
    }));
}

TEST(MemoryTest, StatusFollowsTheAddressSpaceLimit) {
    EXPECT_CHILD_PASSED(testsupport::ChildProcess::Run([] {
        rlimit limit{};
        ASSERT_EQ(getrlimit(RLIMIT_AS, &limit), 0);
        limit.rlim_cur = 8ull << 30;
        if (setrlimit(RLIMIT_AS, &limit) != 0) testsupport::ChildProcess::SkipChild("cannot set RLIMIT_AS");
        const MEMORYSTATUSEX status = Status();
        EXPECT_EQ(status.ullTotalVirtual, 8ull << 30);
        EXPECT_LT(status.ullAvailVirtual, 8ull << 30);
        EXPECT_GT(status.ullAvailVirtual, 0u);
    }));
}

}  // namespace
