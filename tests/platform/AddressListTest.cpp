// SIO_ADDRESS_LIST_QUERY: the list of the machine's IPv4 interface addresses,
// laid out as Windows lays it out (count, entries, then the sockaddr_in
// records inside the caller's buffer). Each case runs in a private network
// namespace, so the set of addresses is known exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "platform/WinSock.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/NetNamespace.h"
#include "tests/support/Privileges.h"

using namespace win;
using testsupport::ChildProcess;
using testsupport::NetNamespace;

namespace {

constexpr std::size_t kBufferSize = 1024;
constexpr unsigned char kFill = 0xAB;

// A buffer filled with a pattern, so bytes written past the reported size show.
struct alignas(16) OutBuffer {
    unsigned char bytes[kBufferSize];
    OutBuffer() { std::memset(bytes, kFill, sizeof bytes); }
    bool UntouchedFrom(std::size_t offset) const {
        return std::all_of(bytes + offset, bytes + kBufferSize, [](unsigned char b) { return b == kFill; });
    }
};

// Started Winsock and an open (unbound) capture socket for the query.
class QuerySocket {
public:
    QuerySocket() {
        WSADATA data;
        if (WSAStartup(0x0202, &data) != 0) ChildProcess::FailChild("WSAStartup failed");
        m_socket = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
        if (m_socket == INVALID_SOCKET) ChildProcess::FailChild("socket failed: " + std::to_string(WSAGetLastError()));
    }
    ~QuerySocket() {
        closesocket(m_socket);
        WSACleanup();
    }
    int Query(void* buffer, DWORD length, DWORD* returned) {
        WSASetLastError(0);
        return WSAIoctl(m_socket, SIO_ADDRESS_LIST_QUERY, nullptr, 0, buffer, length, returned, nullptr, nullptr);
    }

private:
    SOCKET m_socket = INVALID_SOCKET;
};

std::size_t NeededFor(int count) {
    return offsetof(SOCKET_ADDRESS_LIST, Address) + count * (sizeof(SOCKET_ADDRESS) + sizeof(sockaddr_in));
}

// Queries into a fresh buffer and checks the layout; returns the addresses as text.
std::vector<std::string> QueryAndCheckLayout(QuerySocket& query) {
    OutBuffer out;
    DWORD returned = 0;
    EXPECT_EQ(query.Query(out.bytes, kBufferSize, &returned), 0) << WSAGetLastError();
    const auto* list = reinterpret_cast<const SOCKET_ADDRESS_LIST*>(out.bytes);
    const int count = list->iAddressCount;
    EXPECT_GE(count, 0);
    if (count < 0 || NeededFor(count) > kBufferSize) return {};
    EXPECT_EQ(returned, NeededFor(count));
    EXPECT_TRUE(out.UntouchedFrom(returned)) << "bytes written past the reported size";

    const auto* arrayEnd = reinterpret_cast<const unsigned char*>(list->Address + count);
    const unsigned char* bufferEnd = out.bytes + returned;
    std::vector<std::string> texts;
    std::vector<const unsigned char*> records;
    for (int i = 0; i < count; ++i) {
        SCOPED_TRACE(::testing::Message() << "entry " << i);
        const SOCKET_ADDRESS& entry = list->Address[i];
        const auto* record = reinterpret_cast<const unsigned char*>(entry.lpSockaddr);
        EXPECT_EQ(entry.iSockaddrLength, static_cast<int>(sizeof(sockaddr_in)));
        // The record lies in the caller's buffer, after the array of entries.
        EXPECT_GE(record, arrayEnd);
        EXPECT_LE(record + sizeof(sockaddr_in), bufferEnd);
        if (record < arrayEnd || record + sizeof(sockaddr_in) > bufferEnd) continue;
        EXPECT_EQ(std::count(records.begin(), records.end(), record), 0) << "two entries share a record";
        records.push_back(record);
        const auto* address = reinterpret_cast<const sockaddr_in*>(record);
        EXPECT_EQ(address->sin_family, AF_INET);
        EXPECT_EQ(address->sin_port, 0);
        texts.push_back(inet_ntoa(address->sin_addr));
    }
    std::sort(texts.begin(), texts.end());
    return texts;
}

class AddressListTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_CAPTURE_ALLOWED();
        SKIP_UNLESS_ISOLATION_ALLOWED();
    }
};

TEST_F(AddressListTest, LoopbackOnlyNamespaceListsOneAddress) {
    EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([] {
        QuerySocket query;
        EXPECT_EQ(QueryAndCheckLayout(query), std::vector<std::string>{"127.0.0.1"});
    }));
}

