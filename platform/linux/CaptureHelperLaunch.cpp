// Starting and ending the capture helper, the one installed file that may
// open packet sockets. Every capture, root's included, goes through it: the
// program never holds a packet socket. The helper is started with no
// arguments, an empty environment, default signal handling and no descriptor
// but its end of a socket pair; its first reply says whether it could open its
// socket. Every wait on it is bounded, it is always reaped, and no descriptor
// of the exchange outlives a failure.
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
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>

namespace win::detail {

namespace {
namespace protocol = quorvane::capturehelper;
using Clock = std::chrono::steady_clock;

struct Settings {
    std::string helperPath;  // empty: beside the executable
    int timeoutMs = protocol::kTimeoutMs;
};
std::mutex g_settingsMutex;
Settings g_settings;

Settings CurrentSettings() {
    std::lock_guard lock(g_settingsMutex);
    return g_settings;
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

int Spawn(const std::string& path, int childEnd, pid_t* pid) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, childEnd, 0);
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
    int spawned = posix_spawn(pid, path.c_str(), &actions, &attributes, arguments, environment);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return spawned;
}
}  // namespace

int ReadCaptureHelperReply(int channel, int timeoutMs, int* error) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
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
    // The helper hands over no descriptor: any that came is closed unused.
    bool attached = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
        attached = true;
        for (std::size_t i = 0; i < (c->cmsg_len - CMSG_LEN(0)) / sizeof(int); ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(c) + i * sizeof(int), sizeof fd);
            close(fd);
        }
    }
    protocol::Reply reply{};
    if (attached || count != static_cast<ssize_t>(sizeof reply) || (message.msg_flags & (MSG_TRUNC | MSG_CTRUNC)) != 0)
        return EACCES;  // a helper that says anything else is not one to trust
    std::memcpy(&reply, bytes, sizeof reply);
    if (reply.magic != protocol::kMagic || reply.error < 0) return EACCES;
    *error = reply.error;
    return 0;
}

int StartCaptureHelper(int* channel, int* pid) {
    *channel = -1;
    *pid = -1;
    Settings settings = CurrentSettings();
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
    pid_t child = -1;
    int spawned = Spawn(path, pair[1], &child);
    close(pair[1]);
    if (spawned != 0) {
        close(pair[0]);
        // No helper, or one this user may not run: the user may not capture.
        return spawned == ENOENT || spawned == EACCES || spawned == EPERM ? EACCES : spawned;
    }
    int error = 0;
    int result = ReadCaptureHelperReply(pair[0], settings.timeoutMs, &error);
    if (result == 0 && error != 0) result = error == EPERM ? EACCES : error;
    if (result != 0) {
        close(pair[0]);
        ReapCaptureHelper(child, settings.timeoutMs);
        return result;
    }
    *channel = pair[0];
    *pid = child;
    return 0;
}

int ReapCaptureHelper(int pid, int timeoutMs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 && errno != EINTR) return -1;
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    kill(pid, SIGKILL);
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return -1;
}

int CaptureHelperTimeoutMs() { return CurrentSettings().timeoutMs; }

}  // namespace win::detail

namespace win::testing {
void SetCaptureHelper(const char* helperPath, int timeoutMs) {
    std::lock_guard lock(win::detail::g_settingsMutex);
    win::detail::g_settings.helperPath = helperPath != nullptr ? helperPath : "";
    win::detail::g_settings.timeoutMs = timeoutMs > 0 ? timeoutMs : quorvane::capturehelper::kTimeoutMs;
}
}  // namespace win::testing
