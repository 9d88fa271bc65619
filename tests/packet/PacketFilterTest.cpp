// The display and capture filter's compiler and matcher: tcpdump expressions
// against raw IPv4 datagrams (no link-layer header), each case one datagram
// and whether it passes; invalid expressions leave the filter as it was.
#include "packet/PacketFilter.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/packet/DatagramBuilder.h"

namespace {

using testdata::Bytes;

constexpr std::uint32_t kHostA = 0x0A000001;   // 10.0.0.1
constexpr std::uint32_t kHostB = 0xC0A80102;   // 192.168.1.2

Bytes Tcp(std::uint32_t source, std::uint32_t dest, std::uint16_t sport, std::uint16_t dport, std::uint8_t flags) {
    Bytes b = testdata::Datagram(5, 6, source, dest, 40, {});
    return testdata::Concat(b, testdata::TcpHeader(sport, dport, flags));
}

Bytes Udp(std::uint32_t source, std::uint32_t dest, std::uint16_t sport, std::uint16_t dport) {
    return testdata::Datagram(5, 17, source, dest, 28,
                              {static_cast<std::uint8_t>(sport >> 8), static_cast<std::uint8_t>(sport),
                               static_cast<std::uint8_t>(dport >> 8), static_cast<std::uint8_t>(dport), 0, 8, 0, 0});
}

bool Passes(const PacketFilter& filter, const Bytes& bytes, int originalLength = -1) {
    return filter.Match(bytes.data(), static_cast<int>(bytes.size()),
                        originalLength < 0 ? static_cast<int>(bytes.size()) : originalLength);
}

PacketFilter Compiled(const std::string& expression) {
    PacketFilter filter;
    std::string error;
    EXPECT_TRUE(filter.Compile(expression, error)) << expression << ": " << error;
    return filter;
}

struct Case {
    const char* expression;
    Bytes datagram;
    bool passes;
};

TEST(PacketFilter, ExpressionsAgainstRawIpv4Datagrams) {
    const Bytes http = Tcp(kHostA, kHostB, 40000, 80, 0x18);
    const Bytes syn = Tcp(kHostB, kHostA, 22, 50000, 0x02);
    const Bytes dns = Udp(kHostA, kHostB, 5353, 53);
    const Bytes igmp = testdata::Datagram(5, 2, kHostA, 0xE0000001, 28, {0x11, 0, 0, 0, 0, 0, 0, 0});
    const Case cases[] = {
        {"tcp", http, true},
        {"tcp", dns, false},
        {"udp", dns, true},
        {"igmp", igmp, true},
        {"igmp", http, false},
        {"tcp port 80", http, true},
        {"tcp port 80", syn, false},
        {"udp port 53", dns, true},
        {"port 53 and tcp", dns, false},
        {"host 10.0.0.1", syn, true},
        {"src host 10.0.0.1", syn, false},
        {"dst net 192.168.0.0/16", http, true},
        {"tcp[tcpflags] & tcp-syn != 0", syn, true},
        {"tcp[tcpflags] & tcp-syn != 0", http, false},
        {"not udp", http, true},
        {"ip multicast", igmp, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Passes(Compiled(c.expression), c.datagram), c.passes) << c.expression;
    }
}

TEST(PacketFilter, EmptyFilterPassesEverythingAndBlanksEmptyIt) {
    PacketFilter filter;
    EXPECT_TRUE(filter.IsEmpty());
    EXPECT_TRUE(Passes(filter, Udp(kHostA, kHostB, 1, 2)));
    std::string error;
    ASSERT_TRUE(filter.Compile("udp", error));
    EXPECT_FALSE(filter.IsEmpty());
    EXPECT_FALSE(filter.GetProgram().empty());
    ASSERT_TRUE(filter.Compile("  \t ", error));
    EXPECT_TRUE(filter.IsEmpty());
    EXPECT_TRUE(filter.GetExpression().empty());
    EXPECT_TRUE(Passes(filter, Tcp(kHostA, kHostB, 1, 2, 0x10)));
}

TEST(PacketFilter, InvalidExpressionGivesLibpcapsMessageAndKeepsTheFilter) {
    PacketFilter filter = Compiled("udp");
    std::string error;
    EXPECT_FALSE(filter.Compile("tcp port", error));
    EXPECT_NE(error.find("syntax error"), std::string::npos) << error;
    error.clear();
    EXPECT_FALSE(filter.Compile("ether host 01:02:03:04:05:06", error)) << "raw IPv4 has no link-layer header";
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(filter.GetExpression(), "udp");
    EXPECT_TRUE(Passes(filter, Udp(kHostA, kHostB, 1, 2)));
    EXPECT_FALSE(Passes(filter, Tcp(kHostA, kHostB, 1, 2, 0x10)));
}

TEST(PacketFilter, TruncatedDatagramsNeverMatchPastTheirBytes) {
    // A TCP datagram cut after its IPv4 header: the port is not there, so a
    // port test fails instead of reading past the bytes held.
    const Bytes whole = Tcp(kHostA, kHostB, 40000, 80, 0x18);
    const Bytes cut(whole.begin(), whole.begin() + 20);
    EXPECT_TRUE(Passes(Compiled("tcp port 80"), whole));
    EXPECT_FALSE(Passes(Compiled("tcp port 80"), cut, 40));
    EXPECT_TRUE(Passes(Compiled("tcp"), cut, 40)) << "the protocol field is in the bytes held";
    // The original length is what "greater" and "less" test.
    EXPECT_TRUE(Passes(Compiled("greater 1000"), cut, 1400));
    EXPECT_FALSE(Passes(Compiled("greater 1000"), cut, 40));
}

}  // namespace
