// Decoding and every text form of IPPacket against hand-built datagrams:
// the worked cases, malformed and short input, null buffers, capacity, Load
// and the capture time text.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "DatagramBuilder.h"
#include "packet/IPPacket.h"

using namespace testdata;

namespace {

constexpr std::uint32_t kLocal = 0x7F000001;    // 127.0.0.1
constexpr std::uint32_t kTen = 0x0A000001;      // 10.0.0.1
constexpr std::uint32_t kBroadcast = 0xFFFFFFFF;

struct DecodeCase {
    const char* name;
    Bytes bytes;
    const char* source;
    const char* dest;
    const char* protocol;
    const char* size;
    int sourcePort;
    int destPort;
    const char* info;
    int headerLength;
};

Bytes Udp(std::uint16_t sport, std::uint16_t dport)
{
    return {static_cast<std::uint8_t>(sport >> 8), static_cast<std::uint8_t>(sport), static_cast<std::uint8_t>(dport >> 8),
            static_cast<std::uint8_t>(dport), 0x00, 0x0C, 0xAB, 0xCD};
}

Bytes Tcp(std::uint8_t flags)
{
    return Concat(Datagram(5, 6, kLocal, kTen, 40, {}), TcpHeader(1234, 80, flags));
}

// IHL 15: a 60-byte header, the UDP ports at bytes 60-63.
Bytes LongHeader()
{
    return Concat(Datagram(15, 17, kLocal, kLocal, 68, {}), Udp(5353, 53));
}

// IHL 2 puts the transport offset at byte 8, inside the IPv4 header: the
// "ports" are the TTL/protocol word and the checksum word.
Bytes ShortHeaderNibble()
{
    Bytes b = Concat(Datagram(2, 17, kLocal, kLocal, 28, {}), Udp(1, 2));
    b[10] = 0x12;
    b[11] = 0x34;
    return b;
}

const DecodeCase kDecodeCases[] = {
    {"IcmpHasNoPortsAndNoInfo", Datagram(5, 1, kLocal, kTen, 28, {8, 0, 0xF7, 0xFF, 0, 1, 0, 1}), "127.0.0.1",
     "10.0.0.1", "ICMP", "28", 0, 0, "", 20},
    {"UdpPorts", Concat(Datagram(5, 17, kTen, kLocal, 28, {}), Udp(40000, 53)), "10.0.0.1", "127.0.0.1", "UDP", "28",
     40000, 53, "", 20},
    {"IgmpPortsAreTheFirstTwoWords", Datagram(5, 2, kTen, 0xE0000001, 28, {0x11, 0x64, 0xEE, 0x9B, 0, 0, 0, 0}),
     "10.0.0.1", "224.0.0.1", "IGMP", "28", 0x1164, 0xEE9B, "", 20},
    {"TcpSynAckFinInFixedOrder", Tcp(0x13), "127.0.0.1", "10.0.0.1", "TCP", "40", 1234, 80, "flags: SYN ACK FIN ", 20},
    {"TcpAllFlags", Tcp(0x3F), "127.0.0.1", "10.0.0.1", "TCP", "40", 1234, 80, "flags: SYN ACK RST FIN URG PSH ", 20},
    {"TcpUrgPshRst", Tcp(0x2C), "127.0.0.1", "10.0.0.1", "TCP", "40", 1234, 80, "flags: RST URG PSH ", 20},
    {"TcpNoFlags", Tcp(0x00), "127.0.0.1", "10.0.0.1", "TCP", "40", 1234, 80, "flags: ", 20},
    {"TcpCongestionBitsAreNotFlags", Tcp(0xC0), "127.0.0.1", "10.0.0.1", "TCP", "40", 1234, 80, "flags: ", 20},
    {"HeaderLength15ReadsPortsAt60", LongHeader(), "127.0.0.1", "127.0.0.1", "UDP", "68", 5353, 53, "", 60},
    {"HeaderNibbleUnder5ReadsInsideHeader", ShortHeaderNibble(), "127.0.0.1", "127.0.0.1", "UDP", "28", 0x4011,
     0x1234, "", 8},
    {"AllOnesAndZeroAddresses", Datagram(5, 1, kBroadcast, 0, 20, {}), "255.255.255.255", "0.0.0.0", "ICMP", "20", 0, 0,
     "", 20},
    {"UnnamedProtocol", Datagram(5, 201, kTen, kTen, 24, {0xAA, 0xBB, 0xCC, 0xDD}), "10.0.0.1", "10.0.0.1",
     "Unknown (201)", "24", 0, 0, "", 20},
    {"ProtocolZero", Datagram(5, 0, kTen, kTen, 20, {}), "10.0.0.1", "10.0.0.1", "Reserved", "20", 0, 0, "", 20},
    {"MaximumTotalLength", Datagram(5, 17, kTen, kTen, 65535, {}), "10.0.0.1", "10.0.0.1", "UDP", "65535", 0, 0, "", 20},
    // Bad input: bytes past what was received read as zero.
    {"ZeroLengthReceive", Bytes{}, "0.0.0.0", "0.0.0.0", "Reserved", "0", 0, 0, "", 0},
    {"TruncatedInsideAddresses", Bytes{0x45, 0, 0, 40, 0, 0, 0, 0, 64, 6, 0, 0, 192, 168, 1}, "192.168.1.0", "0.0.0.0",
     "TCP", "40", 0, 0, "flags: ", 20},
    {"TruncatedInsideTcpPorts", Concat(Datagram(5, 6, kLocal, kLocal, 40, {}), {0x04, 0xD2, 0x00}), "127.0.0.1",
     "127.0.0.1", "TCP", "40", 1234, 0, "flags: ", 20},
    {"TotalLengthBeyondReceived", Concat(Datagram(5, 17, kLocal, kLocal, 1500, {}), Udp(7, 9)), "127.0.0.1",
     "127.0.0.1", "UDP", "1500", 7, 9, "", 20},
    {"HeaderLength15WithNothingAfter20", Datagram(15, 6, kLocal, kLocal, 80, {}), "127.0.0.1", "127.0.0.1", "TCP", "80",
     0, 0, "flags: ", 60},
};

class DecodeTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeTest, TextsAndValues)
{
    const DecodeCase& c = GetParam();
    IPPacket packet;
    Receive(packet, c.bytes);

