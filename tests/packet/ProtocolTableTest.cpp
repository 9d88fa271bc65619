// The protocol name table: chosen entries exactly, every number's name within
// the 29-character limit, the shared "unassigned" text and the unnamed numbers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "DatagramBuilder.h"
#include "packet/ProtocolTable.h"

namespace {

TEST(ProtocolTableTest, ChosenEntries)
{
    struct {
        unsigned number;
        const char* name;
    } const cases[] = {
        {0, "Reserved"}, {1, "ICMP"}, {2, "IGMP"}, {6, "TCP"}, {17, "UDP"}, {10, "BBN-RCC-MON"}, {34, "3PC"},
        {39, "TP++"}, {54, "NHRP"}, {55, "unassigned"}, {58, "unassigned"}, {60, "unassigned"},
        {61, "any host internal protocol"}, {63, "any local network"}, {68, "any distributed file system"},
        {89, "OSPFIGP"}, {90, "Sprite-RPC"}, {93, "AX.25"}, {98, "ENCAP"}, {99, "any private encryption scheme"},
        {100, "GMTP"}, {101, "Unknown (101)"}, {201, "Unknown (201)"}, {255, "Unknown (255)"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(ProtocolTable::GetName(c.number), c.name) << c.number;
    }
}

TEST(ProtocolTableTest, EveryNumberHasAShortNonEmptyName)
{
    for (unsigned n = 0; n < 256; ++n) {
        const char* name = ProtocolTable::GetName(n);
        ASSERT_NE(name, nullptr) << n;
        EXPECT_GT(std::strlen(name), 0u) << n;
        EXPECT_LE(std::strlen(name), static_cast<std::size_t>(ProtocolTable::kMaxName)) << n;
        if (n > 100) {
            EXPECT_EQ(std::string(name), "Unknown (" + std::to_string(n) + ")");
        }
    }
    EXPECT_EQ(std::strlen(ProtocolTable::GetName(99)), 29u) << "the longest name";
}

TEST(ProtocolTableTest, UnassignedEntriesShareOneText)
{
    for (unsigned n = 55; n <= 60; ++n) {
        EXPECT_EQ(ProtocolTable::GetName(n), ProtocolTable::GetName(55)) << n;
    }
    EXPECT_STRNE(ProtocolTable::GetName(54), "unassigned");
    EXPECT_STRNE(ProtocolTable::GetName(61), "unassigned");
}

TEST(ProtocolTableTest, NamedNumbersAreDistinctExceptUnassigned)
{
    for (unsigned a = 0; a <= 100; ++a) {
        for (unsigned b = a + 1; b <= 100; ++b) {
            if (a >= 55 && b <= 60) {
                continue;
            }
            EXPECT_STRNE(ProtocolTable::GetName(a), ProtocolTable::GetName(b)) << a << " " << b;
        }
    }
}

TEST(ProtocolTableTest, RecordCopiesTheNameOfEveryNumber)
{
    for (int n = 0; n < 256; ++n) {
        IPPacket packet;
        testdata::Receive(packet, testdata::Datagram(5, n, 1, 2, 20, {}));
        char text[ProtocolTable::kMaxName + 1];
        EXPECT_EQ(packet.GetProtocol(text), n);
        EXPECT_STREQ(text, ProtocolTable::GetName(static_cast<unsigned>(n)));
    }
}

}  // namespace
