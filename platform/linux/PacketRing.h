// The memory-mapped TPACKET_V3 receive ring of a capture socket. The kernel
// fills blocks of datagrams and hands each whole block over; the reader takes
// one datagram at a time and returns a block to the kernel as soon as its last
// datagram has been taken, so the kernel never waits on a half-read block.
// Nothing outside platform/linux/ includes this file.
#pragma once

#include <cstddef>
#include <cstdint>

namespace win::detail {

class PacketRing {
public:
    PacketRing() = default;
    ~PacketRing();
    PacketRing(const PacketRing&) = delete;
    PacketRing& operator=(const PacketRing&) = delete;

    /// Installs and maps a ring of blockCount blocks of blockSize bytes on the
    /// packet socket fd; a block is handed over after blockTimeoutMs at the
    /// latest. Returns 0, or the errno of the failing call (the socket is then
    /// left without a ring).
    int Attach(int fd, unsigned blockSize, unsigned blockCount, unsigned blockTimeoutMs);
    bool IsAttached() const { return m_map != nullptr; }

    /// Copies the next datagram (at most length bytes) to buffer and returns the
    /// number of bytes copied, or -1 when no datagram waits. Not thread-safe:
    /// the owner serialises callers.
    long Take(char* buffer, std::size_t length);
    /// True when a datagram waits to be taken.
    bool HasData() const;

private:
    std::uint8_t* BlockAt(unsigned index) const { return m_map + static_cast<std::size_t>(index) * m_blockSize; }
    bool OpenNextBlock();
    void ReleaseBlock();

    std::uint8_t* m_map = nullptr;
    std::size_t m_mapSize = 0;
    unsigned m_blockSize = 0;
    unsigned m_blockCount = 0;
    unsigned m_block = 0;               // the block the reader is in or waits for
    const std::uint8_t* m_frame = nullptr;  // next datagram of the open block
    unsigned m_framesLeft = 0;          // datagrams not yet taken from the open block
};

}  // namespace win::detail
