// The dump text to the character: the worked example, short and partial lines,
// the character column, and the line geometry for every length up to the
// largest datagram.
#include "ui/PacketDump.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string Dump(const Bytes& bytes) {
    std::string text;
    PacketDump::Build(bytes.data(), static_cast<int>(bytes.size()), text);
    return text;
}

Bytes Sequence(int count, int first) {
    Bytes b(count);
    for (int i = 0; i < count; ++i) b[i] = static_cast<std::uint8_t>(first + i);
    return b;
}

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return lines;
        start = end + 2;
    }
}

TEST(PacketDumpTest, WorkedExampleToTheCharacter) {
    const Bytes bytes = {0x45, 0x00, 0x00, 0x28, 0x12, 0x34, 0x40, 0x00, 0x80, 0x06, 0x00, 0x00, 0xC0, 0xA8,
                         0x01, 0x0A, 0xC0, 0xA8, 0x01, 0x01, 0x04, 0xD2, 0x00, 0x50, 0x00, 0x00, 0x00, 0x01,
                         0x00, 0x00, 0x00, 0x00, 0x50, 0x02, 0x20, 0x00, 0x00, 0x00, 0x00, 0x00};
    const std::string expected =
        "\t\r\n"
        "00000000  45 00 00 28 12 34 40 00  80 06 00 00 C0 A8 01 0A \tE..(.4@.........\r\n"
        "00000010  C0 A8 01 01 04 D2 00 50  00 00 00 01 00 00 00 00 \t.......P........\r\n"
        "00000020  50 02 20 00 00 00 00 00 " +
        std::string(25, ' ') + "\tP. .....";
    EXPECT_EQ(Dump(bytes), expected);
}

TEST(PacketDumpTest, ShortAndPartialLines) {
    struct Case {
        const char* name;
        Bytes bytes;
        std::string expected;
    };
    const Case cases[] = {
        {"empty", {}, "\t"},
        {"five bytes", Sequence(5, 1), "\t\r\n00000000  01 02 03 04 05 " + std::string(33 + 1, ' ') + "\t....."},
        {"one full line", Sequence(16, 0x30),
         "\t\r\n00000000  30 31 32 33 34 35 36 37  38 39 3A 3B 3C 3D 3E 3F \t0123456789:;<=>?"},
        {"seventeen bytes", Sequence(17, 0x30),
         "\t\r\n00000000  30 31 32 33 34 35 36 37  38 39 3A 3B 3C 3D 3E 3F \t0123456789:;<=>?"
         "\r\n00000010  40 " +
             std::string(45 + 1, ' ') + "\t@"},
        {"exactly one group", Sequence(8, 0x41), "\t\r\n00000000  41 42 43 44 45 46 47 48 " + std::string(25, ' ') + "\tABCDEFGH"},
        {"one into the second group", Sequence(9, 0x41),
         "\t\r\n00000000  41 42 43 44 45 46 47 48  49 " + std::string(21, ' ') + "\tABCDEFGHI"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Dump(c.bytes), c.expected) << c.name;
        EXPECT_EQ(PacketDump::Length(static_cast<int>(c.bytes.size())), c.expected.size()) << c.name;
    }
}

TEST(PacketDumpTest, CharacterColumnShowsOnlyPrintableBytes) {
    const Bytes all = Sequence(256, 0);
    const std::vector<std::string> lines = Split(Dump(all));
    ASSERT_EQ(lines.size(), 17u);
    std::string column;
    for (std::size_t i = 1; i < lines.size(); ++i) column += lines[i].substr(lines[i].find('\t') + 1);
    ASSERT_EQ(column.size(), 256u);
    for (int b = 0; b < 256; ++b) {
        const char expected = b >= 0x20 && b <= 0x7E ? static_cast<char>(b) : '.';
        EXPECT_EQ(column[b], expected) << "byte " << b;
    }
    // The hexadecimal part of the 0x80 to 0xFF lines is upper-case.
    EXPECT_EQ(lines[16].substr(0, 59), "000000F0  F0 F1 F2 F3 F4 F5 F6 F7  F8 F9 FA FB FC FD FE FF ");
}

TEST(PacketDumpTest, EveryOffsetLineIsFiftyNineCharactersBeforeItsTab) {
    std::vector<int> counts;
    for (int n = 1; n <= 48; ++n) counts.push_back(n);
    counts.insert(counts.end(), {1500, 65534, 65535});
    for (int n : counts) {
        const Bytes bytes = Sequence(n, 0x61);
        const std::string text = Dump(bytes);
        ASSERT_EQ(text.size(), PacketDump::Length(n)) << n;
        const std::vector<std::string> lines = Split(text);
        ASSERT_EQ(lines.size(), 1u + (n + 15) / 16) << n;
        EXPECT_EQ(lines[0], "\t") << n;
        for (std::size_t l = 1; l < lines.size(); ++l) {
            const std::string& line = lines[l];
            ASSERT_EQ(line.find('\t'), 59u) << "count " << n << " line " << l;
            char offset[16];
            std::snprintf(offset, sizeof offset, "%08X ", static_cast<unsigned>((l - 1) * 16));
            EXPECT_EQ(line.substr(0, 9), offset) << "count " << n << " line " << l;
            const std::size_t expectedChars = l + 1 < lines.size() || n % 16 == 0 ? 16 : n % 16;
            EXPECT_EQ(line.size() - 60, expectedChars) << "count " << n << " line " << l;
        }
    }
}

TEST(PacketDumpTest, LargestDatagramGrowsBySeventyEightPerLine) {
    // 4096 lines of 16 bytes minus the last byte: one leading tab plus 78 per line, less one character.
    EXPECT_EQ(PacketDump::Length(65535), 1u + 4096u * 78u - 1u);
    EXPECT_EQ(PacketDump::Length(0), 1u);
}

TEST(PacketDumpTest, RebuildReplacesEarlierText) {
    std::string text = "left over from an earlier record";
    const Bytes bytes = Sequence(3, 0x41);
    PacketDump::Build(bytes.data(), 3, text);
    EXPECT_EQ(text, "\t\r\n00000000  41 42 43 " + std::string(39 + 1, ' ') + "\tABC");
}

}  // namespace
