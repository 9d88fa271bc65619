// Builds IPv4 datagrams byte by byte for the decoding tests, and hands them to
// a record the way the engine does: written into GetData(), then SetReceived.
#pragma once

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <vector>

#include "packet/IPPacket.h"

namespace testdata {

using Bytes = std::vector<std::uint8_t>;

/// An IPv4 header of (ihl * 4) bytes (at least 20 written) followed by the
/// transport bytes. Options are zero bytes.
inline Bytes Datagram(int ihl, int protocol, std::uint32_t source, std::uint32_t dest, int totalLength,
                      std::initializer_list<std::uint8_t> transport)
{
    const std::size_t header = std::max<std::size_t>(static_cast<std::size_t>(ihl) * 4, 20);
    Bytes b(header, 0);
    b[0] = static_cast<std::uint8_t>(0x40 | (ihl & 0x0F));
    b[2] = static_cast<std::uint8_t>(totalLength >> 8);
    b[3] = static_cast<std::uint8_t>(totalLength);
    b[8] = 64;
    b[9] = static_cast<std::uint8_t>(protocol);
    for (int i = 0; i < 4; ++i) {
        b[12 + i] = static_cast<std::uint8_t>(source >> (24 - 8 * i));
        b[16 + i] = static_cast<std::uint8_t>(dest >> (24 - 8 * i));
    }
    b.insert(b.end(), transport.begin(), transport.end());
    return b;
}

/// A 20-byte TCP header with the given ports and flag byte (byte 13).
inline Bytes TcpHeader(std::uint16_t sport, std::uint16_t dport, std::uint8_t flags)
{
    Bytes t(20, 0);
    t[0] = static_cast<std::uint8_t>(sport >> 8);
    t[1] = static_cast<std::uint8_t>(sport);
    t[2] = static_cast<std::uint8_t>(dport >> 8);
    t[3] = static_cast<std::uint8_t>(dport);
    t[12] = 0x50;
    t[13] = flags;
    return t;
}

inline Bytes Concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

/// Receives the bytes into the record as the engine does and decodes them.
inline void Receive(IPPacket& packet, const Bytes& bytes)
{
    if (!bytes.empty()) {
        std::memcpy(packet.GetData(), bytes.data(), bytes.size());
    }
    packet.SetReceived(static_cast<int>(bytes.size()));
    packet.Decode();
}

}  // namespace testdata
