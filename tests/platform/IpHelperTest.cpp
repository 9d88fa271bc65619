// The IPv4 address table and interface names, in private network namespaces:
// every address of an interface that is up with its interface's index, the
// name of that interface from the index, the sizing protocol of the table,
// and no name for an index no interface has.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/WinIpHelper.h"
#include "platform/WinSock.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/NetNamespace.h"
#include "tests/support/Privileges.h"

using namespace win;
using testsupport::NetNamespace;

namespace {

struct Row {
    std::string address;
    std::string name;
    bool operator<(const Row& other) const { return address < other.address; }
    bool operator==(const Row&) const = default;
};

/// The table with each address's interface name, sized the documented way.
std::vector<Row> Rows() {
    ULONG size = 0;
    EXPECT_EQ(GetIpAddrTable(nullptr, &size, FALSE), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_GE(size, sizeof(MIB_IPADDRTABLE));
    std::vector<char> buffer(size);
    ULONG tooSmall = size - 1;
    EXPECT_EQ(GetIpAddrTable(reinterpret_cast<PMIB_IPADDRTABLE>(buffer.data()), &tooSmall, FALSE),
              ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(tooSmall, size);
    EXPECT_EQ(GetIpAddrTable(reinterpret_cast<PMIB_IPADDRTABLE>(buffer.data()), &size, TRUE), NO_ERROR);
    const auto* table = reinterpret_cast<const MIB_IPADDRTABLE*>(buffer.data());
    const MIB_IPADDRROW* rows = table->table;
    std::vector<Row> result;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        in_addr address{rows[i].dwAddr};
        char name[IF_MAX_STRING_SIZE + 1] = {};
        const char* found = if_indextoname(rows[i].dwIndex, name);
        EXPECT_EQ(found, name);
        result.push_back({inet_ntoa(address), found ? name : "?"});
    }
    return result;
}

class IpHelperTest : public ::testing::Test {
protected:
    void SetUp() override { SKIP_UNLESS_ISOLATION_ALLOWED(); }
};

TEST_F(IpHelperTest, LoopbackOnlyNamespaceHasLoWithItsAddress) {
    EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([] {
        EXPECT_EQ(Rows(), (std::vector<Row>{{"127.0.0.1", "lo"}}));
    }));
}

TEST_F(IpHelperTest, EveryAddressOfAnInterfaceThatIsUpWithItsName) {
    EXPECT_CHILD_PASSED(NetNamespace::RunWithVeth([](const NetNamespace::Veth& veth) {
        ASSERT_TRUE(NetNamespace::RunIp({"addr", "add", "10.77.0.9/24", "dev", veth.localName}));
        std::vector<Row> expected = {
            {"127.0.0.1", "lo"}, {veth.localAddress, veth.localName}, {"10.77.0.9", veth.localName}};
        std::sort(expected.begin(), expected.end(), [](const Row& a, const Row& b) {
            return ntohl(inet_addr(a.address.c_str())) < ntohl(inet_addr(b.address.c_str()));
        });
        // Ordered by address, as asked.
        EXPECT_EQ(Rows(), expected);

        ASSERT_TRUE(NetNamespace::RunIp({"link", "set", veth.localName, "down"}));
        EXPECT_EQ(Rows(), (std::vector<Row>{{"127.0.0.1", "lo"}}));
    }));
}

TEST(IpHelper, NoNameForAnIndexNoInterfaceHas) {
    char name[IF_MAX_STRING_SIZE + 1] = "unchanged";
    EXPECT_EQ(if_indextoname(0, name), nullptr);
    EXPECT_EQ(if_indextoname(0x7FFFFFF0, name), nullptr);
    ULONG size = 0;
    EXPECT_EQ(GetIpAddrTable(nullptr, nullptr, FALSE), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(GetIpAddrTable(nullptr, &size, FALSE), ERROR_INSUFFICIENT_BUFFER);
}

}  // namespace
