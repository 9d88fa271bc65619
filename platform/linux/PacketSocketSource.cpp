// Where capture sockets come from. A process that holds CAP_NET_RAW in its
// effective set (root) creates the packet socket itself; any other process
// asks the capture-socket helper, the one installed file with that
// capability, and receives the descriptor over a socket pair. The helper is
// started with no arguments, an empty environment, default signal handling
// and no descriptor but its end of the pair; every wait on it is bounded, it
// is always reaped, and no descriptor of the exchange outlives the call.
#include <chrono>
#include <climits>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "platform/TestHooks.h"
#include "platform/linux/Internal.h"
#include "platform/linux/helper/CaptureHelperProtocol.h"

// System headers after the layer's own (see AddressList.cpp).
#include <fcntl.h>
#include <linux/capability.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>

namespace win::detail {

namespace {
namespace protocol = quorvane::capturehelper;
using Clock = std::chrono::steady_clock;

struct Settings {
    win::testing::PacketSocketSource source = win::testing::PacketSocketSource::Automatic;
    std::string helperPath;  // empty: next to the executable
    int timeoutMs = protocol::kTimeoutMs;
};
std::mutex g_settingsMutex;
Settings g_settings;

Settings CurrentSettings() {
    std::lock_guard lock(g_settingsMutex);
    return g_settings;
}

bool HoldsNetRaw() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) return false;
    return (data[CAP_NET_RAW / 32].effective & (1u << (CAP_NET_RAW % 32))) != 0;
}

// <dir of the executable>/../libexec/quorvane/<helper>: bin/ and libexec/
// side by side when installed, app/ and libexec/ in the build tree.
std::string DefaultHelperPath() {
    char self[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0) return {};
    std::string path(self, static_cast<std::size_t>(length));
    path.erase(path.rfind('/') + 1);
    return path + "../libexec/quorvane/" + protocol::kHelperName;
}

int RemainingMs(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for the helper to end until the deadline, then kills it; always reaps.
void Reap(pid_t pid, Clock::time_point deadline) {
    int status;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) return;
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

bool IsPacketSocket(int fd) {
    int domain = -1, type = -1;
    socklen_t length = sizeof domain;
    if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &length) != 0) return false;
    length = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0) return false;
    return domain == AF_PACKET && type == SOCK_DGRAM;
}

// Reads the helper's reply: 0 and *fd, the errno of the helper's socket(),
// or EACCES for anything else (silence past the deadline, a broken reply):
// the process then has no way to capture. Every descriptor that came with
// the reply and is not handed out is closed.
int ReadReply(int channel, Clock::time_point deadline, int* fd) {
    pollfd wait{channel, POLLIN, 0};
    int ready;
    while ((ready = poll(&wait, 1, RemainingMs(deadline))) < 0 && errno == EINTR) {
    }
    if (ready <= 0) return EACCES;

    unsigned char bytes[sizeof(protocol::Reply) + 1];
    iovec part{bytes, sizeof bytes};
    alignas(cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t count = recvmsg(channel, &message, MSG_CMSG_CLOEXEC | MSG_DONTWAIT);
    if (count < 0) return EACCES;

    int received[8];
    int receivedCount = 0;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        std::size_t n = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < n && receivedCount < 8; ++i)
            std::memcpy(&received[receivedCount++], CMSG_DATA(c) + i * sizeof(int), sizeof(int));
    }
    auto closeReceived = [&](int keep) {
        for (int i = 0; i < receivedCount; ++i)
            if (received[i] != keep) close(received[i]);
    };

    protocol::Reply reply{};
    bool wellFormed = count == static_cast<ssize_t>(sizeof reply) && (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) == 0;
    if (wellFormed) std::memcpy(&reply, bytes, sizeof reply);
    wellFormed = wellFormed && reply.magic == protocol::kMagic;
    if (wellFormed && reply.error != 0 && receivedCount == 0) return reply.error;
    if (!wellFormed || reply.error != 0 || receivedCount != 1 || !IsPacketSocket(received[0])) {
        closeReceived(-1);
        return EACCES;  // a helper that says anything else is not one to trust
    }
    *fd = received[0];
    return 0;
}

int AskHelper(const Settings& settings, int* fd) {
    std::string path = settings.helperPath.empty() ? DefaultHelperPath() : settings.helperPath;
    if (path.empty()) return EACCES;
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, pair) != 0) return errno;
    // The child's end becomes descriptor 0; it must not already be one of 0-2,
    // where dup2 onto itself would leave it close-on-exec.
    if (pair[1] <= 2) {
        int moved = fcntl(pair[1], F_DUPFD_CLOEXEC, 3);
        int error = errno;
        close(pair[1]);
        if (moved < 0) {
            close(pair[0]);
            return error;
        }
        pair[1] = moved;
    }

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pair[1], 0);
    posix_spawn_file_actions_addclosefrom_np(&actions, 1);
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    char name[] = "quorvane-capture";
    char* arguments[] = {name, nullptr};
    char* environment[] = {nullptr};
    pid_t pid = -1;
    int spawned = posix_spawn(&pid, path.c_str(), &actions, &attributes, arguments, environment);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    close(pair[1]);
    if (spawned != 0) {
        close(pair[0]);
        // No helper, or one this user may not run: the user may not capture.
        return spawned == ENOENT || spawned == EACCES || spawned == EPERM ? EACCES : spawned;
    }

    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(settings.timeoutMs);
    protocol::Request request{protocol::kMagic, protocol::kOpenPacketSocket};
    int result = send(pair[0], &request, sizeof request, MSG_NOSIGNAL | MSG_DONTWAIT) == sizeof request
                     ? ReadReply(pair[0], deadline, fd)
                     : EACCES;
    close(pair[0]);
    Reap(pid, deadline);
    return result;
}
}  // namespace

int OpenPacketSocket(int* fd) {
    *fd = -1;
    Settings settings = CurrentSettings();
    using win::testing::PacketSocketSource;
    bool direct = settings.source == PacketSocketSource::Direct ||
                  (settings.source == PacketSocketSource::Automatic && HoldsNetRaw());
    if (!direct) return AskHelper(settings, fd);
    // Datagram mode delivers from the network header on, without the link
    // header. Protocol 0: nothing is delivered until SIO_RCVALL names one.
    *fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    return *fd < 0 ? errno : 0;
}

}  // namespace win::detail

namespace win::testing {
void SetPacketSocketSource(PacketSocketSource source, const char* helperPath, int timeoutMs) {
    std::lock_guard lock(win::detail::g_settingsMutex);
    win::detail::g_settings.source = source;
    win::detail::g_settings.helperPath = helperPath != nullptr ? helperPath : "";
    win::detail::g_settings.timeoutMs = timeoutMs > 0 ? timeoutMs : quorvane::capturehelper::kTimeoutMs;
}
}  // namespace win::testing
