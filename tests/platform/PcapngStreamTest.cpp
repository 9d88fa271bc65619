// The reader of the capture helper's pcapng stream: datagrams with their
// times in either resolution, drop counts from statistics blocks, blocks of
// other kinds skipped, the same result however the bytes are split; and every
// malformed stream (bad lengths, a block overrunning what it declares, an
// option past its block, a packet before its interface, another byte order,
// another link type) refused for good without reading past what was fed.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/linux/PcapngStream.h"

namespace {
using win::detail::PcapngStream;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kRoom = 1u << 16;

void Put32(Bytes& out, std::uint32_t value) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + 4);
}

// A block: type, total length, body (padded to 4), total length again.
Bytes Block(std::uint32_t type, const Bytes& body) {
    Bytes out;
    const std::uint32_t padded = static_cast<std::uint32_t>((body.size() + 3) & ~std::size_t{3});
    Put32(out, type);
    Put32(out, 12 + padded);
    out.insert(out.end(), body.begin(), body.end());
    out.resize(8 + padded, 0);
    Put32(out, 12 + padded);
    return out;
}

Bytes Option(std::uint16_t code, const Bytes& value) {
    Bytes out;
    Put32(out, code | static_cast<std::uint32_t>(value.size()) << 16);
    out.insert(out.end(), value.begin(), value.end());
    out.resize(4 + ((value.size() + 3) & ~std::size_t{3}), 0);
    return out;
}

Bytes U64(std::uint64_t value) {
    Bytes out(8);
    std::memcpy(out.data(), &value, 8);
    return out;
}

Bytes Section() {
    Bytes body;
    for (std::uint32_t word : {0x1A2B3C4Du, 1u, 0xFFFFFFFFu, 0xFFFFFFFFu}) Put32(body, word);
    return Block(0x0A0D0D0A, body);
}

Bytes Interface(std::uint16_t linkType = 228, int resolution = -1) {
    Bytes body;
    Put32(body, linkType);
    Put32(body, 65535);
    if (resolution >= 0) {
        Bytes option = Option(9, {static_cast<std::uint8_t>(resolution)});
        body.insert(body.end(), option.begin(), option.end());
        Put32(body, 0);
    }
    return Block(1, body);
}

Bytes Packet(std::uint64_t time, const Bytes& data, std::uint32_t interface = 0) {
    Bytes body;
    Put32(body, interface);
    Put32(body, static_cast<std::uint32_t>(time >> 32));
    Put32(body, static_cast<std::uint32_t>(time));
    Put32(body, static_cast<std::uint32_t>(data.size()));
    Put32(body, static_cast<std::uint32_t>(data.size()));
    body.insert(body.end(), data.begin(), data.end());
    return Block(6, body);
}

Bytes Statistics(std::uint64_t received, std::uint64_t dropped) {
    Bytes body;
    for (std::uint32_t word : {0u, 0u, 0u}) Put32(body, word);
    for (const Bytes& option : {Option(4, U64(received)), Option(5, U64(dropped))})
        body.insert(body.end(), option.begin(), option.end());
    Put32(body, 0);
    return Block(5, body);
}

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

struct Read {
    std::vector<Bytes> datagrams;
    std::vector<std::uint64_t> times;
    bool broken = false;
    std::uint64_t dropped = 0, received = 0;
};

// Feeds the stream in pieces of at most `piece` bytes, reading after each.
Read Feed(const Bytes& stream, std::size_t piece) {
    PcapngStream reader(kRoom);
    Read result;
    std::size_t at = 0;
    for (;;) {
        PcapngStream::Datagram datagram;
        while (reader.Next(&datagram)) {
            result.datagrams.emplace_back(datagram.bytes, datagram.bytes + datagram.length);
            result.times.push_back(datagram.timeNs);
        }
        if (reader.IsBroken() || at == stream.size()) break;
        EXPECT_GE(reader.WriteSpace(), kRoom) << "the promised room after Next() found nothing";
        std::size_t count = std::min({piece, stream.size() - at, reader.WriteSpace()});
        std::memcpy(reader.WritePointer(), stream.data() + at, count);
        reader.Commit(count);
        at += count;
    }
    result.broken = reader.IsBroken();
    result.dropped = reader.GetDropped();
    result.received = reader.GetKernelReceived();
    return result;
}

TEST(PcapngStream, ReadsDatagramsTimesAndDropsHoweverTheBytesAreSplit) {
    const Bytes a{0x45, 1, 2}, b(1500, 0x45), c{0x45, 9, 9, 9, 9};
    const Bytes stream = Join({Section(), Interface(228, 9), Packet(1'700'000'000'123'456'789ull, a),
                               Block(0x0BAD, {1, 2, 3, 4}), Statistics(10, 2), Packet(1'700'000'001'000'000'000ull, b),
                               Statistics(12, 5), Packet(1'700'000'002'000'000'001ull, c)});
    for (std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{7}, std::size_t{64}, stream.size()}) {
        Read read = Feed(stream, piece);
        EXPECT_FALSE(read.broken) << piece;
        ASSERT_EQ(read.datagrams.size(), 3u) << piece;
        EXPECT_EQ(read.datagrams[0], a);
        EXPECT_EQ(read.datagrams[1], b);
        EXPECT_EQ(read.datagrams[2], c);
        EXPECT_EQ(read.times[0], 1'700'000'000'123'456'789ull);
        EXPECT_EQ(read.times[2], 1'700'000'002'000'000'001ull);
        EXPECT_EQ(read.dropped, 5u);
        EXPECT_EQ(read.received, 12u);
    }
}