    char text[64];
    std::memset(text, 'x', sizeof text);
    packet.GetSourceAddress(text);
    EXPECT_STREQ(text, c.source);
    packet.GetDestAddress(text);
    EXPECT_STREQ(text, c.dest);
    packet.GetProtocol(text);
    EXPECT_STREQ(text, c.protocol);
    packet.GetSize(text);
    EXPECT_STREQ(text, c.size);
    EXPECT_EQ(packet.GetSourcePort(), c.sourcePort);
    EXPECT_EQ(packet.GetDestPort(), c.destPort);
    std::memset(text, 'x', sizeof text);
    packet.GetInfo(text);
    EXPECT_STREQ(text, c.info);
    EXPECT_EQ(packet.Decode(), c.headerLength) << "a second decode gives the same result";
    EXPECT_EQ(packet.GetReceived(), static_cast<int>(c.bytes.size()));
}

INSTANTIATE_TEST_SUITE_P(Datagrams, DecodeTest, ::testing::ValuesIn(kDecodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(IPPacketTest, IgmpTypeAndVersion)
{
    struct {
        std::uint8_t first;
        int type;
        int version;
    } const cases[] = {{0x11, 1, 1}, {0x12, 2, 1}, {0x16, 6, 2}, {0x17, 7, 2}, {0x22, 2, 1}};
    for (const auto& c : cases) {
        IPPacket packet;
        Receive(packet, Datagram(5, 2, kTen, kTen, 28, {c.first, 0x64, 0xEE, 0x9B, 224, 0, 0, 251}));
        EXPECT_EQ(packet.GetIgmpType(), c.type) << int(c.first);
        EXPECT_EQ(packet.GetIgmpVersion(), c.version) << int(c.first);
        EXPECT_EQ(packet.GetIgmpSecondByte(), 0x64);
        EXPECT_EQ(packet.GetIgmpChecksum(), 0xEE9B);
        const std::uint8_t group[4] = {224, 0, 0, 251};
        std::uint32_t expected;
        std::memcpy(&expected, group, 4);
        EXPECT_EQ(packet.GetIgmpGroup(), expected) << "group address stays in wire order";
    }
}

TEST(IPPacketTest, HeaderAndTransportFields)
{
    Bytes b = Concat(Datagram(5, 6, kLocal, kTen, 52, {}), TcpHeader(443, 50000, 0x18));
    b[1] = 0x10;                       // type of service
    b[4] = 0xBE, b[5] = 0xEF;          // identification
    b[6] = 0x5F, b[7] = 0xFF;          // don't-fragment + reserved bits, offset 0x1FFF
    b[10] = 0xAB, b[11] = 0xCD;        // checksum
    b[24] = 1, b[25] = 2, b[26] = 3, b[27] = 4;   // sequence
    b[28] = 5, b[29] = 6, b[30] = 7, b[31] = 8;   // acknowledgement
    b[32] = 0x80;                      // data offset 8
    b[34] = 0xFF, b[35] = 0xFE;        // window
    b[36] = 0x11, b[37] = 0x22;        // checksum
    b[38] = 0x00, b[39] = 0x07;        // urgent pointer
    IPPacket packet;
    Receive(packet, b);
    EXPECT_EQ(packet.GetVersion(), 4);
    EXPECT_EQ(packet.GetHeaderLength(), 20);
    EXPECT_EQ(packet.GetTypeOfService(), 0x10);
    EXPECT_EQ(packet.GetIdentification(), 0xBEEF);
    EXPECT_EQ(packet.GetFlags(), 2);
    EXPECT_EQ(packet.GetFragmentOffset(), 0x1FFF);
    EXPECT_EQ(packet.GetTimeToLive(), 64);
    EXPECT_EQ(packet.GetChecksum(), 0xABCD);
    EXPECT_EQ(packet.GetTcpSequence(), 0x01020304u);
    EXPECT_EQ(packet.GetTcpAcknowledgement(), 0x05060708u);
    EXPECT_EQ(packet.GetTcpDataOffset(), 8);
    EXPECT_EQ(packet.GetTcpFlags(), 0x18);
    EXPECT_EQ(packet.GetTcpWindow(), 0xFFFE);
    EXPECT_EQ(packet.GetTcpChecksum(), 0x1122);
    EXPECT_EQ(packet.GetTcpUrgentPointer(), 7);
    EXPECT_EQ(packet.GetUdpSourcePort(), 0) << "only the protocol's own group is filled";
    EXPECT_EQ(packet.GetSourceAddress(nullptr), kLocal);
    EXPECT_EQ(packet.GetDestAddress(nullptr), kTen);
}

TEST(IPPacketTest, NullBuffersGiveValuesOnly)
{
    IPPacket packet;
    Receive(packet, Concat(Datagram(5, 6, kBroadcast, kTen, 1500, {}), TcpHeader(1, 2, 0x02)));
    EXPECT_EQ(packet.GetSourceAddress(nullptr), kBroadcast);
    EXPECT_EQ(packet.GetDestAddress(nullptr), kTen);
    EXPECT_EQ(packet.GetProtocol(nullptr), 6);
    EXPECT_EQ(packet.GetSize(nullptr), 1500);
    packet.GetInfo(nullptr);
}

TEST(IPPacketTest, BytesOfAnEarlierRecordNeverShow)
{
    // The first record fills the receive buffer with 0xAB; the second receives
    // a datagram that ends inside its TCP ports. The missing bytes must read
    // as zero, not as what the buffer still holds.
    {
        IPPacket earlier;
        std::memset(earlier.GetData(), 0xAB, 200);
        earlier.SetReceived(200);
    }
    IPPacket packet;
    Receive(packet, Concat(Datagram(5, 6, kLocal, kLocal, 40, {}), {0x12}));
    EXPECT_EQ(packet.GetSourcePort(), 0x1200);
    EXPECT_EQ(packet.GetDestPort(), 0);
    EXPECT_EQ(packet.GetTcpFlags(), 0);
    EXPECT_EQ(packet.GetReceived(), 21);
}

TEST(IPPacketTest, DecodeBeforeReceiveReadsZero)
{
    IPPacket packet;
    std::memset(packet.GetData(), 0x45, 100);
    EXPECT_EQ(packet.Decode(), 0) << "nothing counts as received yet";
    EXPECT_EQ(packet.GetSize(nullptr), 0);
}

TEST(IPPacketTest, CapacityAndFullSizeReceive)
{
    IPPacket packet;
    EXPECT_EQ(packet.GetCapacity(), 65535);
    Bytes full(65535);
    for (std::size_t i = 0; i < full.size(); ++i) {
        full[i] = static_cast<std::uint8_t>(i * 7);
    }
    full[0] = 0x45;
    std::memcpy(packet.GetData(), full.data(), full.size());
    packet.SetReceived(65535);
    EXPECT_EQ(packet.GetReceived(), 65535);
    EXPECT_EQ(0, std::memcmp(packet.GetData(), full.data(), full.size()));
}

TEST(IPPacketTest, ReceivedCountIsClamped)
{
    IPPacket negative;
    negative.SetReceived(-1);
    EXPECT_EQ(negative.GetReceived(), 0);
    IPPacket huge;
    huge.SetReceived(70000);
    EXPECT_EQ(huge.GetReceived(), 65535);
}

TEST(IPPacketTest, LoadCopiesCapacityBytesAndDecodes)
{
    Bytes source = Concat(Datagram(6, 17, kTen, kLocal, 32, {}), Udp(100, 200));
    source.resize(65535, 0x5A);
    IPPacket packet;
    EXPECT_EQ(packet.Load(source.data()), 24);
    EXPECT_EQ(packet.GetReceived(), 65535);
    EXPECT_EQ(packet.GetSourcePort(), 100);
    EXPECT_EQ(packet.GetDestPort(), 200);
    EXPECT_EQ(0, std::memcmp(packet.GetData(), source.data(), source.size()));
    // A second Load replaces the bytes.
    source[9] = 1;
    packet.Load(source.data());
    EXPECT_EQ(packet.GetProtocol(nullptr), 1);
    EXPECT_EQ(packet.GetSourcePort(), 0);
}

TEST(IPPacketTest, TimestampFormat)
{
    struct {
        win::WORD h, m, s, ms;
        const char* text;
    } const cases[] = {
        {9, 3, 4, 5, "09:03:04:005"},
        {0, 0, 0, 7, "00:00:00:007"},
        {23, 59, 59, 999, "23:59:59:999"},
        {12, 0, 30, 120, "12:00:30:120"},
        {99, 99, 99, 10, "99:99:99:010"},
        // Beyond a time of day the format still decides: wider fields.
        {100, 7, 60, 1000, "100:07:60:1000"},
        {65535, 0, 0, 0, "65535:00:00:000"},
    };
    for (const auto& c : cases) {
        win::SYSTEMTIME time{};
        time.wHour = c.h;
        time.wMinute = c.m;
        time.wSecond = c.s;
        time.wMilliseconds = c.ms;
        char text[IPPacket::kTimestampSize];
        IPPacket::FormatTimestamp(time, text);
        EXPECT_STREQ(text, c.text);
    }
}

TEST(IPPacketTest, ConstructorStampsLocalTime)
{
    win::SYSTEMTIME before;
    win::GetLocalTime(&before);
    IPPacket packet;
    const std::string stamp = packet.GetTimestamp();
    ASSERT_EQ(stamp.size(), 12u) << stamp;
    for (std::size_t i : {2u, 5u, 8u}) {
        EXPECT_EQ(stamp[i], ':') << stamp;
    }
    const int hour = std::stoi(stamp.substr(0, 2));
    const int minute = std::stoi(stamp.substr(3, 2));
    // Within the same or the next minute of the time read just before.
    const int elapsed = ((hour * 60 + minute) - (before.wHour * 60 + before.wMinute) + 1440) % 1440;
    EXPECT_LE(elapsed, 1) << stamp;
    EXPECT_EQ(packet.GetTimestamp(), packet.GetTimestamp()) << "the record's own text";
}

TEST(IPPacketTest, DeletedThroughTheInterface)
{
    std::unique_ptr<Packet> packet(new IPPacket);
    std::memcpy(packet->GetData(), Tcp(0x02).data(), 40);
    packet->SetReceived(40);
    packet->Decode();
    char info[32];
    packet->GetInfo(info);
    EXPECT_STREQ(info, "flags: SYN ");
}

// The decoding cases are the seed corpus of the packet fuzz target
// (scripts/fuzz.sh): one file per case in the folder QV_FUZZ_CORPUS names (a
// fresh temporary folder without it). Each file must read back as bytes that
// decode to the case's texts.
TEST(IPPacketTest, DecodeCasesWriteTheFuzzSeedCorpus)
{
    namespace fs = std::filesystem;
    const char* named = std::getenv("QV_FUZZ_CORPUS");
    char fresh[] = "/tmp/qv-packet-seeds-XXXXXX";
    const char* made = named != nullptr ? named : mkdtemp(fresh);
    ASSERT_NE(made, nullptr);
    const fs::path folder(made);
    fs::create_directories(folder);
    for (const DecodeCase& c : kDecodeCases) {
        SCOPED_TRACE(c.name);
        const fs::path file = folder / c.name;
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(c.bytes.data()), static_cast<std::streamsize>(c.bytes.size()));
            ASSERT_TRUE(out.good());
        }
        std::ifstream in(file, std::ios::binary);
        const Bytes read{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        ASSERT_EQ(read, c.bytes);
        IPPacket packet;
        Receive(packet, read);
        char text[64];
        packet.GetSourceAddress(text);
        EXPECT_STREQ(text, c.source);
        packet.GetProtocol(text);
        EXPECT_STREQ(text, c.protocol);
    }
    if (named == nullptr) {
        fs::remove_all(folder);
    }
}

}  // namespace
