// The pcapng writer: what it writes reads back through libpcap with every
// byte and the time to the nanosecond, tshark reads the same bytes and times,
// and the file names the program, the interface and the drop count.
#include "packet/CaptureFileWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CaptureFileBuilder.h"
#include "DatagramBuilder.h"
#include "packet/CaptureFileReader.h"

using namespace testdata;

namespace {

struct Sample {
    FileBytes bytes;
    win::ULONGLONG fileTime;
};

// A spread of sizes (empty, cut short, the largest) and times (before 1970, sub-microsecond).
std::vector<Sample> Samples() {
    std::vector<Sample> samples;
    const win::ULONGLONG base = (1700000000ULL + 11644473600ULL) * 10000000ULL;
    for (int i = 0; i < 40; ++i) {
        Bytes d = Datagram(5, i % 3 ? 17 : 6, 0x7F000001, 0x7F000000u + static_cast<unsigned>(i), 28 + i * 37,
                           {static_cast<std::uint8_t>(i), 2, 3, 4, 5, 6, 7, 8});
        d.resize(28 + static_cast<std::size_t>(i) * 37, static_cast<std::uint8_t>(i));
        samples.push_back({d, base + static_cast<win::ULONGLONG>(i) * 12345677ULL});
    }
    Bytes cut = Datagram(5, 17, 1, 2, 1500, {});  // holds 20 of 1500 bytes
    samples.push_back({cut, base + 1});
    Bytes largest = Datagram(5, 17, 1, 2, 65535, {});
    largest.resize(65535, 0x5A);
    samples.push_back({largest, base + 3});
    samples.push_back({Bytes{}, base + 7});
    return samples;
}

FileBytes Write(const std::vector<Sample>& samples, std::FILE* file) {
    CaptureFileWriter writer(file);
    writer.WriteHeader("Quorvane", "127.0.0.1");
    for (const Sample& s : samples)
        writer.WriteDatagram(s.bytes.data(), static_cast<int>(s.bytes.size()), s.fileTime);
    writer.WriteStatistics(samples.front().fileTime, 17);
    writer.Finish();
    std::fflush(file);
    FileBytes written(static_cast<std::size_t>(std::ftell(file)));
    std::rewind(file);
    EXPECT_EQ(std::fread(written.data(), 1, written.size(), file), written.size());
    return written;
}

TEST(CaptureFileWriter, ReadsBackThroughLibpcapExactly) {
    const std::vector<Sample> samples = Samples();
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    const FileBytes written = Write(samples, file);
    std::fclose(file);
    EXPECT_EQ(written.size() % 4, 0u);

    CaptureFileReader reader;
    std::string error;
    ASSERT_TRUE(reader.Open(TemporaryFile(written), error)) << error;
    CaptureFileReader::Datagram d;
    std::size_t i = 0;
    for (; reader.ReadNext(d) == CaptureFileReader::kDatagram; ++i) {
        ASSERT_LT(i, samples.size());
        // The empty record carries no IPv4 datagram and is skipped.
        EXPECT_EQ(FileBytes(d.bytes, d.bytes + d.length), samples[i].bytes) << i;
        EXPECT_EQ(d.fileTime, samples[i].fileTime) << i;
    }
    EXPECT_EQ(i, samples.size() - 1);
    EXPECT_EQ(reader.GetSkippedCount(), 1u);
    EXPECT_TRUE(reader.GetError().empty()) << reader.GetError();
}

TEST(CaptureFileWriter, TimesBefore1970AreClampedToTheEpoch) {
    EXPECT_EQ(CaptureFileWriter::ToUnixNanoseconds(0), 0u);
    EXPECT_EQ(CaptureFileWriter::ToUnixNanoseconds(116444736000000000ULL), 0u);
    EXPECT_EQ(CaptureFileWriter::ToUnixNanoseconds(116444736000000001ULL), 100u);
}

std::string Output(const std::string& command) {
    std::string out;
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> pipe(::popen(command.c_str(), "r"), ::pclose);
    if (!pipe) return out;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe.get())) > 0) out.append(buffer, n);
    return out;
}

std::string Hex(const FileBytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

TEST(CaptureFileWriter, TsharkReadsEveryDatagramAndTime) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) GTEST_SKIP() << "tshark is not installed";
    const std::vector<Sample> samples = Samples();
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("writer-test-" + std::to_string(::getpid()) + ".pcapng");
    std::FILE* file = std::fopen(path.c_str(), "w+b");
    ASSERT_NE(file, nullptr);
    Write(samples, file);
    std::fclose(file);

    // Each frame's bytes as hex (the raw frame: a datagram cut short has no
    // complete IP fields to compare), and each time as seconds.nanoseconds.
    const std::string fields = Output("tshark -r '" + path.string() + "' -T ek -x 2>/dev/null");
    const std::string info = Output("capinfos '" + path.string() + "' 2>/dev/null");
    const std::string epochs = Output("tshark -r '" + path.string() + "' -T fields -e frame.time_epoch 2>/dev/null");
    std::filesystem::remove(path);

    std::istringstream lines(epochs);
    std::string line;
    std::size_t i = 0;
    while (std::getline(lines, line)) {
        ASSERT_LT(i, samples.size());
        const unsigned long long ns = CaptureFileWriter::ToUnixNanoseconds(samples[i].fileTime);
        char expected[40];
        std::snprintf(expected, sizeof expected, "%llu.%09llu", ns / 1000000000ULL, ns % 1000000000ULL);
        EXPECT_EQ(line, expected) << i;
        ++i;
    }
    EXPECT_EQ(i, samples.size());
    // Every datagram's bytes appear as the raw frame, in order.
    std::size_t at = 0;
    for (std::size_t k = 0; k + 1 < samples.size(); ++k) {
        const std::string raw = "\"frame_raw\":\"" + Hex(samples[k].bytes) + "\"";
        const std::size_t found = fields.find(raw, at);
        EXPECT_NE(found, std::string::npos) << "datagram " << k;
        if (found != std::string::npos) at = found;
    }
    // capinfos comes with tshark: the section names the program, the interface its address.
    EXPECT_NE(info.find("Quorvane"), std::string::npos) << info;
    EXPECT_NE(info.find("127.0.0.1"), std::string::npos) << info;
}

}  // namespace