TEST(PcapngStream, TimesWithoutAResolutionAreMicroseconds) {
    Read read = Feed(Join({Section(), Interface(101), Packet(1'500'000'000'250'000ull, {0x45})}), 1 << 16);
    ASSERT_EQ(read.times.size(), 1u);
    EXPECT_EQ(read.times[0], 1'500'000'000'250'000'000ull);
    read = Feed(Join({Section(), Interface(228, 3), Packet(7, {0x45})}), 1 << 16);
    ASSERT_EQ(read.times.size(), 1u);
    EXPECT_EQ(read.times[0], 7'000'000ull) << "milliseconds";
}

TEST(PcapngStream, RefusesMalformedStreamsForGood) {
    auto withWord = [](Bytes bytes, std::size_t offset, std::uint32_t value) {
        std::memcpy(bytes.data() + offset, &value, 4);
        return bytes;
    };
    const Bytes section = Section(), interface = Interface(228, 9), packet = Packet(1, {0x45, 0, 0, 20});
    const std::size_t packetAt = section.size() + interface.size();
    const Bytes good = Join({section, interface, packet});
    struct Case {
        const char* name;
        Bytes stream;
    } cases[] = {
        {"no section header first", Join({interface, packet})},
        {"another byte order", withWord(good, 8, 0x4D3C2B1A)},
        {"section version 2", withWord(good, 12, 2)},
        {"block length below 12", withWord(good, packetAt + 4, 8)},
        {"block length not a multiple of 4", withWord(good, packetAt + 4, 62)},
        {"block length of a gigabyte", withWord(good, packetAt + 4, 1u << 30)},
        {"block longer than the largest taken", withWord(good, packetAt + 4, PcapngStream::kMaxBlock + 4)},
        {"trailing length differs", withWord(good, good.size() - 4, 40)},
        {"captured length past the block", withWord(good, packetAt + 20, 5)},
        {"captured length of 4 GiB", withWord(good, packetAt + 20, 0xFFFFFFFF)},
        {"packet of an interface not described", withWord(good, packetAt + 8, 1)},
        {"packet before any interface", Join({section, packet})},
        {"link type with a link header", Join({section, Interface(1), packet})},
        {"binary time resolution", Join({section, Interface(228, 0x86), packet})},
        {"time resolution finer than nanoseconds", Join({section, Interface(228, 12), packet})},
        {"option running past its block", withWord(good, section.size() + 16, 9 | 200u << 16)},
        {"statistics with a short drop count", Join({section, interface,
                                                    Block(5, Join({Bytes(12, 0), Option(5, {1, 2, 3, 4})}))})},
        {"statistics of an unknown interface", Join({section, interface, withWord(Statistics(1, 1), 8, 3)})},
        {"garbage", Bytes(4096, 0x5A)},
    };
    for (const Case& c : cases) {
        for (std::size_t piece : {std::size_t{1}, std::size_t{1} << 16}) {
            Read read = Feed(c.stream, piece);
            EXPECT_TRUE(read.broken) << c.name << " in pieces of " << piece;
            EXPECT_TRUE(read.datagrams.empty()) << c.name;
        }
    }
    // And what was sound before the fault still came out.
    Bytes tail = withWord(Join({good, packet}), good.size() + 4, 13);
    Read read = Feed(tail, 1 << 16);
    EXPECT_TRUE(read.broken);
    EXPECT_EQ(read.datagrams.size(), 1u);
}

TEST(PcapngStream, ATruncatedStreamWaitsForTheRestOfItsBlock) {
    Bytes stream = Join({Section(), Interface(), Packet(1, Bytes(100, 0x45))});
    stream.resize(stream.size() - 1);
    Read read = Feed(stream, 1 << 16);
    EXPECT_FALSE(read.broken);
    EXPECT_TRUE(read.datagrams.empty());
}

TEST(PcapngStream, AnEmptyDatagramAndTheLargestOneBothPass) {
    const Bytes largest(65535, 0x45);
    Read read = Feed(Join({Section(), Interface(), Packet(1, {}), Packet(2, largest)}), 1 << 16);
    EXPECT_FALSE(read.broken);
    ASSERT_EQ(read.datagrams.size(), 2u);
    EXPECT_TRUE(read.datagrams[0].empty());
    EXPECT_EQ(read.datagrams[1], largest);
}

}  // namespace
