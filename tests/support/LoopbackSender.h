// A bounded traffic source for capture tests and benchmarks: UDP datagrams
// and TCP segments between ephemeral ports of 127.0.0.1 (or UDP to another
// address a test owns, such as the echo service of a private namespace). It
// returns the ports and sizes it used, so a capture can pick out exactly its
// datagrams among any others.
//
// UDP payloads are recognisable: byte i of datagram k is (k + i) mod 256, and
// the first four bytes (if there are four) hold k as a big-endian number, so
// a test can check the order and content of what it captured (Payload()).
//
//   testsupport::LoopbackSender sender;  // keeps the UDP receiver open
//   testsupport::UdpFlow flow = sender.SendUdp(100, 64);
//   // captured datagrams with protocol 17 and ports flow.sourcePort -> flow.destPort
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct UdpFlow {
    std::string destination;        ///< dotted address the datagrams went to
    std::uint16_t sourcePort = 0;   ///< host byte order
    std::uint16_t destPort = 0;     ///< host byte order
    std::size_t payloadSize = 0;
    int sent = 0;                   ///< datagrams the kernel accepted
};

struct TcpFlow {
    std::uint16_t clientPort = 0;   ///< host byte order, the connecting side
    std::uint16_t serverPort = 0;   ///< host byte order, the listening side
    std::vector<std::size_t> segmentSizes;  ///< payload of each data segment the client sent, in order
    bool completed = false;         ///< connected, every segment received by the server, closed
};

class LoopbackSender {
public:
    /// Opens the UDP receiver (127.0.0.1, ephemeral port). It stays open until
    /// destruction, so datagrams still in flight never draw ICMP errors.
    LoopbackSender();
    ~LoopbackSender();
    LoopbackSender(const LoopbackSender&) = delete;
    LoopbackSender& operator=(const LoopbackSender&) = delete;

    /// Sends count datagrams of payloadSize bytes (at most 65507) from a fresh
    /// ephemeral port to the receiver. perSecond > 0 paces them at that rate;
    /// 0 sends as fast as the kernel takes them. A set stop flag ends the
    /// sending early (a flood that runs until something happens).
    UdpFlow SendUdp(int count, std::size_t payloadSize, double perSecond = 0,
                    const std::atomic<bool>* stop = nullptr);

    /// As SendUdp, to any IPv4 address and port the test owns.
    static UdpFlow SendUdpTo(const std::string& address, std::uint16_t port, int count, std::size_t payloadSize,
                             double perSecond = 0, const std::atomic<bool>* stop = nullptr);

    /// The receiver's port (host byte order).
    std::uint16_t ReceiverPort() const { return m_receiverPort; }

    /// Connects to a listener on 127.0.0.1, sends one write per entry and waits
    /// until the server has read it before the next (sizes up to 60000 bytes
    /// give one segment each on loopback), then closes both ends. Bounded by a
    /// 5-second time-out per step.
    static TcpFlow SendTcp(const std::vector<std::size_t>& segmentSizes);

    /// The payload of datagram sequence of the given size, as SendUdp sends it.
    static std::vector<unsigned char> Payload(std::uint32_t sequence, std::size_t size);

private:
    int m_receiver = -1;
    std::uint16_t m_receiverPort = 0;
};

}  // namespace testsupport
