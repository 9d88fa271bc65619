// A reader of the pcapng stream that the capture helper writes: bytes are fed
// in, or read where they lie (the helper's output ring), and whole blocks come out, datagrams one
// at a time with their arrival times, the drop counts of statistics blocks on
// the side. The bytes come from another process, so every length is checked
// before it is used and a stream that breaks the format stops for good.
//
// Our own code rather than libpcap's reader: libpcap hands over packet
// blocks only and skips interface statistics blocks, which carry the
// kernel's drop counts the program must report, and it reads through a
// blocking fread of its own, where the capture socket needs to read what the
// channel has without waiting. The reader takes what a stream of the helper
// holds: one section in this machine's byte order, interfaces of link type
// IPv4 or raw IP, enhanced packet and interface statistics blocks; blocks of
// other types are skipped. Nothing outside platform/linux/ includes this file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace win::detail {

class PcapngStream {
public:
    /// The largest block taken; a longer one breaks the stream.
    static constexpr std::size_t kMaxBlock = 1u << 17;

    struct Datagram {
        const std::uint8_t* bytes = nullptr;  ///< valid until the next call that changes the reader
        std::uint32_t length = 0;             ///< bytes captured
        std::uint32_t originalLength = 0;     ///< bytes on the wire
        std::uint64_t timeNs = 0;             ///< arrival, nanoseconds since 1970 UTC
    };

    /// Reads only bytes attached where they lie (Attach).
    PcapngStream() = default;
    /// Reads bytes fed into its own buffer. minimumRoom: the least
    /// WriteSpace() guaranteed whenever Advance() or Next() has returned
    /// false (the largest piece fed at once).
    explicit PcapngStream(std::size_t minimumRoom);

    /// Reads the size bytes at data from their start, where they lie; they
    /// must stay there until the next Attach. The section and interface read
    /// so far hold: the bytes go on from where the last ones were consumed.
    void Attach(const std::uint8_t* data, std::size_t size);
    /// Bytes of whole blocks read since the last Attach.
    std::size_t GetConsumed() const { return m_begin; }
    /// Bytes attached and not yet read.
    std::size_t GetUnread() const { return m_end - m_begin; }

    /// Where to put the next bytes, and how many fit (buffer only).
    std::uint8_t* WritePointer();
    std::size_t WriteSpace();
    /// Counts bytes written at WritePointer().
    void Commit(std::size_t count);

    /// Reads the blocks before the next packet block (headers, statistics,
    /// blocks of other types); true when a whole packet block then waits,
    /// false when more bytes are needed or the stream is broken.
    bool Advance();
    /// The next datagram; false when no whole packet block waits (feed more)
    /// or the stream is broken.
    bool Next(Datagram* datagram);
    /// True once the stream broke the format; it then yields nothing more.
    bool IsBroken() const { return m_broken; }

    /// Datagrams the kernel dropped and received, as the last statistics block said.
    std::uint64_t GetDropped() const { return m_dropped; }
    std::uint64_t GetKernelReceived() const { return m_kernelReceived; }
    /// Statistics blocks read so far.
    std::uint64_t GetStatisticsBlocks() const { return m_statisticsBlocks; }

private:
    std::uint32_t Read32(std::size_t offset) const;
    bool Fail();
    bool ReadSection(std::size_t length);
    bool ReadInterface(std::size_t length);
    bool ReadPacket(std::size_t length, Datagram* datagram);
    bool ReadStatistics(std::size_t length);
    /// Calls visit(code, offset, length) for each option of the block between
    /// first and the block's end; false when an option overruns the block.
    template <typename Visit>
    bool ForEachOption(std::size_t first, std::size_t length, Visit visit) const;

    std::vector<std::uint8_t> m_buffer;
    const std::uint8_t* m_data = nullptr;  // m_buffer's bytes, or those attached
    std::size_t m_begin = 0;  // first byte not yet read
    std::size_t m_end = 0;    // one past the last byte fed
    bool m_broken = false;
    bool m_inSection = false;
    std::uint32_t m_interfaces = 0;   // described in this section
    std::uint64_t m_timeScale = 1000;  // interface 0's time unit in nanoseconds
    std::uint64_t m_dropped = 0;
    std::uint64_t m_kernelReceived = 0;
    std::uint64_t m_statisticsBlocks = 0;
};

}  // namespace win::detail
