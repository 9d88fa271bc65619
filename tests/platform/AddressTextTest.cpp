// Dotted address text and byte order: inet_addr over valid, classic short and
// malformed forms, inet_ntoa round trips and its per-thread buffer, and the
// htons/ntohs/htonl/ntohl conversions checked against the bytes in memory.
#include <gtest/gtest.h>

#include <barrier>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/WinSock.h"

using namespace win;

namespace {

// The four bytes of an address as they lie in memory (network order).
std::vector<int> BytesOf(win::u_long networkOrder) {
    unsigned char bytes[4];
    std::memcpy(bytes, &networkOrder, sizeof bytes);
    return {bytes[0], bytes[1], bytes[2], bytes[3]};
}

in_addr Address(int a, int b, int c, int d) {
    unsigned char bytes[4] = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                              static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
    in_addr address{};
    std::memcpy(&address.s_addr, bytes, sizeof bytes);
    return address;
}

TEST(AddressText, InetAddrReadsValidTextIntoNetworkOrder) {
    struct Case {
        const char* text;
        std::vector<int> bytes;
    } cases[] = {
        {"1.2.3.4", {1, 2, 3, 4}},
        {"127.0.0.1", {127, 0, 0, 1}},
        {"10.77.0.2", {10, 77, 0, 2}},
        {"192.168.255.1", {192, 168, 255, 1}},
        {"0.0.0.0", {0, 0, 0, 0}},
        {"255.255.255.255", {255, 255, 255, 255}},  // equal to INADDR_NONE, as on Windows
        {"1.2.3.255", {1, 2, 3, 255}},
        // The classic short forms: the last part fills the remaining bytes.
        {"127.1", {127, 0, 0, 1}},
        {"10.1.2", {10, 1, 0, 2}},
        {"1.2.65535", {1, 2, 255, 255}},
        {"1.16777215", {1, 255, 255, 255}},
        {"16909060", {1, 2, 3, 4}},
        // Octal and hexadecimal parts.
        {"0x7f.0.0.1", {127, 0, 0, 1}},
        {"0X7F.0.0.0X1", {127, 0, 0, 1}},
        {"010.0.0.1", {8, 0, 0, 1}},
        {"0xff.0377.0.0", {255, 255, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(BytesOf(inet_addr(c.text)), c.bytes);
    }
}

TEST(AddressText, InetAddrRejectsMalformedText) {
    const char* cases[] = {
        "",            "abc",          " ",           "1.2.3.256",     "256.0.0.1",    "1.256.3.4",
        "1.2.300.4",   "1.2.3.4.5",    "1.2.3.4x",    "x1.2.3.4",      "1..3.4",       ".1.2.3",
        "1.2.3.",      "1.2.3.-4",     "-1.2.3.4",    "1.2.65536",     "1.16777216",   "4294967296",
        "09.1.1.1",    "1.2.3.08",     "0xg.1.1.1",   "1,2,3,4",       "1.2.3.4/24",   "99999999999999999999",
    };
    for (const char* text : cases) {
        SCOPED_TRACE(std::string("\"") + text + "\"");
        EXPECT_EQ(inet_addr(text), INADDR_NONE);
    }
    EXPECT_EQ(inet_addr(nullptr), INADDR_NONE);
}

TEST(AddressText, InetNtoaWritesDottedDecimal) {
    struct Case {
        in_addr address;
        const char* text;
    } cases[] = {
        {Address(1, 2, 3, 4), "1.2.3.4"},
        {Address(0, 0, 0, 0), "0.0.0.0"},
        {Address(255, 255, 255, 255), "255.255.255.255"},
        {Address(10, 0, 100, 9), "10.0.100.9"},
        {Address(192, 168, 1, 254), "192.168.1.254"},
    };
    for (const Case& c : cases) EXPECT_STREQ(inet_ntoa(c.address), c.text);
}

TEST(AddressText, InetNtoaAndInetAddrRoundTrip) {
    const char* texts[] = {"0.0.0.0", "1.2.3.4", "127.0.0.1", "10.77.0.1", "172.16.31.200", "255.255.255.254",
                           "255.255.255.255"};
    for (const char* text : texts) {
        in_addr address{inet_addr(text)};
        EXPECT_STREQ(inet_ntoa(address), text);
    }
    // And from numbers: every value of each byte position survives.
    for (int value = 0; value < 256; ++value) {
        for (int position = 0; position < 4; ++position) {
            int bytes[4] = {1, 2, 3, 4};
            bytes[position] = value;
            in_addr address = Address(bytes[0], bytes[1], bytes[2], bytes[3]);
            ASSERT_EQ(inet_addr(inet_ntoa(address)), address.s_addr) << inet_ntoa(address);
        }
    }
}

TEST(AddressText, InetNtoaBufferIsPerThread) {
    // Each thread converts its own address, then waits until all have, then
    // checks that its text is still its own.
    constexpr int kThreads = 6;
    constexpr int kRounds = 200;
    std::barrier sync(kThreads);
    std::vector<int> mismatches(kThreads, 0);
    std::vector<const char*> buffers(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            const std::string expected = "10.0." + std::to_string(t) + "." + std::to_string(100 + t);
            for (int round = 0; round < kRounds; ++round) {
                char* text = inet_ntoa(Address(10, 0, t, 100 + t));
                buffers[t] = text;
                sync.arrive_and_wait();
                if (expected != text) ++mismatches[t];
                sync.arrive_and_wait();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < kThreads; ++t) {
        EXPECT_EQ(mismatches[t], 0) << "thread " << t;
        for (int u = t + 1; u < kThreads; ++u) EXPECT_NE(buffers[t], buffers[u]);
    }
}

TEST(AddressText, ByteOrderPutsTheMostSignificantByteFirstInMemory) {
    win::u_short shortNet = htons(0x1234);
    unsigned char shortBytes[2];
    std::memcpy(shortBytes, &shortNet, sizeof shortBytes);
    EXPECT_EQ(shortBytes[0], 0x12);
    EXPECT_EQ(shortBytes[1], 0x34);
    EXPECT_EQ(BytesOf(htonl(0x0A4D0002)), (std::vector<int>{10, 77, 0, 2}));

    const win::u_short shorts[] = {0, 1, 0x00FF, 0xFF00, 0x1234, 0x8000, 0xFFFF};
    for (win::u_short value : shorts) {
        EXPECT_EQ(ntohs(htons(value)), value);
        EXPECT_EQ(htons(ntohs(value)), value);
    }
    const win::u_long longs[] = {0, 1, 0xFF, 0xFF000000, 0x01020304, 0x80000000, 0xFFFFFFFF, 0x7F000001};
    for (win::u_long value : longs) {
        EXPECT_EQ(ntohl(htonl(value)), value);
        EXPECT_EQ(htonl(ntohl(value)), value);
    }
    EXPECT_EQ(ntohl(inet_addr("127.0.0.1")), 0x7F000001u);
    EXPECT_EQ(ntohs(htons(7)), 7);
}

}  // namespace
