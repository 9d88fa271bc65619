// Builds capture files byte by byte for the reader and writer tests: classic
// pcap (microsecond or nanosecond magic) and pcapng, with frames of any link
// type, so that damaged files can be made as easily as sound ones.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testdata {

using FileBytes = std::vector<std::uint8_t>;

inline void Le16(FileBytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void Le32(FileBytes& b, std::uint32_t v) {
    Le16(b, v & 0xFFFF);
    Le16(b, v >> 16);
}

/// A classic pcap file header (little-endian).
inline FileBytes PcapHeader(std::uint32_t linkType, std::uint32_t snapLength = 65535, bool nano = false) {
    FileBytes b;
    Le32(b, nano ? 0xA1B23C4D : 0xA1B2C3D4);
    Le16(b, 2);
    Le16(b, 4);
    Le32(b, 0);
    Le32(b, 0);
    Le32(b, snapLength);
    Le32(b, linkType);
    return b;
}

/// One classic pcap record; original 0 means the frame's size.
inline void PcapRecord(FileBytes& file, std::uint32_t seconds, std::uint32_t fraction, const FileBytes& frame,
                       std::uint32_t original = 0) {
    Le32(file, seconds);
    Le32(file, fraction);
    Le32(file, static_cast<std::uint32_t>(frame.size()));
    Le32(file, original ? original : static_cast<std::uint32_t>(frame.size()));
    file.insert(file.end(), frame.begin(), frame.end());
}

/// A pcapng section header block and one interface with the time resolution 10^-resolution.
inline FileBytes PcapngHeader(std::uint16_t linkType, std::uint8_t resolution = 6) {
    FileBytes b;
    Le32(b, 0x0A0D0D0A);
    Le32(b, 28);
    Le32(b, 0x1A2B3C4D);
    Le16(b, 1);
    Le16(b, 0);
    Le32(b, 0xFFFFFFFF);
    Le32(b, 0xFFFFFFFF);
    Le32(b, 28);
    Le32(b, 1);
    Le32(b, 32);
    Le16(b, linkType);
    Le16(b, 0);
    Le32(b, 65535);
    Le16(b, 9);  // if_tsresol
    Le16(b, 1);
    b.push_back(resolution);
    b.push_back(0);
    b.push_back(0);
    b.push_back(0);
    Le32(b, 0);  // opt_endofopt
    Le32(b, 32);
    return b;
}

/// One enhanced packet block of interface 0; totalLength 0 means the right one.
inline void PcapngPacket(FileBytes& file, std::uint64_t time, const FileBytes& frame, std::uint32_t totalLength = 0) {
    const std::uint32_t padded = static_cast<std::uint32_t>((frame.size() + 3) / 4 * 4);
    const std::uint32_t total = totalLength ? totalLength : 32 + padded;
    Le32(file, 6);
    Le32(file, total);
    Le32(file, 0);
    Le32(file, static_cast<std::uint32_t>(time >> 32));
    Le32(file, static_cast<std::uint32_t>(time));
    Le32(file, static_cast<std::uint32_t>(frame.size()));
    Le32(file, static_cast<std::uint32_t>(frame.size()));
    file.insert(file.end(), frame.begin(), frame.end());
    file.resize(file.size() + (padded - frame.size()), 0);
    Le32(file, total);
}

/// An Ethernet II frame around a payload, with VLAN tags (tag protocol ids) in front of the type.
inline FileBytes EthernetFrame(std::uint16_t type, const FileBytes& payload, std::vector<std::uint16_t> tags = {}) {
    FileBytes f = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    for (std::uint16_t tag : tags) {
        f.push_back(static_cast<std::uint8_t>(tag >> 8));
        f.push_back(static_cast<std::uint8_t>(tag));
        f.push_back(0x00);
        f.push_back(0x2A);  // VLAN 42
    }
    f.push_back(static_cast<std::uint8_t>(type >> 8));
    f.push_back(static_cast<std::uint8_t>(type));
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

/// A Linux cooked capture v1 frame (16-byte header) around a payload.
inline FileBytes CookedFrame(std::uint16_t protocol, const FileBytes& payload) {
    FileBytes f = {0, 0, 0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0};
    f.push_back(static_cast<std::uint8_t>(protocol >> 8));
    f.push_back(static_cast<std::uint8_t>(protocol));
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

/// A Linux cooked capture v2 frame (20-byte header) around a payload.
inline FileBytes Cooked2Frame(std::uint16_t protocol, const FileBytes& payload) {
    FileBytes f = {static_cast<std::uint8_t>(protocol >> 8), static_cast<std::uint8_t>(protocol), 0, 0, 0, 0, 0, 1,
                   0, 1, 0, 6, 1, 2, 3, 4, 5, 6, 0, 0};
    f.insert(f.end(), payload.begin(), payload.end());
    return f;
}

/// The bytes in a temporary file, rewound; the caller owns it.
inline std::FILE* TemporaryFile(const FileBytes& bytes) {
    std::FILE* file = std::tmpfile();
    if (file && !bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), file);
    if (file) std::rewind(file);
    return file;
}

}  // namespace testdata
