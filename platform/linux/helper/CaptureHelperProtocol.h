// The conversation between the program and its capture helper, the only file
// that holds CAP_NET_RAW. The program starts the helper with no arguments, an
// empty environment and one end of an AF_UNIX SOCK_SEQPACKET socket pair as
// descriptor 0 (nothing else inherited).
//
// 1. The helper opens its packet socket and sends a Reply: error 0, or the
//    errno of socket() (it then exits).
// 2. The program sends one StartRequest followed by its filter: the interface
//    index, the ring's shape and a classic BPF program. Nothing in it is text.
//    The one descriptor that comes with it is the output ring: a memfd of
//    kRingHeaderBytes + bufferBytes, sealed against shrinking and growing.
// 3. The helper sets up the capture, maps the output ring, gives up every
//    capability, locks itself down and sends a second Reply: 0, or the errno
//    of the step that failed (it then exits with that step's status).
// 4. From then on it writes a pcapng stream into the output ring: a section
//    header, one interface description (LINKTYPE_IPV4, nanosecond times), an
//    enhanced packet block per datagram with the kernel's arrival time, and an
//    interface statistics block with the kernel's drop count whenever that
//    count changes and before it ends because the interface went away. Each
//    write is published by moving RingHeader::head; a program that said it
//    was waiting gets a one-byte message on the channel. The program gives
//    room back by moving RingHeader::tail; the helper only reads that word,
//    and a tail that could not be ends the stream.
// It ends when the channel closes (the program closed it, exited or was
// killed) or the interface goes away; when the program only shuts its
// sending side, the helper writes a last statistics block and ends. The
// helper never sends a descriptor. Every other message is refused.
//
// The ring is a memfd rather than the channel itself because every datagram
// through a socket costs a copy in and a copy out of the kernel and buffers
// allocated and freed per message: 0.4 µs of the 1.5 µs of capture CPU per
// 1,400-byte datagram at 100,000 per second, measured before the change.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace quorvane::capturehelper {

/// "QVC2": first word of every request and reply.
constexpr std::uint32_t kMagic = 0x51564332;
/// The only request: start capturing.
constexpr std::uint32_t kStartCapture = 2;

struct Reply {
    std::uint32_t magic;
    std::int32_t error;  ///< 0, or the errno of the step that failed
};

struct StartRequest {
    std::uint32_t magic;
    std::uint32_t kind;
    std::int32_t interfaceIndex;
    std::uint32_t blockSize;       ///< ring block bytes: a power of two, kMinBlockSize to kMaxBlockSize
    std::uint32_t blockCount;      ///< kMinBlockCount to kMaxBlockCount, at most kMaxRingBytes in all
    std::uint32_t blockTimeoutMs;  ///< 1 to 1000
    std::uint32_t bufferBytes;     ///< the output ring's data bytes: kMinBuffer to kMaxBuffer, a multiple of kRingHeaderBytes
    std::uint32_t filterLength;    ///< instructions that follow, at most kMaxFilterLength
};

/// One classic BPF instruction (the kernel's sock_filter, libpcap's bpf_insn).
struct FilterInstruction {
    std::uint16_t code;
    std::uint8_t jt;
    std::uint8_t jf;
    std::uint32_t k;
};

constexpr std::uint32_t kMinBlockSize = 1u << 16;
constexpr std::uint32_t kMaxBlockSize = 1u << 22;
constexpr std::uint32_t kMinBlockCount = 2;
constexpr std::uint32_t kMaxBlockCount = 4096;
constexpr std::uint64_t kMaxRingBytes = 256ull << 20;
constexpr std::uint32_t kMinBuffer = 1u << 20;
constexpr std::uint32_t kMaxBuffer = 256u << 20;
/// The kernel takes 4096 instructions; the helper puts four of its own first.
constexpr std::uint32_t kMaxFilterLength = 4092;

/// The start of the output ring; the data follow it. 64 KiB: a whole number
/// of pages on every page size the kernel has.
constexpr std::size_t kRingHeaderBytes = 1u << 16;

/// The words the two ends share, each on a cache line of its own. Counts run
/// from the start of the stream and never wrap; byte n of the stream is at
/// data offset n % bufferBytes.
struct RingHeader {
    alignas(64) std::uint64_t head;     ///< stream bytes written (the helper's)
    alignas(64) std::uint64_t tail;     ///< stream bytes read (the program's)
    alignas(64) std::uint32_t waiting;  ///< non-zero: the program waits for a message
};
static_assert(sizeof(RingHeader) <= kRingHeaderBytes);

/// Bytes of address space a mapped ring of dataBytes takes (see MapRing).
constexpr std::size_t RingMappingBytes(std::size_t dataBytes) { return kRingHeaderBytes + 2 * dataBytes; }

/// Maps a ring's header and data, and the data once more right after them,
/// so that every block is contiguous wherever it starts. Null on failure;
/// munmap with RingMappingBytes(dataBytes) releases it.
inline std::uint8_t* MapRing(int fd, std::size_t dataBytes) {
    const std::size_t size = RingMappingBytes(dataBytes);
    void* area = mmap(nullptr, size, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (area == MAP_FAILED) return nullptr;
    auto* base = static_cast<std::uint8_t*>(area);
    if (mmap(base, kRingHeaderBytes + dataBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0) == MAP_FAILED ||
        mmap(base + kRingHeaderBytes + dataBytes, dataBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd,
             static_cast<off_t>(kRingHeaderBytes)) == MAP_FAILED) {
        munmap(base, size);
        return nullptr;
    }
    return base;
}

/// pcapng link type of the stream: raw IPv4, the IPv4 header first.
constexpr std::uint16_t kLinkTypeIPv4 = 228;

/// How long the program waits for each reply.
constexpr int kTimeoutMs = 5000;

/// The helper's exit statuses.
enum ExitStatus : int {
    kChannelClosed = 0,  ///< the program closed the channel (or never asked)
    kBadArguments = 2,
    kBadChannel = 3,     ///< descriptor 0 is closed, not a seqpacket pair, or another user's
    kNoRequest = 4,      ///< the channel failed before a request came
    kBadRequest = 5,     ///< wrong size, magic, kind or bounds, or not one sound ring attached
    kReplyFailed = 6,
    kSocketFailed = 7,   ///< socket() failed; its errno was sent back
    kBindFailed = 8,     ///< no such interface, or bind() failed
    kFilterRefused = 9,  ///< the kernel refused the filter
    kRingFailed = 10,    ///< the receive ring could not be set up
    kSetupFailed = 11,   ///< loopback or promiscuous set-up, or mapping the ring, failed
    kLockdownFailed = 12,///< dropping capabilities or installing seccomp failed
    kInterfaceGone = 13, ///< the interface went away; the stream ended with statistics
    kStreamFailed = 14,  ///< the packet socket or the channel failed otherwise, or the ring's tail went wrong
};

/// The helper's file name; installed under <prefix>/libexec/quorvane/.
constexpr const char* kHelperName = "quorvane-capture";

}  // namespace quorvane::capturehelper
