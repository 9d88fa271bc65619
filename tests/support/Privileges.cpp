// Probing for the capture and namespace privileges, and dropping CAP_NET_RAW
// through the raw capability system calls (no libcap needed).
#include "tests/support/Privileges.h"

#include <grp.h>
#include <linux/capability.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace testsupport {

namespace {
std::string Describe(const char* what, int error) { return std::string(what) + ": " + std::strerror(error); }
}  // namespace

bool Privileges::CanCapture(std::string* reason) {
    int fd = ::socket(AF_PACKET, SOCK_DGRAM, 0);
    if (fd < 0) {
        if (reason) *reason = Describe("packet sockets need CAP_NET_RAW (run as root)", errno);
        return false;
    }
    close(fd);
    return true;
}

bool Privileges::CanIsolate(std::string* reason) {
    // Probe in a throw-away child so this process stays in its namespaces.
    pid_t child = fork();
    if (child < 0) {
        if (reason) *reason = Describe("fork", errno);
        return false;
    }
    if (child == 0) _exit(unshare(CLONE_NEWNET | CLONE_NEWNS) == 0 ? 0 : 1);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    bool allowed = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!allowed && reason) *reason = "creating network and mount namespaces needs CAP_SYS_ADMIN (run as root)";
    return allowed;
}

bool Privileges::DropNetRaw(std::string* reason) {
    if (prctl(PR_CAPBSET_DROP, CAP_NET_RAW, 0, 0, 0) != 0 && errno != EINVAL) {
        if (reason) *reason = Describe("PR_CAPBSET_DROP", errno);
        return false;
    }
    prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_LOWER, CAP_NET_RAW, 0, 0);
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (syscall(SYS_capget, &header, data) != 0) {
        if (reason) *reason = Describe("capget", errno);
        return false;
    }
    const unsigned bit = 1u << (CAP_NET_RAW % 32);
    auto& word = data[CAP_NET_RAW / 32];
    word.effective &= ~bit;
    word.permitted &= ~bit;
    word.inheritable &= ~bit;
    if (syscall(SYS_capset, &header, data) != 0) {
        if (reason) *reason = Describe("capset", errno);
        return false;
    }
    return true;
}

bool Privileges::BecomeUser(unsigned uid, unsigned gid, std::string* reason) {
    if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0) {
        if (reason) *reason = Describe("becoming an ordinary user", errno);
        return false;
    }
    return true;
}

}  // namespace testsupport
