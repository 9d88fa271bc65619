// POSIX side of the capture benchmarks: the flood sender, tcpdump and /proc.
#include "bench/BenchSupport.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <thread>
#include <vector>

namespace bench {

namespace {

sockaddr_in Loopback(unsigned short port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

}  // namespace

double FloodLoopback(unsigned short port, int count, int payload, int perSecond)
{
    // Datagrams go out in groups of kGroup per system call (sendmmsg), so the
    // sender is cheap and its full rate high; pacing is checked per group.
    constexpr int kGroup = 50;
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in to = Loopback(port);
    std::vector<char> bytes(static_cast<std::size_t>(payload), 'x');
    iovec piece{bytes.data(), bytes.size()};
    mmsghdr messages[kGroup]{};
    for (mmsghdr& message : messages) {
        message.msg_hdr.msg_name = &to;
        message.msg_hdr.msg_namelen = sizeof to;
        message.msg_hdr.msg_iov = &piece;
        message.msg_hdr.msg_iovlen = 1;
    }
    const auto start = std::chrono::steady_clock::now();
    for (int sent = 0; sent < count;) {
        if (perSecond > 0) {
            const auto due = start + std::chrono::nanoseconds(static_cast<long long>(sent) * 1000000000LL / perSecond);
            std::this_thread::sleep_until(due);
        }
        const int group = std::min(kGroup, count - sent);
        const int done = ::sendmmsg(fd, messages, static_cast<unsigned>(group), 0);
        // A failed send (no buffer space) still counts, so the loop ends.
        sent += done > 0 ? done : group;
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(fd);
    return seconds;
}

long long SteadyNanoseconds()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

void SendStamped(unsigned short port, int count, int perSecond)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = Loopback(port);
    char payload[64] = {};
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_until(start + std::chrono::nanoseconds(static_cast<long long>(i) * 1000000000LL / perSecond));
        const long long now = SteadyNanoseconds();
        std::memcpy(payload, &now, sizeof now);
        ::sendto(fd, payload, sizeof payload, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    ::close(fd);
}

UdpSink::UdpSink() : m_fd(::socket(AF_INET, SOCK_DGRAM, 0))
{
    sockaddr_in address = Loopback(0);
    ::bind(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&address), &length);
    m_wPort = ntohs(address.sin_port);
}

UdpSink::~UdpSink()
{
    ::close(m_fd);
}

PeerCapture::PeerCapture(Tool tool, const std::string& filter) : m_tool(tool)
{
    char log[] = "/tmp/qv-peer-XXXXXX";
    const int fd = ::mkstemp(log);
    m_sLog = log;
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(fd, 2);
        ::dup2(fd, 1);
        if (tool == Tool::Tcpdump) {
            ::execlp("tcpdump", "tcpdump", "-i", "lo", "-n", "-w", "/dev/null", filter.c_str(),
                     static_cast<char*>(nullptr));
        } else {
            ::execlp("dumpcap", "dumpcap", "-i", "lo", "-q", "-w", "/dev/null", "-f", filter.c_str(),
                     static_cast<char*>(nullptr));
        }
        ::_exit(127);
    }
    ::close(fd);
    // The program needs a moment to open its ring and apply the filter.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
}

PeerCapture::~PeerCapture()
{
    if (m_pid > 0) {
        Finish();
    }
    if (!m_sLog.empty()) {
        ::unlink(m_sLog.c_str());
    }
}

long PeerCapture::Finish()
{
    if (m_pid <= 0) {
        return -1;
    }
    ::kill(m_pid, SIGINT);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    std::ifstream in(m_sLog);
    std::string line;
    long captured = -1;
    while (std::getline(in, line)) {
        // sscanf would report a match for the number before any mismatching
        // words, so each line is recognised by its words first.
        if (m_tool == Tool::Tcpdump) {
            const long n = std::atol(line.c_str());
            if (line.find(" packets captured") != std::string::npos) {
                captured = n;
            } else if (line.find(" packets dropped by kernel") != std::string::npos) {
                m_nDropped = n;
            }
        } else {
            // "Packets captured: N" and "Packets received/dropped on interface 'lo': R/D (...)".
            const std::string capturedTag = "Packets captured: ";
            const std::size_t at = line.find(capturedTag);
            if (at != std::string::npos) {
                captured = std::atol(line.c_str() + at + capturedTag.size());
            } else if (line.rfind("Packets received/dropped", 0) == 0) {
                const std::size_t slash = line.find('/', line.find("': "));
                if (slash != std::string::npos) {
                    m_nDropped = std::atol(line.c_str() + slash + 1);
                }
            }
        }
    }
    return captured;
}

long long CpuNanoseconds(int pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = ::opendir(tasks.c_str());
    if (dir == nullptr) {
        return -1;
    }
    long long total = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::ifstream in(tasks + "/" + entry->d_name + "/schedstat");
        long long onCpu = 0;
        if (in >> onCpu) {
            total += onCpu;
        }
    }
    ::closedir(dir);
    return total;
}

bool EnterPrivateLoopback()
{
    if (::unshare(CLONE_NEWNET) != 0) {
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, "lo", IFNAMSIZ - 1);
    bool up = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    up = up && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    ::close(fd);
    return up;
}

bool ReadAll(int fd, void* data, std::size_t size)
{
    auto* bytes = static_cast<char*>(data);
    while (size > 0) {
        const ssize_t n = ::read(fd, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool WriteAll(int fd, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

ChildProcess::ChildProcess(const std::function<int(int commandFd, int replyFd)>& body)
{
    int command[2];
    int reply[2];
    if (::pipe(command) != 0) {
        return;
    }
    if (::pipe(reply) != 0) {
        ::close(command[0]);
        ::close(command[1]);
        return;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        ::close(command[1]);
        ::close(reply[0]);
        ::_exit(body(command[0], reply[1]));
    }
    ::close(command[0]);
    ::close(reply[1]);
    m_commandFd = command[1];
    m_replyFd = reply[0];
}

ChildProcess::~ChildProcess()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        Wait();
    }
    if (m_commandFd >= 0) {
        ::close(m_commandFd);
    }
    if (m_replyFd >= 0) {
        ::close(m_replyFd);
    }
}

bool ChildProcess::Send(char command)
{
    return m_commandFd >= 0 && WriteAll(m_commandFd, &command, 1);
}

bool ChildProcess::Receive(void* data, std::size_t size)
{
    return m_replyFd >= 0 && ReadAll(m_replyFd, data, size);
}

void ChildProcess::Stop()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGSTOP);
    }
}

void ChildProcess::Continue()
{
    if (m_pid > 0) {
        ::kill(m_pid, SIGCONT);
    }
}

int ChildProcess::Wait()
{
    if (m_pid <= 0) {
        return -1;
    }
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

long ResidentBytes()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        long kb = 0;
        if (std::sscanf(line.c_str(), "VmRSS: %ld kB", &kb) == 1) {
            return kb * 1024;
        }
    }
    return -1;
}

}  // namespace bench
