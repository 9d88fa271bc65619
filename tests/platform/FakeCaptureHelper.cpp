// A capture helper that misbehaves on purpose, for the tests of the
// program's side of the exchange. The test copies it under the name of the
// behaviour wanted; the name of the running file picks the behaviour:
//   silent           reads nothing and sleeps (the caller must time out and kill it)
//   exit             exits at once
//   garbage          answers with three bytes
//   pipe-descriptor  says ready and attaches a pipe (the helper hands over none)
//   two-descriptors  says ready and attaches two
//   refuse           answers EPERM, as a helper without the capability does
//   inspect          writes what it was started with to "report" beside itself, then refuses
//   stream-garbage   accepts the capture, then streams bytes that are no pcapng
//   stream-huge      accepts the capture, then a section header and a block claiming 1 GiB
//   stream-head-past accepts the capture, then claims to have written more than the ring holds
//   stream-then-exit accepts the capture, streams one datagram and exits with status 13
//                    (the interface went away)
// The streams go into the output ring that comes with the request.
#include <dirent.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

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

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&value);
    out.insert(out.end(), bytes, bytes + 4);
}

// A section header and an interface description of raw IPv4, microseconds.
std::vector<std::uint8_t> Headers() {
    std::vector<std::uint8_t> out;
    for (std::uint32_t word : {0x0A0D0D0Au, 28u, 0x1A2B3C4Du, 1u, 0xFFFFFFFFu, 0xFFFFFFFFu, 28u}) Put32(out, word);
    for (std::uint32_t word : {1u, 20u, std::uint32_t{kLinkTypeIPv4}, 65535u, 20u}) Put32(out, word);
    return out;
}
}  // namespace

int main(int argc, char**) {
    char self[PATH_MAX] = {};
    if (readlink("/proc/self/exe", self, sizeof self - 1) <= 0) return 1;
    std::string path(self);
    std::string mode = path.substr(path.rfind('/') + 1);

    Reply ready{kMagic, 0};
    Reply refusal{kMagic, EPERM};
    if (mode == "silent") {
        sleep(30);
    } else if (mode == "garbage") {
        Send("abc", 3, nullptr, 0);
    } else if (mode == "pipe-descriptor" || mode == "two-descriptors") {
        int fds[2];
        if (pipe(fds) != 0) return 1;
        Send(&ready, sizeof ready, fds, mode == "pipe-descriptor" ? 1 : 2);
        sleep(1);
    } else if (mode == "refuse") {
        Send(&refusal, sizeof refusal, nullptr, 0);
    } else if (mode == "inspect") {
        std::string report = Inspect(argc);  // before the report's own descriptor opens
        std::ofstream(path.substr(0, path.rfind('/') + 1) + "report") << report;
        Send(&refusal, sizeof refusal, nullptr, 0);
    } else if (mode.rfind("stream-", 0) == 0) {
        Send(&ready, sizeof ready, nullptr, 0);
        StartRequest request{};
        std::vector<char> bytes(1 << 16);
        iovec part{bytes.data(), bytes.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        msghdr message{};
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* attached = CMSG_FIRSTHDR(&message);
        if (recvmsg(0, &message, 0) < static_cast<ssize_t>(sizeof request) || attached == nullptr) return 1;
        std::memcpy(&request, bytes.data(), sizeof request);
        int ringFd;
        std::memcpy(&ringFd, CMSG_DATA(attached), sizeof ringFd);
        std::uint8_t* ring = MapRing(ringFd, request.bufferBytes);
        if (ring == nullptr) return 1;
        Send(&ready, sizeof ready, nullptr, 0);
        std::vector<std::uint8_t> out = Headers();
        if (mode == "stream-garbage") {
            out.assign(4096, 0x5A);
        } else if (mode == "stream-huge") {
            Put32(out, 6);
            Put32(out, 1u << 30);
            out.resize(out.size() + 4096);
        } else if (mode == "stream-then-exit") {
            // One 28-byte UDP datagram 127.0.0.1 -> 127.0.0.1, arrived at 1 000 000.5 s.
            for (std::uint32_t word : {6u, 60u, 0u}) Put32(out, word);
            Put32(out, static_cast<std::uint32_t>(1000000500000ull >> 32));
            Put32(out, static_cast<std::uint32_t>(1000000500000ull));
            Put32(out, 28);
            Put32(out, 28);
            const std::uint8_t datagram[28] = {0x45, 0, 0, 28, 0, 0, 0, 0, 64, 17, 0, 0, 127, 0, 0, 1,
                                               127, 0, 0, 1, 0, 9, 0, 9, 0, 8, 0, 0};
            out.insert(out.end(), datagram, datagram + sizeof datagram);
            Put32(out, 60);
        }
        std::memcpy(ring + kRingHeaderBytes, out.data(), out.size());
        const std::uint64_t head = mode == "stream-head-past" ? request.bufferBytes + 1ull : out.size();
        __atomic_store_n(&reinterpret_cast<RingHeader*>(ring)->head, head, __ATOMIC_SEQ_CST);
        Send("\1", 1, nullptr, 0);
        if (mode == "stream-then-exit") return kInterfaceGone;
        sleep(30);
    }
    return 1;
}
