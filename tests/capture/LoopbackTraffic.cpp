// POSIX sockets for the engine tests' loopback traffic.
#include "LoopbackTraffic.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sched.h>

#include <cstdlib>
#include <thread>
#include <vector>

namespace {

sockaddr_in Loopback(unsigned short port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

unsigned short BoundPort(int fd)
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

}  // namespace

bool IsRoot()
{
    return ::geteuid() == 0;
}

int RunUnprivileged(const std::function<int()>& body)
{
    const pid_t child = ::fork();
    if (child < 0) {
        return 101;
    }
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(102);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 103;
}

UdpPair::UdpPair() : m_receiver(::socket(AF_INET, SOCK_DGRAM, 0)), m_sender(::socket(AF_INET, SOCK_DGRAM, 0))
{
    sockaddr_in address = Loopback(0);
    ::bind(m_receiver, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::bind(m_sender, reinterpret_cast<sockaddr*>(&address), sizeof address);
    m_wPort = BoundPort(m_receiver);
    m_wSenderPort = BoundPort(m_sender);
}

UdpPair::~UdpPair()
{
    ::close(m_receiver);
    ::close(m_sender);
}

void UdpPair::Send(int first, int count)
{
    const sockaddr_in to = Loopback(m_wPort);
    for (int i = first; i < first + count; ++i) {
        std::vector<char> payload(static_cast<std::size_t>(i + 1), static_cast<char>(i));
        ::sendto(m_sender, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
}

TcpExchange::TcpExchange() : m_listener(::socket(AF_INET, SOCK_STREAM, 0))
{
    sockaddr_in address = Loopback(0);
    ::bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(m_listener, 1);
    m_wPort = BoundPort(m_listener);
}

TcpExchange::~TcpExchange()
{
    ::close(m_listener);
}

void TcpExchange::Run()
{
    const int client = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in to = Loopback(m_wPort);
    if (::connect(client, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) {
        const int server = ::accept(m_listener, nullptr, nullptr);
        ::send(client, "hello", 5, 0);
        char buffer[8];
        ::recv(server, buffer, sizeof buffer, 0);
        ::close(server);
    }
    ::close(client);
}

bool RunInVethNamespace(const std::function<void()>& body)
{
    bool ready = false;
    std::thread([&] {
        if (::unshare(CLONE_NEWNET) != 0) {
            return;
        }
        ready = std::system("ip link set lo up && ip link add qv0 type veth peer name qv1 && "
                            "ip addr add 10.200.0.1/24 dev qv0 && ip link set qv0 up && ip link set qv1 up && "
                            "ip neigh add 10.200.0.9 lladdr 02:00:00:00:00:09 dev qv0 nud permanent") == 0;
        if (ready) {
            body();
        }
    }).join();
    return ready;
}

unsigned short SendThroughVeth(unsigned short port, int count)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in from{};
    from.sin_family = AF_INET;
    from.sin_addr.s_addr = ::inet_addr("10.200.0.1");
    ::bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = ::inet_addr("10.200.0.9");
    for (int i = 0; i < count; ++i) {
        std::vector<char> payload(static_cast<std::size_t>(i + 1), static_cast<char>(i));
        ::sendto(fd, payload.data(), payload.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
    const unsigned short sender = BoundPort(fd);
    ::close(fd);
    return sender;
}
