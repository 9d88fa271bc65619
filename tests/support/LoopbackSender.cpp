// Plain POSIX sockets on loopback for the traffic of capture tests.
#include "tests/support/LoopbackSender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace testsupport {

namespace {
constexpr int kStepTimeoutSeconds = 5;

sockaddr_in Address(const std::string& dotted, std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    inet_pton(AF_INET, dotted.c_str(), &address.sin_addr);
    return address;
}

std::uint16_t LocalPort(int fd) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
}

void SetTimeouts(int fd) {
    timeval timeout{kStepTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
}

bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t count = send(fd, data, size, MSG_NOSIGNAL);
        if (count <= 0) return false;
        data += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

bool ReceiveExactly(int fd, std::size_t size) {
    char buffer[65536];
    while (size > 0) {
        ssize_t count = recv(fd, buffer, size < sizeof buffer ? size : sizeof buffer, 0);
        if (count <= 0) return false;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}
}  // namespace

LoopbackSender::LoopbackSender() {
    m_receiver = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Address("127.0.0.1", 0);
    if (m_receiver >= 0 && bind(m_receiver, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
        m_receiverPort = LocalPort(m_receiver);
}

LoopbackSender::~LoopbackSender() {
    if (m_receiver >= 0) close(m_receiver);
}

std::vector<unsigned char> LoopbackSender::Payload(std::uint32_t sequence, std::size_t size) {
    std::vector<unsigned char> payload(size);
    for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<unsigned char>((sequence + i) & 0xFF);
    for (std::size_t i = 0; i < 4 && i < size; ++i) payload[i] = static_cast<unsigned char>(sequence >> (24 - 8 * i));
    return payload;
}

UdpFlow LoopbackSender::SendUdp(int count, std::size_t payloadSize, double perSecond,
                                const std::atomic<bool>* stop) {
    if (m_receiverPort == 0) return UdpFlow{};
    return SendUdpTo("127.0.0.1", m_receiverPort, count, payloadSize, perSecond, stop);
}

UdpFlow LoopbackSender::SendUdpTo(const std::string& address, std::uint16_t port, int count, std::size_t payloadSize,
                                  double perSecond, const std::atomic<bool>* stop) {
    UdpFlow flow;
    flow.destination = address;
    flow.destPort = port;
    flow.payloadSize = payloadSize;
    int sender = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (sender < 0) return flow;
    sockaddr_in any = Address("0.0.0.0", 0);
    bind(sender, reinterpret_cast<sockaddr*>(&any), sizeof any);
    flow.sourcePort = LocalPort(sender);
    SetTimeouts(sender);

    sockaddr_in to = Address(address, port);
    auto start = std::chrono::steady_clock::now();
    for (int k = 0; k < count; ++k) {
        if (stop && stop->load(std::memory_order_relaxed)) break;
        if (perSecond > 0 && k % 16 == 0) {
            // Pace in small groups: sleeping per datagram would cap the rate.
            std::this_thread::sleep_until(start + std::chrono::duration<double>(k / perSecond));
        }
        std::vector<unsigned char> payload = Payload(static_cast<std::uint32_t>(k), payloadSize);
        for (int attempt = 0; attempt < 100; ++attempt) {
            ssize_t sent = sendto(sender, payload.data(), payload.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            if (sent >= 0) {
                ++flow.sent;
                break;
            }
            if (errno != ENOBUFS && errno != EAGAIN) break;
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }
    close(sender);
    return flow;
}

TcpFlow LoopbackSender::SendTcp(const std::vector<std::size_t>& segmentSizes) {
    TcpFlow flow;
    int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int client = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int server = -1;
    sockaddr_in address = Address("127.0.0.1", 0);
    auto finish = [&] {
        for (int fd : {client, server, listener})
            if (fd >= 0) close(fd);
        return flow;
    };
    if (listener < 0 || client < 0) return finish();
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 1) != 0)
        return finish();
    flow.serverPort = LocalPort(listener);
    address.sin_port = htons(flow.serverPort);
    SetTimeouts(client);
    SetTimeouts(listener);
    int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return finish();
    flow.clientPort = LocalPort(client);
    server = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (server < 0) return finish();
    SetTimeouts(server);

    for (std::size_t size : segmentSizes) {
        std::vector<char> data(size, 'q');
        if (!SendAll(client, data.data(), size) || !ReceiveExactly(server, size)) return finish();
        flow.segmentSizes.push_back(size);
    }
    // Close from the client first and let the server see the end of stream.
    shutdown(client, SHUT_WR);
    char byte;
    bool ended = recv(server, &byte, 1, 0) == 0;
    flow.completed = ended;
    return finish();
}

}  // namespace testsupport
