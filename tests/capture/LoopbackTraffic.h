// Bounded loopback traffic for the engine tests, kept apart from the Winsock
// declarations whose names the system socket headers define as macros.
#pragma once

#include <functional>

bool IsRoot();

/// Runs body in a forked child that has given up root (and with it
/// CAP_NET_RAW); returns the body's result, or 100 + reason on failure.
int RunUnprivileged(const std::function<int()>& body);

// A UDP receiver on an ephemeral 127.0.0.1 port and a sender bound to another.
class UdpPair {
public:
    UdpPair();
    ~UdpPair();
    UdpPair(const UdpPair&) = delete;
    UdpPair& operator=(const UdpPair&) = delete;

    /// Sends count datagrams; datagram i carries i + 1 payload bytes of value i.
    void Send(int first, int count);
    unsigned short Port() const { return m_wPort; }
    unsigned short SenderPort() const { return m_wSenderPort; }

private:
    int m_receiver;
    int m_sender;
    unsigned short m_wPort = 0;
    unsigned short m_wSenderPort = 0;
};

// A TCP listener on 127.0.0.1; Run connects, sends 5 bytes and closes.
class TcpExchange {
public:
    TcpExchange();
    ~TcpExchange();
    TcpExchange(const TcpExchange&) = delete;
    TcpExchange& operator=(const TcpExchange&) = delete;

    void Run();
    unsigned short Port() const { return m_wPort; }

private:
    int m_listener;
    unsigned short m_wPort = 0;
};

/// Runs body on a new thread in a network namespace of its own (the calling
/// thread and the process keep theirs) holding a veth pair qv0/qv1 with
/// 10.200.0.1/24 on qv0 and a static neighbour 10.200.0.9 behind it, so that
/// datagrams to 10.200.0.9 leave through qv0. Returns false when it cannot be set up.
bool RunInVethNamespace(const std::function<void()>& body);

/// Sends count UDP datagrams from 10.200.0.1 to 10.200.0.9:port, datagram i
/// with i + 1 payload bytes of value i; returns the sender's port.
unsigned short SendThroughVeth(unsigned short port, int count);
