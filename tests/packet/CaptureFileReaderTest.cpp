// The capture file reader: every link type gives the same datagrams as raw
// IP, times come through to the 100 ns of a file time, frames without IPv4
// are skipped and counted, and damaged files fail with a reason, keeping the
// datagrams before the damage.
#include "packet/CaptureFileReader.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CaptureFileBuilder.h"
#include "DatagramBuilder.h"

using namespace testdata;

namespace {

// 2023-11-14 22:13:20 UTC as seconds since 1970, and as a file time.
constexpr std::uint32_t kSeconds = 1700000000;
constexpr win::ULONGLONG kFileTime = (1700000000ULL + 11644473600ULL) * 10000000ULL;

FileBytes Udp(int payload) {
    FileBytes transport = {0x30, 0x39, 0x00, 0x35, 0, static_cast<std::uint8_t>(8 + payload), 0, 0};
    transport.resize(8 + static_cast<std::size_t>(payload), 0xAB);
    Bytes d = Datagram(5, 17, 0x7F000001, 0x7F000002, 20 + 8 + payload, {});
    d.insert(d.end(), transport.begin(), transport.end());
    return d;
}

struct Read {
    std::vector<FileBytes> datagrams;
    std::vector<win::ULONGLONG> times;
    CaptureFileReader::Result last = CaptureFileReader::kEnd;
    std::string error;
    unsigned long long skipped = 0;
};

// Opens the bytes; false (with the reason) when the header is refused.
bool ReadAll(const FileBytes& file, Read& out, std::string* openError = nullptr) {
    CaptureFileReader reader;
    std::string error;
    if (!reader.Open(TemporaryFile(file), error)) {
        if (openError) *openError = error;
        return false;
    }
    CaptureFileReader::Datagram d;
    for (int guard = 0; guard < 100000; ++guard) {
        out.last = reader.ReadNext(d);
        if (out.last != CaptureFileReader::kDatagram) break;
        out.datagrams.emplace_back(d.bytes, d.bytes + d.length);
        out.times.push_back(d.fileTime);
    }
    out.error = reader.GetError();
    out.skipped = reader.GetSkippedCount();
    return true;
}

struct LinkCase {
    const char* name;
    std::uint32_t linkType;
    FileBytes (*wrap)(const FileBytes&);
};

const LinkCase kLinkCases[] = {
    {"LinktypeRaw", 101, [](const FileBytes& d) { return d; }},
    {"LinktypeIPv4", 228, [](const FileBytes& d) { return d; }},
    {"DltRaw12", 12, [](const FileBytes& d) { return d; }},
    {"DltRaw14", 14, [](const FileBytes& d) { return d; }},
    {"Ethernet", 1, [](const FileBytes& d) { return EthernetFrame(0x0800, d); }},
    {"Ethernet8021Q", 1, [](const FileBytes& d) { return EthernetFrame(0x0800, d, {0x8100}); }},
    {"Ethernet8021ad", 1, [](const FileBytes& d) { return EthernetFrame(0x0800, d, {0x88A8, 0x8100}); }},
    {"LinuxCooked", 113, [](const FileBytes& d) { return CookedFrame(0x0800, d); }},
    {"LinuxCooked2", 276, [](const FileBytes& d) { return Cooked2Frame(0x0800, d); }},
    {"NullHostOrder", 0, [](const FileBytes& d) { return Concat(FileBytes{2, 0, 0, 0}, d); }},
    {"NullOtherOrder", 0, [](const FileBytes& d) { return Concat(FileBytes{0, 0, 0, 2}, d); }},
    {"Loop", 108, [](const FileBytes& d) { return Concat(FileBytes{0, 0, 0, 2}, d); }},
};

class LinkTypes : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkTypes, GiveTheDatagramsAndTimesOfRawIP) {
    const LinkCase& c = GetParam();
    const std::vector<FileBytes> sent = {Udp(0), Udp(1), Udp(100), Udp(1400)};
    FileBytes file = PcapHeader(c.linkType);
    for (std::size_t i = 0; i < sent.size(); ++i)
        PcapRecord(file, kSeconds + static_cast<std::uint32_t>(i), 123456, c.wrap(sent[i]));
    Read read;
    std::string error;
    ASSERT_TRUE(ReadAll(file, read, &error)) << error;
    EXPECT_EQ(read.last, CaptureFileReader::kEnd) << read.error;
    EXPECT_EQ(read.datagrams, sent);
    ASSERT_EQ(read.times.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i)
        EXPECT_EQ(read.times[i], kFileTime + i * 10000000ULL + 1234560ULL) << i;
    EXPECT_EQ(read.skipped, 0u);
}

