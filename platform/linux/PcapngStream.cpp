// The pcapng block reader of the capture stream (see PcapngStream.h).
#include "platform/linux/PcapngStream.h"

#include <cstring>

namespace win::detail {

namespace {
constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceDescription = 1;
constexpr std::uint32_t kEnhancedPacket = 6;
constexpr std::uint32_t kInterfaceStatistics = 5;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint16_t kLinkTypeRaw = 101;
constexpr std::uint16_t kLinkTypeIPv4 = 228;
constexpr std::uint16_t kOptionTimeResolution = 9;
constexpr std::uint16_t kOptionReceived = 4;
constexpr std::uint16_t kOptionDropped = 5;
}  // namespace

PcapngStream::PcapngStream(std::size_t minimumRoom) : m_buffer(kMaxBlock + minimumRoom), m_data(m_buffer.data()) {}

void PcapngStream::Attach(const std::uint8_t* data, std::size_t size) {
    m_data = data;
    m_begin = 0;
    m_end = size;
}

std::uint8_t* PcapngStream::WritePointer() {
    if (m_begin == m_end) {
        m_begin = m_end = 0;
    } else if (m_begin > 0 && m_buffer.size() - m_end < m_buffer.size() - kMaxBlock) {
        // Less than the promised room: move the unread part to the front. It is
        // less than one block, since Next() has taken every whole one.
        std::memmove(m_buffer.data(), m_buffer.data() + m_begin, m_end - m_begin);
        m_end -= m_begin;
        m_begin = 0;
    }
    return m_buffer.data() + m_end;
}

std::size_t PcapngStream::WriteSpace() {
    WritePointer();
    return m_buffer.size() - m_end;
}

void PcapngStream::Commit(std::size_t count) {
    m_end += count <= m_buffer.size() - m_end ? count : m_buffer.size() - m_end;
}

std::uint32_t PcapngStream::Read32(std::size_t offset) const {
    std::uint32_t value;
    std::memcpy(&value, m_data + m_begin + offset, sizeof value);
    return value;
}

bool PcapngStream::Fail() {
    m_broken = true;
    return false;
}

bool PcapngStream::Next(Datagram* datagram) {
    if (!Advance()) return false;
    const std::size_t length = Read32(4);
    if (!ReadPacket(length, datagram)) return Fail();
    m_begin += length;
    return true;
}

bool PcapngStream::Advance() {
    while (!m_broken) {
        const std::size_t available = m_end - m_begin;
        if (available < 12) return false;
        const std::uint32_t type = Read32(0);
        const std::uint32_t length = Read32(4);
        // A stream starts with a section header in our byte order.
        if (!m_inSection && (type != kSectionHeader || Read32(8) != kByteOrderMagic)) return Fail();
        if (length < 12 || length % 4 != 0 || length > kMaxBlock) return Fail();
        if (available < length) return false;
        if (Read32(length - 4) != length) return Fail();

        bool ok = true;
        switch (type) {
        case kSectionHeader:
            ok = ReadSection(length);
            break;
        case kInterfaceDescription:
            ok = ReadInterface(length);
            break;
        case kEnhancedPacket:
            return true;  // left for Next()
        case kInterfaceStatistics:
            ok = ReadStatistics(length);
            break;
        default:
            break;  // a block this reader has no use for
        }
        if (!ok) return Fail();
        m_begin += length;
    }
    return false;
}

template <typename Visit>
bool PcapngStream::ForEachOption(std::size_t first, std::size_t length, Visit visit) const {
    const std::size_t end = length - 4;
    std::size_t at = first;
    while (at + 4 <= end) {
        const std::uint32_t header = Read32(at);
        const std::uint16_t code = static_cast<std::uint16_t>(header & 0xFFFF);
        const std::size_t size = header >> 16;
        if (code == 0) return true;  // opt_endofopt
        if (at + 4 + size > end) return false;
        if (!visit(code, at + 4, size)) return false;
        at += 4 + ((size + 3) & ~std::size_t{3});
    }
    return at <= end;
}

bool PcapngStream::ReadSection(std::size_t length) {
    if (length < 28 || Read32(8) != kByteOrderMagic || (Read32(12) & 0xFFFF) != 1) return false;
    m_inSection = true;
    m_interfaces = 0;
    return true;
}

bool PcapngStream::ReadInterface(std::size_t length) {
    if (length < 20) return false;
    const std::uint16_t linkType = static_cast<std::uint16_t>(Read32(8) & 0xFFFF);
    if (m_interfaces == 0) {
        // The datagrams must start with the IPv4 header.
        if (linkType != kLinkTypeIPv4 && linkType != kLinkTypeRaw) return false;
        m_timeScale = 1000;  // microseconds unless said otherwise
        bool ok = ForEachOption(16, length, [this](std::uint16_t code, std::size_t offset, std::size_t size) {
            if (code != kOptionTimeResolution) return true;
            if (size != 1) return false;
            const std::uint8_t resolution = m_data[m_begin + offset];
            // Powers of ten down to nanoseconds; anything finer or binary is not ours.
            if ((resolution & 0x80) != 0 || resolution > 9) return false;
            m_timeScale = 1;
            for (int i = resolution; i < 9; ++i) m_timeScale *= 10;
            return true;
        });
        if (!ok) return false;
    }
    ++m_interfaces;
    return true;
}

bool PcapngStream::ReadPacket(std::size_t length, Datagram* datagram) {
    if (length < 32 || m_interfaces == 0 || Read32(8) != 0) return false;
    const std::uint32_t captured = Read32(20);
    if (captured > length - 32) return false;
    const std::uint64_t time = (std::uint64_t{Read32(12)} << 32) | Read32(16);
    datagram->bytes = m_data + m_begin + 28;
    datagram->length = captured;
    datagram->originalLength = Read32(24);
    datagram->timeNs = time * m_timeScale;
    return true;
}

bool PcapngStream::ReadStatistics(std::size_t length) {
    if (length < 24 || Read32(8) >= m_interfaces) return false;
    std::uint64_t dropped = m_dropped, received = m_kernelReceived;
    bool ok = ForEachOption(20, length, [&](std::uint16_t code, std::size_t offset, std::size_t size) {
        if (code != kOptionDropped && code != kOptionReceived) return true;
        if (size != 8) return false;
        std::uint64_t value;
        std::memcpy(&value, m_data + m_begin + offset, sizeof value);
        (code == kOptionDropped ? dropped : received) = value;
        return true;
    });
    if (!ok) return false;
    m_dropped = dropped;
    m_kernelReceived = received;
    ++m_statisticsBlocks;
    return true;
}

}  // namespace win::detail
