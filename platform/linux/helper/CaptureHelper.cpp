// quorvane-capture: the capture-socket helper. Installed root:quorvane 0750
// with cap_net_raw=ep, it is the only privileged piece of the program. It
// takes no arguments and reads one request from descriptor 0 (see
// CaptureHelperProtocol.h), creates one packet socket, passes it back and
// exits. It writes to no descriptor but descriptor 0 and links nothing but
// the C and C++ runtime. Binding, the receive ring, the filter and
// promiscuous membership are set up later by the unprivileged program.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/linux/helper/CaptureHelperProtocol.h"

using namespace quorvane::capturehelper;

namespace {
constexpr int kChannel = 0;

int SocketOption(int fd, int option) {
    int value = -1;
    socklen_t length = sizeof value;
    if (getsockopt(fd, SOL_SOCKET, option, &value, &length) != 0) return -1;
    return value;
}

// Descriptor 0 must be one end of a seqpacket socket pair whose other end
// belongs to the user who started the helper.
bool ChannelIsSound() {
    if (SocketOption(kChannel, SO_DOMAIN) != AF_UNIX) return false;
    if (SocketOption(kChannel, SO_TYPE) != SOCK_SEQPACKET) return false;
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(kChannel, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return false;
    return peer.pid > 0 && peer.uid == getuid();
}

// Closes descriptors that came with a message: the helper takes none.
void CloseAttached(msghdr* message) {
    for (cmsghdr* c = CMSG_FIRSTHDR(message); c != nullptr; c = CMSG_NXTHDR(message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        std::size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof fd, sizeof fd);
            close(fd);
        }
    }
}

// Waits for the request: 0 when it is exactly the one request, else the exit status.
int ReadRequest() {
    pollfd wait{kChannel, POLLIN, 0};
    int ready;
    while ((ready = poll(&wait, 1, kTimeoutMs)) < 0 && errno == EINTR) {
    }
    if (ready <= 0) return kNoRequest;

    // One byte more than a request, so that a longer message shows.
    unsigned char bytes[sizeof(Request) + 1];
    iovec part{bytes, sizeof bytes};
    alignas(cmsghdr) char control[CMSG_SPACE(8 * sizeof(int))];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t count = recvmsg(kChannel, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    if (count <= 0) return kNoRequest;
    bool attached = message.msg_controllen != 0 || (message.msg_flags & MSG_CTRUNC) != 0;
    CloseAttached(&message);
    if (attached || (message.msg_flags & MSG_TRUNC) != 0 || count != sizeof(Request)) return kBadRequest;
    Request request;
    std::memcpy(&request, bytes, sizeof request);
    if (request.magic != kMagic || request.kind != kOpenPacketSocket) return kBadRequest;
    return 0;
}

bool SendReply(int error, int fd) {
    Reply reply{kMagic, error};
    iovec part{&reply, sizeof reply};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (fd >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(sizeof fd);
        std::memcpy(CMSG_DATA(c), &fd, sizeof fd);
    }
    ssize_t sent;
    while ((sent = sendmsg(kChannel, &message, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return sent == static_cast<ssize_t>(sizeof reply);
}
}  // namespace

int main(int argc, char**) {
    if (argc != 1) return kBadArguments;
    if (!ChannelIsSound()) return kBadChannel;
    if (int refused = ReadRequest()) return refused;

    // Datagram mode delivers from the network header on; protocol 0 delivers
    // nothing until the program binds the socket with a protocol.
    int fd = socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int error = fd < 0 ? errno : 0;
    if (!SendReply(error, fd)) return kReplyFailed;
    return fd < 0 ? kSocketFailed : kHandedOver;
}
