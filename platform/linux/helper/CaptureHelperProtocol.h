// The conversation between the program and its capture-socket helper, the
// only file that holds CAP_NET_RAW. The program starts the helper with no
// arguments, an empty environment and one end of an AF_UNIX SOCK_SEQPACKET
// socket pair as descriptor 0 (nothing else inherited). It sends one request;
// the helper creates one packet socket (AF_PACKET, SOCK_DGRAM, protocol 0),
// answers with one reply carrying the descriptor (SCM_RIGHTS) or the errno of
// socket(), and exits. Anything else on the socket is refused.
#pragma once

#include <cstdint>

namespace quorvane::capturehelper {

/// "QVC1": first word of every request and reply.
constexpr std::uint32_t kMagic = 0x51564331;
/// The only request: an unbound packet socket in datagram mode, protocol 0.
constexpr std::uint32_t kOpenPacketSocket = 1;

struct Request {
    std::uint32_t magic;
    std::uint32_t kind;
};

struct Reply {
    std::uint32_t magic;
    std::int32_t error;  ///< 0 with one descriptor attached, else the errno of socket()
};

/// How long either side waits for the other before giving up.
constexpr int kTimeoutMs = 5000;

/// The helper's exit statuses: 0 only when a socket was handed over.
enum ExitStatus : int {
    kHandedOver = 0,
    kBadArguments = 2,
    kBadChannel = 3,     ///< descriptor 0 is closed, not a seqpacket pair, or another user's
    kNoRequest = 4,      ///< peer closed or stayed silent past the timeout
    kBadRequest = 5,     ///< wrong size, magic or kind, or descriptors attached
    kReplyFailed = 6,
    kSocketFailed = 7,   ///< socket() failed; its errno was sent back
};

/// The helper's file name; installed under <prefix>/libexec/quorvane/.
constexpr const char* kHelperName = "quorvane-capture";

}  // namespace quorvane::capturehelper
