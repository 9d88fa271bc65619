// gethostbyaddr: names from a hosts file the test writes (never the machine's
// name server), misses and bad arguments giving null, the per-thread result
// under concurrent lookups, and the resolver hook (called with the address in
// network order, able to stall one lookup without holding up the others).
#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/TestHooks.h"
#include "platform/WinSock.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/HostsResolver.h"
#include "tests/support/Privileges.h"

using namespace win;
using testsupport::ChildProcess;
using testsupport::HostsResolver;

namespace {

constexpr int kThreads = 8;

// host-N.test for 10.2.0.N, N = 1 .. kThreads, after a few hand-written names.
std::string HostsText() {
    std::string text =
        "# written by the resolver test\n"
        "10.1.2.3\talpha.test alpha a.test\n"
        "10.1.2.4 beta.test\n"
        "10.1.2.3 later-alpha.test\n"
        "192.168.7.1   gamma.example.test   gamma\n";
    for (int n = 1; n <= kThreads; ++n) text += "10.2.0." + std::to_string(n) + " host-" + std::to_string(n) + ".test\n";
    return text;
}

struct Address {
    char bytes[4];
};
Address Parse(const char* text) {
    Address address;
    win::u_long value = inet_addr(text);
    std::memcpy(address.bytes, &value, sizeof address.bytes);
    return address;
}

// What a lookup gave, copied out of the per-thread record.
std::string NameOf(const char* text) {
    Address address = Parse(text);
    hostent* entry = gethostbyaddr(address.bytes, 4, AF_INET);
    return entry == nullptr ? std::string("<null>") : std::string(entry->h_name);
}

// Resolver body: started Winsock, hook removed again at the end.
testsupport::ChildOutcome RunWithHosts(const std::function<void()>& body) {
    return HostsResolver::Run(HostsText(), [&body] {
        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0202, &data), 0);
        body();
        win::testing::SetResolverHook(nullptr);
        WSACleanup();
    });
}

class ResolverTest : public ::testing::Test {
protected:
    void SetUp() override { SKIP_UNLESS_ISOLATION_ALLOWED(); }
};

TEST_F(ResolverTest, NamedAddressGivesTheOfficialNameAndTheAddress) {
    EXPECT_CHILD_PASSED(RunWithHosts([] {
        struct Case {
            const char* address;
            const char* name;
        } cases[] = {
            {"10.1.2.3", "alpha.test"},  // the first line and the first name win
            {"10.1.2.4", "beta.test"},
            {"192.168.7.1", "gamma.example.test"},
            {"10.2.0.5", "host-5.test"},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.address);
            Address address = Parse(c.address);
            hostent* entry = gethostbyaddr(address.bytes, 4, AF_INET);
            ASSERT_NE(entry, nullptr) << WSAGetLastError();
            ASSERT_NE(entry->h_name, nullptr);
            EXPECT_STREQ(entry->h_name, c.name);
            EXPECT_EQ(entry->h_addrtype, AF_INET);
            EXPECT_EQ(entry->h_length, 4);
            ASSERT_NE(entry->h_aliases, nullptr);
            ASSERT_NE(entry->h_addr_list, nullptr);
            ASSERT_NE(entry->h_addr_list[0], nullptr);
            EXPECT_EQ(std::memcmp(entry->h_addr_list[0], address.bytes, 4), 0);
            EXPECT_EQ(entry->h_addr_list[1], nullptr);
        }
    }));
}

TEST_F(ResolverTest, AddressWithoutANameGivesNull) {
    EXPECT_CHILD_PASSED(RunWithHosts([] {
        const char* misses[] = {"10.1.2.5", "10.2.0.9", "127.0.0.1", "192.168.7.2", "0.0.0.0"};
        for (const char* text : misses) {
            SCOPED_TRACE(text);
            Address address = Parse(text);
            WSASetLastError(0);
            EXPECT_EQ(gethostbyaddr(address.bytes, 4, AF_INET), nullptr);
            EXPECT_EQ(WSAGetLastError(), WSAHOST_NOT_FOUND);
        }
        // A miss leaves the service usable: the next named address resolves.
        EXPECT_EQ(NameOf("10.1.2.4"), "beta.test");
    }));
}

TEST_F(ResolverTest, WrongLengthOrTypeFails) {
    EXPECT_CHILD_PASSED(RunWithHosts([] {
        std::atomic<int> hookCalls{0};
        win::testing::SetResolverHook([&](unsigned long) { ++hookCalls; });
        char address[16] = {10, 1, 2, 3};
        struct Case {
            const char* address;
            int length;
            int type;
            int error;
        } cases[] = {
            {address, 0, AF_INET, WSAEFAULT},
            {address, 3, AF_INET, WSAEFAULT},
            {address, 5, AF_INET, WSAEFAULT},
            {address, 16, AF_INET, WSAEFAULT},
            {address, -4, AF_INET, WSAEFAULT},
            {nullptr, 4, AF_INET, WSAEFAULT},
            {address, 4, 23, WSAEAFNOSUPPORT},  // AF_INET6
            {address, 4, 0, WSAEAFNOSUPPORT},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(::testing::Message() << "length " << c.length << " type " << c.type);
            WSASetLastError(0);
            EXPECT_EQ(gethostbyaddr(c.address, c.length, c.type), nullptr);
            EXPECT_EQ(WSAGetLastError(), c.error);
        }
        EXPECT_EQ(hookCalls.load(), 0) << "refused calls must not reach the name service";
        EXPECT_NE(gethostbyaddr(address, 4, AF_INET), nullptr);
        EXPECT_EQ(hookCalls.load(), 1);
    }));
}

