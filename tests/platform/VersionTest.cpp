// The version query: size check, the answer from the running kernel, and the
// test and environment overrides.
// The layer's headers come before the system's socket macros.
#include "platform/TestHooks.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

using namespace win;

namespace {

OSVERSIONINFOA Query() {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    EXPECT_TRUE(GetVersionExA(&info));
    return info;
}

TEST(VersionTest, SizeMustBe148) {
    OSVERSIONINFOA info{};
    for (DWORD size : {0u, 147u, 149u, 156u}) {
        info.dwOSVersionInfoSize = size;
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(GetVersionExA(&info)) << size;
        EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    }
    EXPECT_FALSE(GetVersionExA(nullptr));
}

TEST(VersionTest, NtFiveOrLaterWhenTheKernelOffersPacketSockets) {
    unsetenv("QUORVANE_OS_VERSION");
    const int fd = ::socket(AF_PACKET, ::SOCK_DGRAM, 0);
    const bool offered = fd >= 0 || errno != EAFNOSUPPORT;
    if (fd >= 0) ::close(fd);
    const OSVERSIONINFOA info = Query();
    if (offered) {
        EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
        EXPECT_GE(info.dwMajorVersion, 5u);
    } else {
        EXPECT_NE(info.dwPlatformId, VER_PLATFORM_WIN32_NT);
    }
    EXPECT_EQ(info.dwOSVersionInfoSize, 148u);
}

TEST(VersionTest, EnvironmentAndTestOverrides) {
    const OSVERSIONINFOA real = (unsetenv("QUORVANE_OS_VERSION"), Query());
    struct Case {
        const char* text;
        bool used;
        DWORD platform, major, minor;
    };
    const Case cases[] = {
        {"1.4.10", true, 1, 4, 10}, {"2.4.0", true, 2, 4, 0}, {"2.5.0", true, 2, 5, 0},
        {"2.5", false, 0, 0, 0},    {"junk", false, 0, 0, 0}, {"2.5.0x", false, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        setenv("QUORVANE_OS_VERSION", c.text, 1);
        const OSVERSIONINFOA info = Query();
        EXPECT_EQ(info.dwPlatformId, c.used ? c.platform : real.dwPlatformId);
        EXPECT_EQ(info.dwMajorVersion, c.used ? c.major : real.dwMajorVersion);
        EXPECT_EQ(info.dwMinorVersion, c.used ? c.minor : real.dwMinorVersion);
    }
    // The test override wins over the environment until it is removed.
    setenv("QUORVANE_OS_VERSION", "1.4.10", 1);
    OSVERSIONINFOA answer{};
    answer.dwPlatformId = VER_PLATFORM_WIN32s;
    answer.dwMajorVersion = 3;
    answer.dwMinorVersion = 11;
    win::testing::SetVersionOverride(&answer);
    OSVERSIONINFOA info = Query();
    EXPECT_EQ(info.dwPlatformId, VER_PLATFORM_WIN32s);
    EXPECT_EQ(info.dwMajorVersion, 3u);
    EXPECT_EQ(info.dwMinorVersion, 11u);
    win::testing::SetVersionOverride(nullptr);
    EXPECT_EQ(Query().dwPlatformId, 1u);
    unsetenv("QUORVANE_OS_VERSION");
    EXPECT_EQ(Query().dwPlatformId, real.dwPlatformId);
}

}  // namespace
