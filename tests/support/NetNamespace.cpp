// Building the private namespaces: unshare for the body's namespace, a forked
// helper with a namespace of its own for the veth peer and its echo service.
// The helper dies with its parent (PR_SET_PDEATHSIG) and when its command pipe
// closes, so nothing outlives the test.
#include "tests/support/NetNamespace.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace testsupport {

namespace {
// The echo service ends on its own after this long, even if nobody tells it.
constexpr int kEchoLifetimeSeconds = 120;

void EnterFreshNetwork() {
    if (unshare(CLONE_NEWNET) != 0)
        ChildProcess::SkipChild(std::string("unshare(CLONE_NEWNET): ") + std::strerror(errno) +
                                " (needs CAP_SYS_ADMIN, run as root)");
    if (!NetNamespace::RunIp({"link", "set", "lo", "up"})) ChildProcess::FailChild("could not bring lo up");
}

bool WriteByte(int fd, char value) { return write(fd, &value, 1) == 1; }

bool ReadByte(int fd, char expected) {
    char value = 0;
    return read(fd, &value, 1) == 1 && value == expected;
}

// Waits until the link has carrier. (/sys shows the namespace that mounted
// it, not ours, so ask the kernel through the interface flags.)
bool WaitRunning(const std::string& name) {
    int probe = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return false;
    bool running = false;
    for (int i = 0; i < 400 && !running; ++i) {
        ifreq request{};
        std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
        running = ioctl(probe, SIOCGIFFLAGS, &request) == 0 && (request.ifr_flags & IFF_RUNNING) != 0;
        if (!running) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    close(probe);
    return running;
}

// Sends every datagram that arrives on the socket back to its sender until the
// command pipe closes or the lifetime ends.
void Echo(int udp, int commands) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(kEchoLifetimeSeconds);
    char buffer[65536];
    while (std::chrono::steady_clock::now() < end) {
        pollfd fds[2] = {{udp, POLLIN, 0}, {commands, POLLIN, 0}};
        if (poll(fds, 2, 100) < 0 && errno != EINTR) return;
        if (fds[1].revents & (POLLIN | POLLHUP)) return;  // EOF: the body is done
        if (fds[0].revents & POLLIN) {
            sockaddr_in from{};
            socklen_t fromLength = sizeof from;
            ssize_t count = recvfrom(udp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (count >= 0) sendto(udp, buffer, static_cast<std::size_t>(count), 0, reinterpret_cast<sockaddr*>(&from), fromLength);
        }
    }
}

// The veth peer: enters a namespace of its own, waits until the parent has
// moved the peer end in, configures it and serves echo.
[[noreturn]] void RunPeer(const NetNamespace::Veth& veth, int commands, int replies, pid_t parent) {
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(1);
    if (unshare(CLONE_NEWNET) != 0) _exit(1);
    WriteByte(replies, 'n');
    if (!ReadByte(commands, 'm')) _exit(1);
    std::string address = veth.peerAddress + "/" + std::to_string(veth.prefixLength);
    if (!NetNamespace::RunIp({"link", "set", "lo", "up"}) ||
        !NetNamespace::RunIp({"addr", "add", address, "dev", veth.peerName}) ||
        !NetNamespace::RunIp({"link", "set", veth.peerName, "up"}))
        _exit(1);
    int udp = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in bound{};
    bound.sin_family = AF_INET;
    bound.sin_port = htons(veth.echoPort);
    inet_pton(AF_INET, veth.peerAddress.c_str(), &bound.sin_addr);
    if (udp < 0 || bind(udp, reinterpret_cast<sockaddr*>(&bound), sizeof bound) != 0) _exit(1);
    WriteByte(replies, 'u');
    Echo(udp, commands);
    _exit(0);
}
}  // namespace

std::vector<std::string> NetNamespace::AddAddresses(const std::string& device, int count) {
    // One ip process for all of them: a batch file of "addr add" lines.
    char name[] = "/tmp/qv-addresses-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0) return {};
    std::vector<std::string> addresses;
    std::string batch;
    for (int i = 0; i < count; ++i) {
        const std::string address = "10." + std::to_string(90 + i / 62500) + "." + std::to_string(i / 250 % 250) +
                                    "." + std::to_string(i % 250 + 1);
        batch += "addr add " + address + "/32 dev " + device + "\n";
        addresses.push_back(address);
    }
    const bool written = write(fd, batch.data(), batch.size()) == static_cast<ssize_t>(batch.size());
    close(fd);
    const bool added = written && RunIp({"-batch", name});
    unlink(name);
    return added ? addresses : std::vector<std::string>{};
}

bool NetNamespace::RunIp(const std::vector<std::string>& arguments) {
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>("ip"));
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, STDOUT_FILENO);
        execvp("ip", argv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool NetNamespace::DeleteLink(const std::string& name) { return RunIp({"link", "del", name}); }

ChildOutcome NetNamespace::RunIsolated(const std::function<void()>& body, int timeoutSeconds) {
    return ChildProcess::Run(
        [&body] {
            EnterFreshNetwork();
            body();
        },
        timeoutSeconds);
}

ChildOutcome NetNamespace::RunWithVeth(const std::function<void(const Veth&)>& body, int timeoutSeconds) {
    return ChildProcess::Run(
        [&body] {
            EnterFreshNetwork();
            Veth veth;
            int commands[2], replies[2];
            if (pipe2(commands, O_CLOEXEC) != 0 || pipe2(replies, O_CLOEXEC) != 0) ChildProcess::FailChild("pipe");
            pid_t self = getpid();
            pid_t peer = fork();
            if (peer < 0) ChildProcess::FailChild("fork");
            if (peer == 0) {
                close(commands[1]);
                close(replies[0]);
                RunPeer(veth, commands[0], replies[1], self);
            }
            close(commands[0]);
            close(replies[1]);
            auto stopPeer = [&] {
                close(commands[1]);
                kill(peer, SIGKILL);
                waitpid(peer, nullptr, 0);
            };
            std::string local = veth.localAddress + "/" + std::to_string(veth.prefixLength);
            bool ready = ReadByte(replies[0], 'n') &&
                         RunIp({"link", "add", veth.localName, "type", "veth", "peer", "name", veth.peerName}) &&
                         RunIp({"link", "set", veth.peerName, "netns", std::to_string(peer)}) &&
                         WriteByte(commands[1], 'm') && RunIp({"addr", "add", local, "dev", veth.localName}) &&
                         RunIp({"link", "set", veth.localName, "up"}) && ReadByte(replies[0], 'u') &&
                         WaitRunning(veth.localName);
            close(replies[0]);
            if (!ready) {
                stopPeer();
                ChildProcess::FailChild("could not set up the veth pair and its peer namespace");
            }
            body(veth);
            stopPeer();
        },
        timeoutSeconds);
}

}  // namespace testsupport
