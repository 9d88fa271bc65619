// The pcapng blocks, written in the machine's byte order (the section's
// byte-order magic says which) into a buffer that goes to the file in large
// pieces: one fwrite per datagram would cost a lock each.
#include "packet/CaptureFileWriter.h"

#include <cstdint>
#include <cstring>

using namespace win;

namespace {

constexpr unsigned long kSectionHeader = 0x0A0D0D0A;
constexpr unsigned long kInterfaceDescription = 0x00000001;
constexpr unsigned long kInterfaceStatistics = 0x00000005;
constexpr unsigned long kEnhancedPacket = 0x00000006;
constexpr unsigned long kByteOrderMagic = 0x1A2B3C4D;
constexpr unsigned kLinkTypeRaw = 101;
constexpr unsigned long kSnapLength = 65535;

constexpr unsigned kOptEnd = 0;
constexpr unsigned kShbUserApplication = 4;
constexpr unsigned kIfName = 2;
constexpr unsigned kIfTimeResolution = 9;
constexpr unsigned kIsbIfDrop = 5;

constexpr std::size_t kBufferSize = 1 << 20;
constexpr ULONGLONG kUnixEpoch = 116444736000000000ULL;  // 1970-01-01 as a file time

}  // namespace

CaptureFileWriter::CaptureFileWriter(std::FILE* file) : m_pFile(file) { m_buffer.reserve(kBufferSize + 65536 + 64); }

unsigned long long CaptureFileWriter::ToUnixNanoseconds(ULONGLONG fileTime) {
    return fileTime < kUnixEpoch ? 0 : (fileTime - kUnixEpoch) * 100ULL;
}

void CaptureFileWriter::PutBytes(const void* bytes, std::size_t count) {
    const auto* p = static_cast<const BYTE*>(bytes);
    m_buffer.insert(m_buffer.end(), p, p + count);
}

void CaptureFileWriter::Put16(unsigned value) {
    const std::uint16_t v = static_cast<std::uint16_t>(value);
    PutBytes(&v, sizeof v);
}

void CaptureFileWriter::Put32(unsigned long value) {
    const std::uint32_t v = static_cast<std::uint32_t>(value);
    PutBytes(&v, sizeof v);
}

void CaptureFileWriter::Put64(unsigned long long value) {
    const std::uint64_t v = value;
    PutBytes(&v, sizeof v);
}

void CaptureFileWriter::Pad() {
    while (m_buffer.size() % 4) m_buffer.push_back(0);
}

void CaptureFileWriter::PutOption(unsigned code, const void* value, std::size_t length) {
    Put16(code);
    Put16(static_cast<unsigned>(length));
    PutBytes(value, length);
    Pad();
}

void CaptureFileWriter::EndBlock(std::size_t start) {
    // Blocks start on a four-byte boundary of the buffer, as of the file.
    const std::uint32_t total = static_cast<std::uint32_t>(m_buffer.size() - start + 4);
    std::memcpy(m_buffer.data() + start + 4, &total, sizeof total);
    Put32(total);
    FlushIfFull();
}

void CaptureFileWriter::FlushIfFull() {
    if (m_buffer.size() >= kBufferSize) Finish();
}

void CaptureFileWriter::Finish() {
    if (!m_buffer.empty()) std::fwrite(m_buffer.data(), 1, m_buffer.size(), m_pFile);
    m_buffer.clear();
}

void CaptureFileWriter::WriteHeader(const std::string& application, const std::string& interfaceName) {
    std::size_t start = m_buffer.size();
    Put32(kSectionHeader);
    Put32(0);
    Put32(kByteOrderMagic);
    Put16(1);
    Put16(0);
    Put64(~0ULL);  // section length not given
    if (!application.empty()) PutOption(kShbUserApplication, application.data(), application.size());
    PutOption(kOptEnd, nullptr, 0);
    EndBlock(start);

    start = m_buffer.size();
    Put32(kInterfaceDescription);
    Put32(0);
    Put16(kLinkTypeRaw);
    Put16(0);
    Put32(kSnapLength);
    if (!interfaceName.empty()) PutOption(kIfName, interfaceName.data(), interfaceName.size());
    const BYTE nanoseconds = 9;
    PutOption(kIfTimeResolution, &nanoseconds, 1);
    PutOption(kOptEnd, nullptr, 0);
    EndBlock(start);
}

void CaptureFileWriter::WriteDatagram(const BYTE* bytes, int length, ULONGLONG fileTime) {
    if (length < 0) length = 0;
    const std::size_t held = static_cast<std::size_t>(length);
    // The original length: the header's total length when the bytes held are
    // fewer (the datagram was cut short before it was kept).
    std::size_t original = held;
    if (held >= 4) {
        const std::size_t total = (static_cast<std::size_t>(bytes[2]) << 8) | bytes[3];
        if (total > held) original = total;
    }
    const unsigned long long time = ToUnixNanoseconds(fileTime);
    const std::size_t start = m_buffer.size();
    Put32(kEnhancedPacket);
    Put32(0);
    Put32(0);  // interface 0
    Put32(static_cast<unsigned long>(time >> 32));
    Put32(static_cast<unsigned long>(time & 0xFFFFFFFFULL));
    Put32(static_cast<unsigned long>(held));
    Put32(static_cast<unsigned long>(original));
    if (held) PutBytes(bytes, held);
    Pad();
    EndBlock(start);
}

void CaptureFileWriter::WriteStatistics(ULONGLONG fileTime, unsigned long long dropped) {
    const unsigned long long time = ToUnixNanoseconds(fileTime);
    const std::size_t start = m_buffer.size();
    Put32(kInterfaceStatistics);
    Put32(0);
    Put32(0);
    Put32(static_cast<unsigned long>(time >> 32));
    Put32(static_cast<unsigned long>(time & 0xFFFFFFFFULL));
    const std::uint64_t drops = dropped;
    PutOption(kIsbIfDrop, &drops, sizeof drops);
    PutOption(kOptEnd, nullptr, 0);
    EndBlock(start);
}
