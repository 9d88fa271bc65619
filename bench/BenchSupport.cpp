// POSIX side of the capture benchmarks: the flood sender, tcpdump and /proc.
#include "bench/BenchSupport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = Loopback(port);
    std::vector<char> bytes(static_cast<std::size_t>(payload), 'x');
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        if (perSecond > 0 && i % 100 == 0) {
            const auto due = start + std::chrono::nanoseconds(static_cast<long long>(i) * 1000000000LL / perSecond);
            std::this_thread::sleep_until(due);
        }
        ::sendto(fd, bytes.data(), bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(fd);
    return seconds;
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

TcpdumpRun::TcpdumpRun(unsigned short port)
{
    char log[] = "/tmp/qv-tcpdump-XXXXXX";
    const int fd = ::mkstemp(log);
    m_sLog = log;
    const std::string filter = "udp dst port " + std::to_string(port);
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(fd, 2);
        ::dup2(fd, 1);
        ::execlp("tcpdump", "tcpdump", "-i", "lo", "-n", "-w", "/dev/null", filter.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(fd);
    // tcpdump needs a moment to open its ring and apply the filter.
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
}

TcpdumpRun::~TcpdumpRun()
{
    if (m_pid > 0) {
        Finish();
    }
    if (!m_sLog.empty()) {
        ::unlink(m_sLog.c_str());
    }
}

long TcpdumpRun::Finish()
{
    if (m_pid <= 0) {
        return -1;
    }
    // Without immediate mode tcpdump takes ring blocks only when they fill or
    // time out; give the last block time to arrive before stopping it.
    std::this_thread::sleep_for(std::chrono::milliseconds(2000));
    ::kill(m_pid, SIGINT);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    std::ifstream in(m_sLog);
    std::string line;
    long captured = -1;
    while (std::getline(in, line)) {
        // sscanf would report a match for the number before any mismatching
        // words, so the line is recognised by its words first.
        const long n = std::atol(line.c_str());
        if (line.find(" packets captured") != std::string::npos) {
            captured = n;
        } else if (line.find(" packets dropped by kernel") != std::string::npos) {
            m_nDropped = n;
        }
    }
    return captured;
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
