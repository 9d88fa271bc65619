// A capture-socket helper that misbehaves on purpose, for the tests of the
// program's side of the exchange. The test copies it under the name of the
// behaviour wanted; the name of the running file picks the behaviour:
//   silent           reads nothing and sleeps (the caller must time out and kill it)
//   exit             exits at once
//   garbage          answers with three bytes
//   no-descriptor    says success but attaches nothing
//   pipe-descriptor  says success and attaches a pipe
//   two-descriptors  says success and attaches two packet-less descriptors
//   refuse           answers EPERM without a descriptor
//   inspect          writes what it was started with to "report" beside itself, then refuses
#include <dirent.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/linux/helper/CaptureHelperProtocol.h"

extern char** environ;

namespace {
using namespace quorvane::capturehelper;

void Send(const void* bytes, std::size_t size, const int* fds, int count) {
    iovec part{const_cast<void*>(bytes), size};
    alignas(cmsghdr) char control[CMSG_SPACE(2 * sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    if (count > 0) {
        message.msg_control = control;
        message.msg_controllen = CMSG_SPACE(count * sizeof(int));
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = SOL_SOCKET;
        c->cmsg_type = SCM_RIGHTS;
        c->cmsg_len = CMSG_LEN(count * sizeof(int));
        std::memcpy(CMSG_DATA(c), fds, count * sizeof(int));
    }
    sendmsg(0, &message, MSG_NOSIGNAL);
}

std::string Inspect(int argc) {
    std::string report = "arguments " + std::to_string(argc) + "\n";
    int variables = 0;
    for (char** v = environ; *v != nullptr; ++v) ++variables;
    report += "environment " + std::to_string(variables) + "\n";
    int type = -1;
    socklen_t length = sizeof type;
    getsockopt(0, SOL_SOCKET, SO_TYPE, &type, &length);
    report += std::string("channel ") + (type == SOCK_SEQPACKET ? "seqpacket" : "other") + "\n";
    report += "descriptors";
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == dirfd(dir)) continue;
            report += std::string(" ") + entry->d_name;
        }
        closedir(dir);
    }
    sigset_t blocked;
    sigprocmask(SIG_BLOCK, nullptr, &blocked);
    report += std::string("\nblocked ") + (sigisemptyset(&blocked) ? "none" : "some") + "\n";
    return report;
}
}  // namespace

int main(int argc, char**) {
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;
    std::string path(self);
    std::string mode = path.substr(path.rfind('/') + 1);
    Request request{};
    if (mode != "silent" && mode != "exit") read(0, &request, sizeof request);

    Reply success{kMagic, 0};
    Reply refusal{kMagic, EPERM};
    if (mode == "silent") {
        sleep(30);
    } else if (mode == "garbage") {
        Send("abc", 3, nullptr, 0);
    } else if (mode == "no-descriptor") {
        Send(&success, sizeof success, nullptr, 0);
    } else if (mode == "pipe-descriptor") {
        int fds[2];
        if (pipe(fds) != 0) return 1;
        Send(&success, sizeof success, fds, 1);
    } else if (mode == "two-descriptors") {
        int fds[2];
        if (pipe(fds) != 0) return 1;
        Send(&success, sizeof success, fds, 2);
    } else if (mode == "refuse") {
        Send(&refusal, sizeof refusal, nullptr, 0);
    } else if (mode == "inspect") {
        std::string report = Inspect(argc);  // before the report's own descriptor opens
        std::ofstream(path.substr(0, path.rfind('/') + 1) + "report") << report;
        Send(&refusal, sizeof refusal, nullptr, 0);
    }
    return 1;
}