TEST_F(AddressListTest, VethNamespaceListsLoopbackAndTheVethAddress) {
    EXPECT_CHILD_PASSED(NetNamespace::RunWithVeth([](const NetNamespace::Veth& veth) {
        QuerySocket query;
        std::vector<std::string> expected = {"127.0.0.1", veth.localAddress};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(QueryAndCheckLayout(query), expected);

        // A second address on the same interface is a second entry.
        ASSERT_TRUE(NetNamespace::RunIp({"addr", "add", "10.77.0.9/24", "dev", veth.localName}));
        expected.push_back("10.77.0.9");
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(QueryAndCheckLayout(query), expected);

        // An interface that is down no longer counts.
        ASSERT_TRUE(NetNamespace::RunIp({"link", "set", veth.localName, "down"}));
        EXPECT_EQ(QueryAndCheckLayout(query), std::vector<std::string>{"127.0.0.1"});
    }));
}

TEST_F(AddressListTest, NoUsableAddressGivesAnEmptyList) {
    struct Case {
        const char* name;
        std::vector<std::string> ipArguments;
    } cases[] = {
        {"lo down", {"link", "set", "lo", "down"}},
        {"lo up without an IPv4 address", {"addr", "flush", "dev", "lo"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([&c] {
            QuerySocket query;
            ASSERT_TRUE(NetNamespace::RunIp(c.ipArguments));
            EXPECT_EQ(QueryAndCheckLayout(query), std::vector<std::string>{});
            OutBuffer out;
            DWORD returned = 0;
            ASSERT_EQ(query.Query(out.bytes, sizeof(SOCKET_ADDRESS_LIST), &returned), 0) << WSAGetLastError();
            EXPECT_EQ(reinterpret_cast<const SOCKET_ADDRESS_LIST*>(out.bytes)->iAddressCount, 0);
            EXPECT_EQ(returned, NeededFor(0));
        }));
    }
}

TEST_F(AddressListTest, TooSmallBufferFailsWithFaultAndTheNeededSize) {
    EXPECT_CHILD_PASSED(NetNamespace::RunWithVeth([](const NetNamespace::Veth&) {
        QuerySocket query;
        const std::size_t needed = NeededFor(2);  // 127.0.0.1 and the veth address

        struct Case {
            const char* name;
            bool nullBuffer;
            std::size_t length;
        } cases[] = {
            {"null buffer", true, 0},
            {"null buffer with a length", true, kBufferSize},
            {"zero length", false, 0},
            {"the count only", false, sizeof(int)},
            {"the list header", false, sizeof(SOCKET_ADDRESS_LIST)},
            {"the entries without the records", false, NeededFor(0) + 2 * sizeof(SOCKET_ADDRESS)},
            {"one byte short", false, needed - 1},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            OutBuffer out;
            DWORD returned = 0;
            EXPECT_EQ(query.Query(c.nullBuffer ? nullptr : out.bytes, static_cast<DWORD>(c.length), &returned),
                      SOCKET_ERROR);
            EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
            EXPECT_EQ(returned, needed);
            EXPECT_TRUE(out.UntouchedFrom(c.length)) << "wrote past the given length";
        }

        // Exactly the needed size is enough.
        OutBuffer out;
        DWORD returned = 0;
        ASSERT_EQ(query.Query(out.bytes, static_cast<DWORD>(needed), &returned), 0) << WSAGetLastError();
        EXPECT_EQ(returned, needed);
        EXPECT_EQ(reinterpret_cast<const SOCKET_ADDRESS_LIST*>(out.bytes)->iAddressCount, 2);
        EXPECT_TRUE(out.UntouchedFrom(needed));
    }));
}

TEST_F(AddressListTest, QueryNeedsAnOpenSocket) {
    EXPECT_CHILD_PASSED(ChildProcess::Run([] {
        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0202, &data), 0);
        SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
        ASSERT_NE(s, INVALID_SOCKET);
        ASSERT_EQ(closesocket(s), 0);
        OutBuffer out;
        DWORD returned = 0;
        WSASetLastError(0);
        EXPECT_EQ(WSAIoctl(s, SIO_ADDRESS_LIST_QUERY, nullptr, 0, out.bytes, kBufferSize, &returned, nullptr, nullptr),
                  SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
        EXPECT_TRUE(out.UntouchedFrom(0));
        WSACleanup();
    }));
}

}  // namespace
