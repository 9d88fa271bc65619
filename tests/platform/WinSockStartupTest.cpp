// WSAStartup and WSACleanup: the versions accepted and reported, the
// reference count (only the last clean-up stops the service), calls before
// start-up and after the last clean-up failing with WSANOTINITIALISED, and the
// last clean-up closing sockets that are still open.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>

#include "platform/WinSock.h"
#include "tests/support/Privileges.h"

using namespace win;

namespace {

// A call that needs a started service and otherwise fails with a code of its
// own: socket() with an unsupported type gives WSAESOCKTNOSUPPORT once started.
int ErrorOfProbe() {
    WSASetLastError(0);
    SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_IP);
    EXPECT_EQ(s, INVALID_SOCKET);
    return WSAGetLastError();
}

bool Started() { return ErrorOfProbe() != WSANOTINITIALISED; }

class WinSockStartupTest : public ::testing::Test {
protected:
    // Every test leaves the service stopped, whatever it did.
    void TearDown() override {
        for (int i = 0; i < 16 && WSACleanup() == 0; ++i) {
        }
    }
};

TEST_F(WinSockStartupTest, CallsBeforeStartUpFailWithNotInitialised) {
    ASSERT_FALSE(Started());
    EXPECT_EQ(ErrorOfProbe(), WSANOTINITIALISED);

    WSASetLastError(0);
    EXPECT_EQ(socket(AF_INET, SOCK_RAW, IPPROTO_IP), INVALID_SOCKET);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

    WSASetLastError(0);
    EXPECT_EQ(closesocket(1), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

    WSASetLastError(0);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
    // gethostbyaddr before start-up is checked in ResolverTest, inside a
    // hosts-file-only resolver.
}

TEST_F(WinSockStartupTest, VersionsBelowTwoTwoAreRejectedAndDoNotStart) {
    struct Case {
        WORD requested;  // low byte major, high byte minor
        int result;
    } cases[] = {
        {0x0101, WSAVERNOTSUPPORTED},  // 1.1
        {0x0001, WSAVERNOTSUPPORTED},  // 1.0
        {0x0002, WSAVERNOTSUPPORTED},  // 2.0
        {0x0102, WSAVERNOTSUPPORTED},  // 2.1
        {0x0000, WSAVERNOTSUPPORTED},
        {0x0202, 0},                   // 2.2
        {0x0302, 0},                   // 2.3: served as 2.2
        {0x0003, 0},                   // 3.0: served as 2.2
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "requested 0x" << std::hex << c.requested);
        WSADATA data;
        std::memset(&data, 0x5A, sizeof data);
        ASSERT_EQ(WSAStartup(c.requested, &data), c.result);
        if (c.result != 0) {
            EXPECT_FALSE(Started());
            WSASetLastError(0);
            EXPECT_EQ(WSACleanup(), SOCKET_ERROR) << "a refused start-up must not count";
            EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
            continue;
        }
        EXPECT_EQ(data.wVersion, 0x0202);
        EXPECT_EQ(data.wHighVersion, 0x0202);
        EXPECT_LT(std::strlen(data.szDescription), sizeof data.szDescription);
        EXPECT_LT(std::strlen(data.szSystemStatus), sizeof data.szSystemStatus);
        EXPECT_TRUE(Started());
        EXPECT_EQ(WSACleanup(), 0);
        EXPECT_FALSE(Started());
    }
}

TEST_F(WinSockStartupTest, NullDataIsRefusedAndDoesNotStart) {
    EXPECT_EQ(WSAStartup(0x0202, nullptr), WSAEFAULT);
    EXPECT_FALSE(Started());
}

TEST_F(WinSockStartupTest, OnlyTheLastCleanUpStopsTheService) {
    WSADATA data;
    constexpr int kStarts = 3;
    for (int i = 0; i < kStarts; ++i) ASSERT_EQ(WSAStartup(0x0202, &data), 0);
    for (int i = 0; i < kStarts; ++i) {
        EXPECT_TRUE(Started()) << "after " << i << " clean-ups";
        EXPECT_EQ(WSACleanup(), 0);
    }
    EXPECT_FALSE(Started());
    WSASetLastError(0);
    EXPECT_EQ(WSACleanup(), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

    // The count starts afresh: an extra clean-up above did not drive it below zero.
    ASSERT_EQ(WSAStartup(0x0202, &data), 0);
    EXPECT_TRUE(Started());
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_FALSE(Started());
}

TEST_F(WinSockStartupTest, LastCleanUpClosesOpenSockets) {
    SKIP_UNLESS_CAPTURE_ALLOWED();
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0202, &data), 0);
    ASSERT_EQ(WSAStartup(0x0202, &data), 0);
    SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
    ASSERT_NE(s, INVALID_SOCKET);

    ASSERT_EQ(WSACleanup(), 0);  // not the last one: the socket stays
    unsigned on = RCVALL_ON;
    DWORD returned = 0;
    WSASetLastError(0);
    EXPECT_EQ(WSAIoctl(s, SIO_RCVALL, &on, sizeof on, nullptr, 0, &returned, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL) << "an open, unbound socket refuses receive-all";

    ASSERT_EQ(WSACleanup(), 0);
    WSASetLastError(0);
    EXPECT_EQ(closesocket(s), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

    ASSERT_EQ(WSAStartup(0x0202, &data), 0);
    WSASetLastError(0);
    EXPECT_EQ(closesocket(s), SOCKET_ERROR) << "the last clean-up should have closed the socket";
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
}

TEST_F(WinSockStartupTest, LastErrorIsPerThread) {
    WSASetLastError(WSAEWOULDBLOCK);
    int other = -1;
    std::thread([&] {
        WSASetLastError(WSAEINVAL);
        other = WSAGetLastError();
    }).join();
    EXPECT_EQ(other, WSAEINVAL);
    EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
}

}  // namespace
