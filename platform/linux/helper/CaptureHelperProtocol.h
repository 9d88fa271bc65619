// The conversation between the program and its capture helper, the only file
// that holds CAP_NET_RAW. The program starts the helper with no arguments, an
// empty environment and one end of an AF_UNIX SOCK_SEQPACKET socket pair as
// descriptor 0 (nothing else inherited).
//
// 1. The helper opens its packet socket and sends a Reply: error 0, or the
//    errno of socket() (it then exits).
// 2. The program sends one StartRequest followed by its filter: the interface
//    index, the ring's shape and a classic BPF program. Nothing in it is text.
// 3. The helper sets up the capture, gives up every capability, locks itself
//    down and sends a second Reply: 0, or the errno of the step that failed
//    (it then exits with that step's status).
// 4. From then on it writes a pcapng stream, in messages of at most
//    kMaxMessage bytes: a section header, one interface description
//    (LINKTYPE_IPV4, nanosecond times), an enhanced packet block per datagram
//    with the kernel's arrival time, and an interface statistics block with the
//    kernel's drop count whenever that count changes and before it ends
//    because the interface went away.
// It ends when the channel closes (the program closed it, exited or was
// killed) or the interface goes away; when the program only shuts its
// sending side, the helper sends a last statistics block and what it holds
// before it ends. Every other message is refused.
#pragma once

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
    std::uint32_t bufferBytes;     ///< the helper's buffer for a stalled program, kMinBuffer to kMaxBuffer
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
/// The largest stream message the helper sends.
constexpr std::uint32_t kMaxMessage = 1u << 18;

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
    kBadRequest = 5,     ///< wrong size, magic, kind or bounds, or descriptors attached
    kReplyFailed = 6,
    kSocketFailed = 7,   ///< socket() failed; its errno was sent back
    kBindFailed = 8,     ///< no such interface, or bind() failed
    kFilterRefused = 9,  ///< the kernel refused the filter
    kRingFailed = 10,    ///< the receive ring could not be set up
    kSetupFailed = 11,   ///< loopback or promiscuous set-up failed
    kLockdownFailed = 12,///< dropping capabilities or installing seccomp failed
    kInterfaceGone = 13, ///< the interface went away; the stream ended with statistics
    kStreamFailed = 14,  ///< the packet socket or the channel failed otherwise
};

/// The helper's file name; installed under <prefix>/libexec/quorvane/.
constexpr const char* kHelperName = "quorvane-capture";

}  // namespace quorvane::capturehelper