INSTANTIATE_TEST_SUITE_P(CaptureFileReader, LinkTypes, ::testing::ValuesIn(kLinkCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CaptureFileReader, SkipsAndCountsFramesWithoutIPv4) {
    FileBytes ipv6(40, 0);
    ipv6[0] = 0x60;
    FileBytes file = PcapHeader(1);
    PcapRecord(file, kSeconds, 0, EthernetFrame(0x0806, FileBytes(28, 1)));  // ARP
    PcapRecord(file, kSeconds, 1, EthernetFrame(0x0800, Udp(4)));
    PcapRecord(file, kSeconds, 2, EthernetFrame(0x86DD, ipv6));
    PcapRecord(file, kSeconds, 3, EthernetFrame(0x0800, ipv6));  // says IPv4, holds IPv6
    PcapRecord(file, kSeconds, 4, FileBytes(10, 0));             // too short for a type
    PcapRecord(file, kSeconds, 5, EthernetFrame(0x8100, FileBytes(2, 0)));  // a tag cut short
    PcapRecord(file, kSeconds, 6, EthernetFrame(0x0800, Udp(5)));
    Read read;
    ASSERT_TRUE(ReadAll(file, read));
    EXPECT_EQ(read.datagrams, (std::vector<FileBytes>{Udp(4), Udp(5)}));
    EXPECT_EQ(read.skipped, 5u);

    FileBytes raw = PcapHeader(101);
    PcapRecord(raw, kSeconds, 0, ipv6);
    PcapRecord(raw, kSeconds, 0, FileBytes{});
    FileBytes cooked = PcapHeader(113);
    PcapRecord(cooked, kSeconds, 0, CookedFrame(0x86DD, ipv6));
    for (const FileBytes& f : {raw, cooked}) {
        Read r;
        ASSERT_TRUE(ReadAll(f, r));
        EXPECT_TRUE(r.datagrams.empty());
        EXPECT_GE(r.skipped, 1u);
    }
}

TEST(CaptureFileReader, DropsEthernetPaddingButKeepsWhatASnapshotCut) {
    const FileBytes small = Udp(0);  // 28 bytes: Ethernet pads it to 46
    FileBytes padded = small;
    padded.resize(46, 0);
    const FileBytes big = Udp(1000);
    const FileBytes cut(big.begin(), big.begin() + 96);
    FileBytes file = PcapHeader(1, 110);
    PcapRecord(file, kSeconds, 0, EthernetFrame(0x0800, padded));
    PcapRecord(file, kSeconds, 0, EthernetFrame(0x0800, cut), static_cast<std::uint32_t>(14 + big.size()));
    Read read;
    ASSERT_TRUE(ReadAll(file, read));
    EXPECT_EQ(read.datagrams, (std::vector<FileBytes>{small, cut}));
}

TEST(CaptureFileReader, PcapngNanosecondTimesKeepTheirFraction) {
    // 1700000000.123456789 s: the row shows millisecond 123, the file time
    // keeps 1234567 units of 100 ns.
    const std::uint64_t nanoseconds = 1700000000ULL * 1000000000ULL + 123456789ULL;
    FileBytes file = PcapngHeader(101, 9);
    PcapngPacket(file, nanoseconds, Udp(3));
    Read read;
    std::string error;
    ASSERT_TRUE(ReadAll(file, read, &error)) << error;
    ASSERT_EQ(read.times.size(), 1u);
    EXPECT_EQ(read.times[0], kFileTime + 1234567ULL);

    FileBytes micro = PcapngHeader(1, 6);
    PcapngPacket(micro, 1700000000ULL * 1000000ULL + 999999ULL, EthernetFrame(0x0800, Udp(3)));
    Read r;
    ASSERT_TRUE(ReadAll(micro, r));
    ASSERT_EQ(r.times.size(), 1u);
    EXPECT_EQ(r.times[0], kFileTime + 9999990ULL);
    EXPECT_EQ(r.datagrams[0], Udp(3));

    FileBytes classicNano = PcapHeader(101, 65535, true);
    PcapRecord(classicNano, kSeconds, 987654321, Udp(1));
    Read c;
    ASSERT_TRUE(ReadAll(classicNano, c));
    ASSERT_EQ(c.times.size(), 1u);
    EXPECT_EQ(c.times[0], kFileTime + 9876543ULL);
}

TEST(CaptureFileReader, ZeroByteFileIsAnEmptyCapture) {
    Read read;
    std::string error;
    ASSERT_TRUE(ReadAll({}, read, &error)) << error;
    EXPECT_TRUE(read.datagrams.empty());
    EXPECT_EQ(read.last, CaptureFileReader::kEnd);
}

TEST(CaptureFileReader, RefusesWhatIsNoCaptureFile) {
    FileBytes badMagic = PcapHeader(101);
    badMagic[0] = 0x00;
    const FileBytes text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n'};
    FileBytes truncatedHeader = PcapHeader(101);
    truncatedHeader.resize(10);
    FileBytes truncatedPcapng = PcapngHeader(101);
    truncatedPcapng.resize(20);
    FileBytes badSectionLength = PcapngHeader(101);
    badSectionLength[4] = 0xFF;  // section header block of 255 bytes, not in the file
    FileBytes unknownLink = PcapHeader(105);  // 802.11
    PcapRecord(unknownLink, kSeconds, 0, Udp(1));
    int index = 0;
    for (const FileBytes& file : {badMagic, text, truncatedHeader, truncatedPcapng, badSectionLength, unknownLink}) {
        SCOPED_TRACE(index++);
        Read read;
        std::string error;
        EXPECT_FALSE(ReadAll(file, read, &error));
        EXPECT_FALSE(error.empty());
    }
    std::string error;
    CaptureFileReader reader;
    EXPECT_FALSE(reader.Open("/nonexistent/capture.pcap", error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
}

struct DamageCase {
    const char* name;
    FileBytes file;
};

// Each file holds two sound records, then damage.
std::vector<DamageCase> DamageCases() {
    std::vector<DamageCase> cases;
    const auto sound = [](FileBytes header) {
        PcapRecord(header, kSeconds, 0, Udp(1));
        PcapRecord(header, kSeconds, 1, Udp(2));
        return header;
    };
    {
        FileBytes f = sound(PcapHeader(101));
        const FileBytes record = Udp(50);
        PcapRecord(f, kSeconds, 2, record);
        f.resize(f.size() - 30);  // cut off inside the record
        cases.push_back({"CutInsideARecord", f});
    }
    {
        FileBytes f = sound(PcapHeader(101));
        f.insert(f.end(), {1, 2, 3, 4, 5, 6});  // cut off inside a record header
        cases.push_back({"CutInsideARecordHeader", f});
    }
    {
        FileBytes f = sound(PcapHeader(101));
        Le32(f, kSeconds);
        Le32(f, 0);
        Le32(f, 0xFFFFFFF0);  // captured length
        Le32(f, 0xFFFFFFF0);
        f.resize(f.size() + 64, 0x45);
        cases.push_back({"HugeLengthField", f});
    }
    {
        FileBytes f = sound(PcapHeader(101, 65535));
        Le32(f, kSeconds);
        Le32(f, 0);
        Le32(f, 300000);  // more than any snapshot length libpcap allows
        Le32(f, 300000);
        f.resize(f.size() + 300000, 0x45);
        cases.push_back({"CapturedLengthAboveSnapshotLength", f});
    }
    {
        FileBytes f = sound(PcapHeader(101, 65535));
        Le32(f, kSeconds);
        Le32(f, 0);
        Le32(f, 60000);  // more than the file holds
        Le32(f, 60000);
        f.resize(f.size() + 100, 0x45);
        cases.push_back({"CapturedLengthAboveTheFile", f});
    }
    {
        FileBytes f = PcapngHeader(101);
        PcapngPacket(f, 1, Udp(1));
        PcapngPacket(f, 2, Udp(2));
        PcapngPacket(f, 3, Udp(3), 7);  // not a multiple of 4, below the minimum
        cases.push_back({"PcapngBlockOfBadLength", f});
    }
    {
        FileBytes f = PcapngHeader(101);
        PcapngPacket(f, 1, Udp(1));
        PcapngPacket(f, 2, Udp(2));
        PcapngPacket(f, 3, Udp(3), 0x7FFFFFF0);  // far beyond the file
        cases.push_back({"PcapngBlockLongerThanTheFile", f});
    }
    {
        FileBytes f = PcapngHeader(101);
        PcapngPacket(f, 1, Udp(1));
        PcapngPacket(f, 2, Udp(2));
        FileBytes tail;
        PcapngPacket(tail, 3, Udp(3));
        tail[tail.size() - 4] ^= 0x10;  // trailing length differs from the leading one
        f.insert(f.end(), tail.begin(), tail.end());
        cases.push_back({"PcapngTrailingLengthDiffers", f});
    }
    return cases;
}

TEST(CaptureFileReader, DamagedFilesKeepTheDatagramsBeforeTheDamage) {
    for (const DamageCase& c : DamageCases()) {
        SCOPED_TRACE(c.name);
        Read read;
        std::string error;
        ASSERT_TRUE(ReadAll(c.file, read, &error)) << error;
        EXPECT_EQ(read.last, CaptureFileReader::kDamaged);
        EXPECT_FALSE(read.error.empty());
        EXPECT_EQ(read.datagrams, (std::vector<FileBytes>{Udp(1), Udp(2)}));
    }
}

TEST(CaptureFileReader, SnapshotLengthZeroStillReadsTheRecords) {
    // Some writers put 0 for "no limit"; libpcap takes the largest instead.
    FileBytes f = PcapHeader(101, 0);
    PcapRecord(f, kSeconds, 0, Udp(10));
    Read read;
    std::string error;
    ASSERT_TRUE(ReadAll(f, read, &error)) << error;
    EXPECT_EQ(read.last, CaptureFileReader::kEnd) << read.error;
    EXPECT_EQ(read.datagrams, std::vector<FileBytes>{Udp(10)});
}

TEST(CaptureFileReader, ProgressReachesTheFileSize) {
    FileBytes f = PcapHeader(101);
    for (int i = 0; i < 50; ++i) PcapRecord(f, kSeconds, 0, Udp(i));
    CaptureFileReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(TemporaryFile(f), error)) << error;
    EXPECT_EQ(reader.GetFileSize(), static_cast<long long>(f.size()));
    EXPECT_LT(reader.GetPosition(), reader.GetFileSize());
    CaptureFileReader::Datagram d;
    while (reader.ReadNext(d) == CaptureFileReader::kDatagram) {
    }
    EXPECT_EQ(reader.GetPosition(), reader.GetFileSize());
}

// The sound and damaged files above are the capture file fuzzer's seeds
// (written where QV_FUZZ_FILE_CORPUS says); here they are also read back.
TEST(CaptureFileReader, FilesWriteTheFuzzSeedCorpus) {
    namespace fs = std::filesystem;
    const char* named = std::getenv("QV_FUZZ_FILE_CORPUS");
    const fs::path folder = named ? fs::path(named) : fs::temp_directory_path() / "qv-file-seeds";
    fs::create_directories(folder);
    std::vector<std::pair<std::string, FileBytes>> seeds;
    for (const LinkCase& c : kLinkCases) {
        FileBytes f = PcapHeader(c.linkType);
        PcapRecord(f, kSeconds, 1, c.wrap(Udp(3)));
        PcapRecord(f, kSeconds, 2, c.wrap(Udp(40)));
        seeds.emplace_back(std::string("link-") + c.name, f);
    }
    FileBytes ng = PcapngHeader(1, 9);
    PcapngPacket(ng, 1, EthernetFrame(0x0800, Udp(5), {0x88A8, 0x8100}));
    seeds.emplace_back("pcapng-ethernet", ng);
    for (const DamageCase& c : DamageCases()) seeds.emplace_back(std::string("damaged-") + c.name, c.file);
    for (const auto& [name, bytes] : seeds) {
        const fs::path file = folder / name;
        {
            std::ofstream out(file, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
            ASSERT_TRUE(out.good()) << name;
        }
        CaptureFileReader reader;
        std::string error;
        ASSERT_TRUE(reader.Open(file.string(), error)) << name << ": " << error;
        CaptureFileReader::Datagram d;
        ASSERT_EQ(reader.ReadNext(d), CaptureFileReader::kDatagram) << name;
    }
    if (!named) fs::remove_all(folder);
}

}  // namespace