TEST_F(ResolverTest, BeforeStartUpAndAfterCleanUpFailsNotInitialised) {
    EXPECT_CHILD_PASSED(HostsResolver::Run(HostsText(), [] {
        std::atomic<int> hookCalls{0};
        win::testing::SetResolverHook([&](unsigned long) { ++hookCalls; });
        Address address = Parse("10.1.2.3");
        WSASetLastError(0);
        EXPECT_EQ(gethostbyaddr(address.bytes, 4, AF_INET), nullptr);
        EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);

        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0202, &data), 0);
        EXPECT_NE(gethostbyaddr(address.bytes, 4, AF_INET), nullptr);
        ASSERT_EQ(WSACleanup(), 0);

        WSASetLastError(0);
        EXPECT_EQ(gethostbyaddr(address.bytes, 4, AF_INET), nullptr);
        EXPECT_EQ(WSAGetLastError(), WSANOTINITIALISED);
        EXPECT_EQ(hookCalls.load(), 1);
        win::testing::SetResolverHook(nullptr);
    }));
}

TEST_F(ResolverTest, ConcurrentLookupsEachKeepTheirOwnResult) {
    EXPECT_CHILD_PASSED(RunWithHosts([] {
        // Each thread resolves its own address, waits until every thread has,
        // then checks that its result record still holds its own answer.
        constexpr int kRounds = 50;
        std::barrier sync(kThreads);
        std::vector<int> wrong(kThreads, 0);
        std::vector<hostent*> records(kThreads, nullptr);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                const int n = t + 1;
                const std::string address = "10.2.0." + std::to_string(n);
                const std::string expected = "host-" + std::to_string(n) + ".test";
                const Address bytes = Parse(address.c_str());
                for (int round = 0; round < kRounds; ++round) {
                    hostent* entry = gethostbyaddr(bytes.bytes, 4, AF_INET);
                    records[t] = entry;
                    sync.arrive_and_wait();
                    if (entry == nullptr || expected != entry->h_name ||
                        std::memcmp(entry->h_addr_list[0], bytes.bytes, 4) != 0)
                        ++wrong[t];
                    sync.arrive_and_wait();
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
        for (int t = 0; t < kThreads; ++t) {
            EXPECT_EQ(wrong[t], 0) << "thread " << t;
            for (int u = t + 1; u < kThreads; ++u) EXPECT_NE(records[t], records[u]);
        }
    }));
}

TEST_F(ResolverTest, HookSeesTheAddressInNetworkOrderBeforeEachLookup) {
    EXPECT_CHILD_PASSED(RunWithHosts([] {
        std::mutex mutex;
        std::vector<unsigned long> seen;
        win::testing::SetResolverHook([&](unsigned long address) {
            std::lock_guard lock(mutex);
            seen.push_back(address);
        });
        EXPECT_EQ(NameOf("10.1.2.3"), "alpha.test");
        EXPECT_EQ(NameOf("192.168.7.1"), "gamma.example.test");
        EXPECT_EQ(NameOf("10.9.9.9"), "<null>");  // called for misses as well
        const std::vector<unsigned long> expected = {inet_addr("10.1.2.3"), inet_addr("192.168.7.1"),
                                                     inet_addr("10.9.9.9")};
        EXPECT_EQ(seen, expected);
        EXPECT_EQ(seen.at(0), htonl(0x0A010203));

        win::testing::SetResolverHook(nullptr);
        EXPECT_EQ(NameOf("10.1.2.4"), "beta.test");
        EXPECT_EQ(seen.size(), 3u) << "a removed hook is not called";
    }));
}

TEST_F(ResolverTest, StalledLookupDoesNotHoldUpOtherThreads) {
    EXPECT_CHILD_PASSED(RunWithHosts([] {
        // The hook stalls lookups of 10.1.2.3 until released, as a slow name
        // service would; lookups of other addresses go straight through.
        const unsigned long slow = inet_addr("10.1.2.3");
        std::mutex mutex;
        std::condition_variable changed;
        bool stalled = false;
        bool released = false;
        win::testing::SetResolverHook([&](unsigned long address) {
            if (address != slow) return;
            std::unique_lock lock(mutex);
            stalled = true;
            changed.notify_all();
            changed.wait_for(lock, std::chrono::seconds(20), [&] { return released; });
        });
        auto release = [&] {
            std::lock_guard lock(mutex);
            released = true;
            changed.notify_all();
        };

        std::future<std::string> slowName = std::async(std::launch::async, [] { return NameOf("10.1.2.3"); });
        {
            std::unique_lock lock(mutex);
            ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return stalled; }))
                << "the hook was never called";
        }
        // While that lookup stalls: others on other threads finish, and so
        // does replacing the hook (the stalled call keeps the hook it started with).
        std::vector<std::future<std::string>> others;
        for (int n = 1; n <= 4; ++n) {
            others.push_back(std::async(std::launch::async, [n] {
                return NameOf(("10.2.0." + std::to_string(n)).c_str());
            }));
        }
        for (int n = 1; n <= 4; ++n) {
            std::future<std::string>& other = others[n - 1];
            if (other.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
                release();
                FAIL() << "lookup of 10.2.0." << n << " waited for the stalled one";
            }
            EXPECT_EQ(other.get(), "host-" + std::to_string(n) + ".test");
        }
        auto replaced = std::async(std::launch::async, [] { win::testing::SetResolverHook(nullptr); });
        if (replaced.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            release();
            FAIL() << "removing the hook waited for the stalled call";
        }
        EXPECT_EQ(slowName.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout)
            << "the stalled lookup ended before it was released";

        release();
        ASSERT_EQ(slowName.wait_for(std::chrono::seconds(10)), std::future_status::ready);
        EXPECT_EQ(slowName.get(), "alpha.test");
    }));
}

}  // namespace
