// The capture socket: creation and bind errors, receive-all, the capture
// filter, whole datagrams once each on loopback and both directions on a
// veth, network-event signalling (FD_READ set, reset, re-armed; FD_CLOSE when
// the interface goes away, none when its link goes down and up), closing,
// drops counted exactly, and the privilege check. Every capture goes through
// the capture helper, root's too. Capture runs in private network namespaces,
// so traffic of tests running in parallel never shows up.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "packet/PacketFilter.h"
#include "platform/TestHooks.h"
#include "platform/WinKernel.h"
#include "platform/WinSock.h"
#include "tests/support/CapableHelper.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/LoopbackSender.h"
#include "tests/support/NetNamespace.h"
#include "tests/support/Privileges.h"

using namespace win;
using testsupport::ChildProcess;
using testsupport::LoopbackSender;
using testsupport::NetNamespace;

namespace {

struct Datagram {
    std::vector<unsigned char> bytes;
    win::u_long Source() const { return Read32(12); }
    win::u_long Dest() const { return Read32(16); }
    int Protocol() const { return bytes[9]; }
    unsigned HeaderLength() const { return (bytes[0] & 0x0F) * 4u; }
    unsigned TotalLength() const { return bytes[2] << 8 | bytes[3]; }
    unsigned Port(int offset) const { return bytes[HeaderLength() + offset] << 8 | bytes[HeaderLength() + offset + 1]; }
    win::u_long Read32(int offset) const {
        return win::u_long(bytes[offset]) << 24 | bytes[offset + 1] << 16 | bytes[offset + 2] << 8 | bytes[offset + 3];
    }
};

sockaddr_in AddressOf(const char* text) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr(text);
    return address;
}

// An open capture the way the engine opens it.
class Capture {
public:
    explicit Capture(const char* address) {
        m_event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        m_socket = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
        sockaddr_in local = AddressOf(address);
        DWORD returned = 0;
        unsigned on = RCVALL_ON;
        m_ok = m_socket != INVALID_SOCKET && bind(m_socket, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
               WSAIoctl(m_socket, SIO_RCVALL, &on, sizeof on, nullptr, 0, &returned, nullptr, nullptr) == 0 &&
               WSAEventSelect(m_socket, m_event, FD_READ | FD_CLOSE) == 0;
    }
    ~Capture() {
        if (m_socket != INVALID_SOCKET) closesocket(m_socket);
        CloseHandle(m_event);
    }
    bool Ok() const { return m_ok; }
    SOCKET Socket() const { return m_socket; }
    HANDLE Event() const { return m_event; }

    // Takes datagrams as the engine does (wait, enumerate, one recv per
    // FD_READ) until `want` match or the time runs out.
    template <typename Match>
    std::vector<Datagram> Collect(std::size_t want, Match match, int milliseconds = 3000) {
        std::vector<Datagram> found;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
        std::vector<char> buffer(65535);
        while (found.size() < want && std::chrono::steady_clock::now() < end) {
            if (WaitForSingleObject(m_event, 100) != WAIT_OBJECT_0) continue;
            WSANETWORKEVENTS events{};
            if (WSAEnumNetworkEvents(m_socket, m_event, &events) != 0) break;
            if (events.lNetworkEvents != FD_READ) continue;
            int count = recv(m_socket, buffer.data(), static_cast<int>(buffer.size()), 0);
            if (count <= 0) continue;
            Datagram datagram{std::vector<unsigned char>(buffer.begin(), buffer.begin() + count)};
            if (match(datagram)) found.push_back(std::move(datagram));
        }
        return found;
    }

private:
    SOCKET m_socket = INVALID_SOCKET;
    HANDLE m_event = nullptr;
    bool m_ok = false;
};

class CaptureSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        SKIP_UNLESS_CAPTURE_ALLOWED();
        WSADATA data;
        ASSERT_EQ(WSAStartup(0x0202, &data), 0);
    }
    void TearDown() override { WSACleanup(); }
};

TEST_F(CaptureSocketTest, CreationAcceptsOnlyTheRawIPv4Socket) {
    struct Case {
        int family, type, protocol, error;
    } cases[] = {
        {23, SOCK_RAW, IPPROTO_IP, WSAEAFNOSUPPORT},
        {AF_INET, SOCK_DGRAM, IPPROTO_IP, WSAESOCKTNOSUPPORT},
        {AF_INET, SOCK_STREAM, IPPROTO_IP, WSAESOCKTNOSUPPORT},
        {AF_INET, SOCK_RAW, 6, WSAEPROTONOSUPPORT},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(socket(c.family, c.type, c.protocol), INVALID_SOCKET);
        EXPECT_EQ(WSAGetLastError(), c.error) << c.family << "/" << c.type << "/" << c.protocol;
    }
    SOCKET first = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
    SOCKET second = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
    ASSERT_NE(first, INVALID_SOCKET);
    ASSERT_NE(second, INVALID_SOCKET);
    EXPECT_NE(first, second);
    EXPECT_EQ(closesocket(first), 0);
    EXPECT_EQ(closesocket(first), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    char byte;
    EXPECT_EQ(recv(first, &byte, 1, 0), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    WSANETWORKEVENTS events;
    EXPECT_EQ(WSAEnumNetworkEvents(first, nullptr, &events), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAENOTSOCK);
    EXPECT_EQ(closesocket(second), 0);
}

TEST_F(CaptureSocketTest, WithoutCapNetRawCreationFailsWithAccessDenied) {
    EXPECT_CHILD_PASSED(ChildProcess::Run([] {
        std::string reason;
        if (!testsupport::Privileges::DropNetRaw(&reason)) ChildProcess::FailChild(reason);
        // Without the capability the socket comes from the helper, which
        // cannot gain it either: the bounding set no longer holds it.
        win::testing::SetCaptureHelper(QV_CAPTURE_HELPER);
        EXPECT_EQ(socket(AF_INET, SOCK_RAW, IPPROTO_IP), INVALID_SOCKET);
        EXPECT_EQ(WSAGetLastError(), WSAEACCES);
    }));
}

TEST_F(CaptureSocketTest, BindNeedsAnAddressThatAnInterfaceOwns) {
    EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([] {
        struct Case {
            const char* address;
            int error;
        } cases[] = {{"10.9.9.9", WSAEADDRNOTAVAIL}, {"255.255.255.255", WSAEADDRNOTAVAIL},
                     {"0.0.0.0", WSAEADDRNOTAVAIL}, {"127.0.0.1", 0}};
        for (const Case& c : cases) {
            SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
            sockaddr_in address = AddressOf(c.address);
            int result = bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
            EXPECT_EQ(result, c.error == 0 ? 0 : SOCKET_ERROR) << c.address;
            if (c.error != 0) {
                EXPECT_EQ(WSAGetLastError(), c.error) << c.address;
            }
            if (c.error == 0) {
                EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), SOCKET_ERROR);
                EXPECT_EQ(WSAGetLastError(), WSAEINVAL) << "second bind";
            }
            closesocket(s);
        }
        SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
        sockaddr_in address = AddressOf("127.0.0.1");
        EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), 8), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
        address.sin_family = 23;
        EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAEAFNOSUPPORT);
        closesocket(s);
    }));
}

TEST_F(CaptureSocketTest, ReceiveAllFailsBeforeBindAndOnBadInput) {
    SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
    ASSERT_NE(s, INVALID_SOCKET);
    DWORD returned = 99;
    unsigned on = RCVALL_ON, bad = 7;
    EXPECT_EQ(WSAIoctl(s, SIO_RCVALL, &on, 4, nullptr, 0, &returned, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    sockaddr_in address = AddressOf("127.0.0.1");
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(WSAIoctl(s, SIO_RCVALL, &on, 2, nullptr, 0, &returned, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    EXPECT_EQ(WSAIoctl(s, SIO_RCVALL, nullptr, 4, nullptr, 0, &returned, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    EXPECT_EQ(WSAIoctl(s, SIO_RCVALL, &bad, 4, nullptr, 0, &returned, nullptr, nullptr), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    EXPECT_EQ(WSAIoctl(s, SIO_RCVALL, &on, 4, nullptr, 0, &returned, nullptr, nullptr), 0);
    EXPECT_EQ(returned, 0u);
    closesocket(s);
}

// Loopback capture with the default ring and the smallest one the helper
// takes: every datagram once, whole, IPv4 header first, in order.
class LoopbackCaptureTest : public CaptureSocketTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LoopbackCaptureTest, SeesEachUdpDatagramOnceWholeAndInOrder) {
    const bool smallest = GetParam();
    EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([smallest] {
        win::testing::CaptureRingOptions options;
        if (smallest) {
            options.blockSize = 1u << 16;
            options.blockCount = 2;
            options.bufferBytes = 1u << 20;
        }
        win::testing::SetCaptureRingOptions(&options);
        Capture capture("127.0.0.1");
        ASSERT_TRUE(capture.Ok()) << WSAGetLastError();
        LoopbackSender sender;
        const int count = 300;
        const std::size_t size = 100;
        testsupport::UdpFlow flow = sender.SendUdp(count, size);
        ASSERT_EQ(flow.sent, count);
        auto ours = capture.Collect(count + 1, [&](const Datagram& d) {
            return d.Protocol() == 17 && d.Port(0) == flow.sourcePort && d.Port(2) == flow.destPort;
        }, 1500);
        win::testing::CaptureStatistics stats;
        ASSERT_TRUE(win::testing::GetCaptureStatistics(capture.Socket(), &stats));
        EXPECT_TRUE(stats.ring);
        // Two blocks of 64 KiB may both be full when the helper is kept off
        // the CPU for two block time-outs (a loaded machine): what the kernel
        // dropped must then be counted, and nothing else may be missing.
        ASSERT_EQ(ours.size() + stats.kernelDrops, static_cast<std::size_t>(count)) << "each datagram once or counted";
        if (!smallest) {
            EXPECT_EQ(stats.kernelDrops, 0u);
        }
        if (stats.kernelDrops != 0) return;
        for (int k = 0; k < count; ++k) {
            const Datagram& d = ours[k];
            ASSERT_EQ(d.bytes[0], 0x45) << k;
            EXPECT_EQ(d.TotalLength(), 20 + 8 + size);
            EXPECT_EQ(d.bytes.size(), 20 + 8 + size);
            EXPECT_EQ(d.Source(), 0x7F000001u);
            EXPECT_EQ(d.Dest(), 0x7F000001u);
            std::vector<unsigned char> payload(d.bytes.begin() + 28, d.bytes.end());
            ASSERT_EQ(payload, LoopbackSender::Payload(k, size)) << "datagram " << k << " out of order or damaged";
        }
    }));
}

INSTANTIATE_TEST_SUITE_P(DefaultAndSmallestRing, LoopbackCaptureTest, ::testing::Bool());

TEST_F(CaptureSocketTest, LoopbackTcpSegmentsArriveInOrder) {
    EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([] {
        Capture capture("127.0.0.1");
        ASSERT_TRUE(capture.Ok());
        testsupport::TcpFlow flow = LoopbackSender::SendTcp({10, 200, 1000});
        ASSERT_TRUE(flow.completed);
        auto fromClient = capture.Collect(64, [&](const Datagram& d) {
            return d.Protocol() == 6 && d.Port(0) == flow.clientPort && d.Port(2) == flow.serverPort;
        }, 800);
        ASSERT_FALSE(fromClient.empty());
        EXPECT_EQ(fromClient.front().bytes[fromClient.front().HeaderLength() + 13] & 0x02, 0x02) << "SYN first";
        std::vector<std::size_t> dataSizes;
        for (const Datagram& d : fromClient) {
            unsigned tcpHeader = (d.bytes[d.HeaderLength() + 12] >> 4) * 4u;
            std::size_t data = d.TotalLength() - d.HeaderLength() - tcpHeader;
            if (data > 0) dataSizes.push_back(data);
        }
        EXPECT_EQ(dataSizes, (std::vector<std::size_t>{10, 200, 1000}));
    }));
}

TEST_F(CaptureSocketTest, VethCaptureSeesSentAndReceivedDatagrams) {
    EXPECT_CHILD_PASSED(NetNamespace::RunWithVeth([](const NetNamespace::Veth& veth) {
        Capture capture(veth.localAddress.c_str());
        ASSERT_TRUE(capture.Ok());
        const int count = 20;
        testsupport::UdpFlow flow = LoopbackSender::SendUdpTo(veth.peerAddress, veth.echoPort, count, 50, 2000);
        ASSERT_EQ(flow.sent, count);
        win::u_long local = ntohl(inet_addr(veth.localAddress.c_str())), peer = ntohl(inet_addr(veth.peerAddress.c_str()));
        auto ours = capture.Collect(2 * count, [&](const Datagram& d) {
            return d.Protocol() == 17 && (d.Port(0) == flow.sourcePort || d.Port(2) == flow.sourcePort);
        });
        int sent = 0, received = 0;
        for (const Datagram& d : ours) {
            if (d.Source() == local && d.Dest() == peer) ++sent;
            if (d.Source() == peer && d.Dest() == local) ++received;
        }
        EXPECT_EQ(sent, count);
        EXPECT_EQ(received, count);
    }));
}

TEST_F(CaptureSocketTest, ReadEventIsSetResetAndRearmedByRecv) {
    EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([] {
        Capture capture("127.0.0.1");
        ASSERT_TRUE(capture.Ok());
        EXPECT_EQ(WaitForSingleObject(capture.Event(), 50), WAIT_TIMEOUT) << "nothing before traffic";
        LoopbackSender sender;
        sender.SendUdp(3, 20);
        char buffer[2048];
        for (int k = 0; k < 3; ++k) {
            ASSERT_EQ(WaitForSingleObject(capture.Event(), 2000), WAIT_OBJECT_0) << "datagram " << k;
            WSANETWORKEVENTS events{};
            ASSERT_EQ(WSAEnumNetworkEvents(capture.Socket(), capture.Event(), &events), 0);
            EXPECT_EQ(events.lNetworkEvents, FD_READ);
            EXPECT_EQ(WaitForSingleObject(capture.Event(), 0), WAIT_TIMEOUT) << "enumeration resets the event";
            ASSERT_EQ(WSAEnumNetworkEvents(capture.Socket(), nullptr, &events), 0);
            EXPECT_EQ(events.lNetworkEvents, 0) << "enumeration clears the record";
            EXPECT_EQ(recv(capture.Socket(), buffer, sizeof buffer, 0), 48);
        }
        for (int k = 0; k < 3; ++k) {  // the later empty receives leave the watcher as it is
            EXPECT_EQ(recv(capture.Socket(), buffer, sizeof buffer, 0), SOCKET_ERROR);
            EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
        }
        EXPECT_EQ(WaitForSingleObject(capture.Event(), 50), WAIT_TIMEOUT);
        sender.SendUdp(1, 20);
        EXPECT_EQ(WaitForSingleObject(capture.Event(), 2000), WAIT_OBJECT_0) << "re-armed once the queue emptied";
        // A short buffer gets the start of one datagram; the rest is gone.
        WSANETWORKEVENTS events{};
        WSAEnumNetworkEvents(capture.Socket(), capture.Event(), &events);
        EXPECT_EQ(recv(capture.Socket(), buffer, 10, 0), 10);
        EXPECT_EQ(recv(capture.Socket(), buffer, sizeof buffer, 0), SOCKET_ERROR);
    }));
}

TEST_F(CaptureSocketTest, CloseEventWhenTheInterfaceGoesAway) {
    EXPECT_CHILD_PASSED(NetNamespace::RunWithVeth([](const NetNamespace::Veth& veth) {
        Capture capture(veth.localAddress.c_str());
        ASSERT_TRUE(capture.Ok());
        testsupport::UdpFlow flow = LoopbackSender::SendUdpTo(veth.peerAddress, veth.echoPort, 3, 30);
        ASSERT_EQ(WaitForSingleObject(capture.Event(), 2000), WAIT_OBJECT_0);
        ASSERT_TRUE(NetNamespace::DeleteLink(veth.localName));
        // Taken as the engine takes them: the datagrams before the end still
        // come, then FD_CLOSE alone, with the reason.
        WSANETWORKEVENTS events{};
        int ours = 0;
        char buffer[2048];
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        do {
            if (WaitForSingleObject(capture.Event(), 100) != WAIT_OBJECT_0) continue;
            ASSERT_EQ(WSAEnumNetworkEvents(capture.Socket(), capture.Event(), &events), 0);
            if (events.lNetworkEvents != FD_READ) continue;
            for (int count; (count = recv(capture.Socket(), buffer, sizeof buffer, 0)) > 0;) {
                Datagram d{std::vector<unsigned char>(buffer, buffer + count)};
                ours += d.Protocol() == 17 && d.Port(0) == flow.sourcePort;
            }
        } while (events.lNetworkEvents != FD_CLOSE && std::chrono::steady_clock::now() < end);
        EXPECT_EQ(events.lNetworkEvents, FD_CLOSE) << "FD_CLOSE alone";
        EXPECT_EQ(events.iErrorCode[FD_CLOSE_BIT], WSAENETDOWN);
        EXPECT_EQ(ours, 3);
        EXPECT_EQ(recv(capture.Socket(), buffer, sizeof buffer, 0), SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAENETDOWN);
    }));
}

// Only the address goes; its interface stays: FD_CLOSE with its own reason.
TEST_F(CaptureSocketTest, CloseEventWhenTheAddressGoesAway) {
    EXPECT_CHILD_PASSED(NetNamespace::RunWithVeth([](const NetNamespace::Veth& veth) {
        Capture capture(veth.localAddress.c_str());
        ASSERT_TRUE(capture.Ok());
        const std::string prefix = veth.localAddress + "/" + std::to_string(veth.prefixLength);
        ASSERT_TRUE(NetNamespace::RunIp({"addr", "del", prefix, "dev", veth.localName}));
        WSANETWORKEVENTS events{};
        char buffer[2048];
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        do {
            if (WaitForSingleObject(capture.Event(), 100) != WAIT_OBJECT_0) continue;
            ASSERT_EQ(WSAEnumNetworkEvents(capture.Socket(), capture.Event(), &events), 0);
            while (events.lNetworkEvents == FD_READ && recv(capture.Socket(), buffer, sizeof buffer, 0) > 0) {
            }
        } while (events.lNetworkEvents != FD_CLOSE && std::chrono::steady_clock::now() < end);
        EXPECT_EQ(events.lNetworkEvents, FD_CLOSE);
        EXPECT_EQ(events.iErrorCode[FD_CLOSE_BIT], WSAEADDRNOTAVAIL);
    }));
}

// Another address of the interface comes and goes: the capture goes on.
TEST_F(CaptureSocketTest, AnotherAddressGoingAwayEndsNothing) {
    EXPECT_CHILD_PASSED(NetNamespace::RunWithVeth([](const NetNamespace::Veth& veth) {
        ASSERT_TRUE(NetNamespace::RunIp({"addr", "add", "10.78.0.1/24", "dev", veth.localName}));
        Capture capture(veth.localAddress.c_str());
        ASSERT_TRUE(capture.Ok());
        ASSERT_TRUE(NetNamespace::RunIp({"addr", "del", "10.78.0.1/24", "dev", veth.localName}));
        testsupport::UdpFlow flow = LoopbackSender::SendUdpTo(veth.peerAddress, veth.echoPort, 3, 30);
        auto ours = capture.Collect(6, [&](const Datagram& d) {
            return d.Protocol() == 17 && (d.Port(0) == flow.sourcePort || d.Port(2) == flow.sourcePort);
        });
        EXPECT_EQ(ours.size(), 6u);
        WSANETWORKEVENTS events{};
        ASSERT_EQ(WSAEnumNetworkEvents(capture.Socket(), nullptr, &events), 0);
        EXPECT_EQ(events.lNetworkEvents & FD_CLOSE, 0);
    }));
}

TEST_F(CaptureSocketTest, ALinkThatGoesDownAndComesBackKeepsTheCapture) {
    EXPECT_CHILD_PASSED(NetNamespace::RunWithVeth([](const NetNamespace::Veth& veth) {
        Capture capture(veth.localAddress.c_str());
        ASSERT_TRUE(capture.Ok());
        testsupport::UdpFlow before = LoopbackSender::SendUdpTo(veth.peerAddress, veth.echoPort, 5, 30);
        auto first = capture.Collect(10, [&](const Datagram& d) { return d.Protocol() == 17 && (d.Port(0) == before.sourcePort || d.Port(2) == before.sourcePort); });
        EXPECT_EQ(first.size(), 10u) << "sent and echoed";
        ASSERT_TRUE(NetNamespace::RunIp({"link", "set", veth.localName, "down"}));
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        ASSERT_TRUE(NetNamespace::RunIp({"link", "set", veth.localName, "up"}));
        // The address and the neighbour may take a moment to serve again.
        testsupport::UdpFlow after;
        std::vector<Datagram> later;
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (later.size() < 10 && std::chrono::steady_clock::now() < end) {
            after = LoopbackSender::SendUdpTo(veth.peerAddress, veth.echoPort, 5, 30);
            later = capture.Collect(10, [&](const Datagram& d) { return d.Protocol() == 17 && (d.Port(0) == after.sourcePort || d.Port(2) == after.sourcePort); }, 500);
        }
        EXPECT_EQ(later.size(), 10u) << "datagrams after the link came back";
        WSANETWORKEVENTS events{};
        ASSERT_EQ(WSAEnumNetworkEvents(capture.Socket(), nullptr, &events), 0);
        EXPECT_EQ(events.lNetworkEvents & FD_CLOSE, 0) << "no close for a link that came back";
    }));
}

TEST_F(CaptureSocketTest, TheCaptureFilterKeepsOnlyWhatItMatches) {
    EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([] {
        PacketFilter filter;
        std::string error;
        ASSERT_TRUE(filter.Compile("udp port 9", error)) << error;
        const auto& program = filter.GetProgram();
        const DWORD length = static_cast<DWORD>(program.size() * sizeof program[0]);
        DWORD returned = 0;

        SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
        ASSERT_NE(s, INVALID_SOCKET);
        EXPECT_EQ(WSAIoctl(s, SIO_SET_CAPTURE_FILTER, const_cast<PacketFilter::Instruction*>(program.data()), length,
                           nullptr, 0, &returned, nullptr, nullptr),
                  SOCKET_ERROR) << "before bind";
        EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
        closesocket(s);

        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
        sockaddr_in local = AddressOf("127.0.0.1");
        ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        // The kernel refuses a program without a return, and one of a bad size.
        PacketFilter::Instruction noReturn{0x20, 0, 0, 0};
        EXPECT_EQ(WSAIoctl(s, SIO_SET_CAPTURE_FILTER, &noReturn, sizeof noReturn, nullptr, 0, &returned, nullptr, nullptr),
                  SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
        EXPECT_EQ(WSAIoctl(s, SIO_SET_CAPTURE_FILTER, const_cast<PacketFilter::Instruction*>(program.data()), 7,
                           nullptr, 0, &returned, nullptr, nullptr),
                  SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
        ASSERT_EQ(WSAIoctl(s, SIO_SET_CAPTURE_FILTER, const_cast<PacketFilter::Instruction*>(program.data()), length,
                           nullptr, 0, &returned, nullptr, nullptr),
                  0);
        unsigned on = RCVALL_ON;
        ASSERT_EQ(WSAIoctl(s, SIO_RCVALL, &on, sizeof on, nullptr, 0, &returned, nullptr, nullptr), 0);
        EXPECT_EQ(WSAIoctl(s, SIO_SET_CAPTURE_FILTER, nullptr, 0, nullptr, 0, &returned, nullptr, nullptr), SOCKET_ERROR)
            << "not once capturing";
        EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
        ASSERT_EQ(WSAEventSelect(s, event, FD_READ | FD_CLOSE), 0);

        LoopbackSender sender;
        sender.SendUdp(5, 10);
        LoopbackSender::SendUdpTo("127.0.0.1", 9, 3, 10);
        int port9 = 0, other = 0;
        char buffer[2048];
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(700);
        while (std::chrono::steady_clock::now() < end) {
            if (WaitForSingleObject(event, 100) != WAIT_OBJECT_0) continue;
            WSANETWORKEVENTS events{};
            WSAEnumNetworkEvents(s, event, &events);
            for (int count; (count = recv(s, buffer, sizeof buffer, 0)) > 0;) {
                Datagram d{std::vector<unsigned char>(buffer, buffer + count)};
                (d.Protocol() == 17 && d.Port(2) == 9 ? port9 : other) += 1;
            }
        }
        EXPECT_EQ(port9, 3);
        EXPECT_EQ(other, 0) << "the port-unreachable answers and the other flow stay out";
        closesocket(s);
        CloseHandle(event);
    }));
}

TEST_F(CaptureSocketTest, ClosedSocketNoLongerSignals) {
    EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([] {
        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        {
            Capture capture("127.0.0.1");
            ASSERT_TRUE(capture.Ok());
            ASSERT_EQ(WSAEventSelect(capture.Socket(), event, FD_READ | FD_CLOSE), 0);
        }
        ResetEvent(event);
        LoopbackSender sender;
        sender.SendUdp(5, 20);
        EXPECT_EQ(WaitForSingleObject(event, 100), WAIT_TIMEOUT);
        CloseHandle(event);
    }));
}

TEST_F(CaptureSocketTest, CloseWakesABlockedRecv) {
    EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([] {
        SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
        sockaddr_in address = AddressOf("127.0.0.1");
        ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        int result = 0, error = 0;
        std::thread reader([&] {
            char buffer[100];
            result = recv(s, buffer, sizeof buffer, 0);
            error = WSAGetLastError();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(closesocket(s), 0);
        reader.join();
        EXPECT_EQ(result, SOCKET_ERROR);
        EXPECT_EQ(error, WSAEINTR);
    }));
}

// A registered wait's run on the socket's event, as the engine has it: the run
// takes the lock under which its owner closes the socket, and may close the
// socket itself. Neither close may wait for the run.
struct LockedRun {
    std::mutex lock;
    SOCKET socket = INVALID_SOCKET;
    HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    bool closeInRun = false;
    int closed = -1;
    ~LockedRun() {
        CloseHandle(entered);
        CloseHandle(done);
    }
    static void Run(PVOID context, BOOL) {
        auto* run = static_cast<LockedRun*>(context);
        SetEvent(run->entered);
        std::lock_guard<std::mutex> held(run->lock);
        WSANETWORKEVENTS events{};
        if (WSAEnumNetworkEvents(run->socket, nullptr, &events) != 0) return;  // closed meanwhile
        if (run->closeInRun && run->closed < 0) {
            run->closed = closesocket(run->socket);
            SetEvent(run->done);
        }
    }
};

TEST_F(CaptureSocketTest, ClosingNeverWaitsForARunOfTheRegisteredWait) {
    EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([] {
        LoopbackSender sender;
        for (bool closeInRun : {false, true}) {
            SCOPED_TRACE(closeInRun ? "closed by the run" : "closed by the owner under the run's lock");
            Capture capture("127.0.0.1");
            ASSERT_TRUE(capture.Ok());
            LockedRun run;
            run.socket = capture.Socket();
            run.closeInRun = closeInRun;
            HANDLE wait = nullptr;
            ASSERT_TRUE(RegisterWaitForSingleObject(&wait, capture.Event(), LockedRun::Run, &run, INFINITE,
                                                    WT_EXECUTEDEFAULT));
            std::unique_lock<std::mutex> owner(run.lock, std::defer_lock);
            if (!closeInRun) owner.lock();
            sender.SendUdp(1, 20);
            ASSERT_EQ(WaitForSingleObject(run.entered, 3000), WAIT_OBJECT_0);
            if (closeInRun) {
                ASSERT_EQ(WaitForSingleObject(run.done, 3000), WAIT_OBJECT_0) << "the run's close returned";
                EXPECT_EQ(run.closed, 0);
            } else {
                const auto start = std::chrono::steady_clock::now();
                EXPECT_EQ(closesocket(capture.Socket()), 0);
                EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
                owner.unlock();
            }
            EXPECT_TRUE(UnregisterWaitEx(wait, INVALID_HANDLE_VALUE));
        }
    }, 15));  // a close that waits for the run never returns
}

// The helper's buffer and ring full while nobody reads: the kernel drops,
// and every datagram is either handed out or counted as dropped.
TEST_F(CaptureSocketTest, FullBuffersCountDropsExactly) {
    EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([] {
        win::testing::CaptureRingOptions small;
        small.blockSize = 1u << 16;
        small.blockCount = 2;
        small.bufferBytes = 1u << 20;
        win::testing::SetCaptureRingOptions(&small);
        Capture capture("127.0.0.1");
        ASSERT_TRUE(capture.Ok());
        LoopbackSender sender;
        const int count = 10000;
        ASSERT_EQ(sender.SendUdp(count, 1400).sent, count);

        // Taken until the stream stays quiet: the last statistics block comes
        // after the last datagram the helper could keep.
        std::vector<char> buffer(65535);
        unsigned long long received = 0;
        auto quietSince = std::chrono::steady_clock::now();
        while (std::chrono::steady_clock::now() - quietSince < std::chrono::milliseconds(300)) {
            if (recv(capture.Socket(), buffer.data(), static_cast<int>(buffer.size()), 0) > 0) {
                ++received;
                quietSince = std::chrono::steady_clock::now();
            } else {
                ASSERT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
        unsigned long long dropped = 0;
        DWORD returned = 0;
        ASSERT_EQ(WSAIoctl(capture.Socket(), SIO_GET_DROPPED_COUNT, nullptr, 0, &dropped, sizeof dropped, &returned,
                           nullptr, nullptr),
                  0);
        EXPECT_EQ(returned, sizeof dropped);
        EXPECT_GT(dropped, 0u) << "the buffers cannot hold the flood";
        EXPECT_EQ(received + dropped, static_cast<unsigned long long>(count)) << "lo carries only ours here";
        win::testing::CaptureStatistics stats;
        ASSERT_TRUE(win::testing::GetCaptureStatistics(capture.Socket(), &stats));
        EXPECT_EQ(stats.kernelDrops, dropped);
        EXPECT_EQ(stats.received, received);
        EXPECT_LE(stats.kernelPackets, static_cast<unsigned long long>(count));
        EXPECT_GE(stats.kernelPackets, dropped);

        unsigned long long tooSmall[1] = {};
        EXPECT_EQ(WSAIoctl(capture.Socket(), SIO_GET_DROPPED_COUNT, nullptr, 0, tooSmall, 4, &returned, nullptr,
                           nullptr),
                  SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    }));
}

// An ordinary user who may run the helper captures; meanwhile no process but
// the helper holds a packet socket, as `ss -0 -p` lists them.
TEST_F(CaptureSocketTest, AsAnOrdinaryUserOnlyTheHelperHoldsAPacketSocket) {
    EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([] {
        testsupport::CapableHelper capable(QV_CAPTURE_HELPER);
        if (capable.Path().empty()) ChildProcess::SkipChild(capable.Reason());
        int ready[2], quit[2];
        ASSERT_EQ(pipe(ready), 0);
        ASSERT_EQ(pipe(quit), 0);
        const pid_t member = fork();
        ASSERT_GE(member, 0);
        if (member == 0) {
            char state = 'U';
            if (testsupport::Privileges::BecomeUser(65534, 65534)) {
                win::testing::SetCaptureHelper(capable.Path().c_str());
                WSADATA data;
                WSAStartup(0x0202, &data);
                Capture capture("127.0.0.1");
                state = 'F';
                if (capture.Ok()) {
                    LoopbackSender sender;
                    testsupport::UdpFlow flow = sender.SendUdp(3, 10);
                    auto ours = capture.Collect(3, [&](const Datagram& d) { return d.Port(0) == flow.sourcePort; });
                    state = ours.size() == 3 ? 'R' : 'N';
                }
                [[maybe_unused]] ssize_t ignored = write(ready[1], &state, 1);
                ignored = read(quit[0], &state, 1);
                _exit(0);
            }
            [[maybe_unused]] ssize_t ignored = write(ready[1], &state, 1);
            _exit(1);
        }
        char state = 0;
        ASSERT_EQ(read(ready[0], &state, 1), 1);
        EXPECT_EQ(state, 'R') << "U: not an ordinary user, F: no capture, N: nothing captured";
        std::string listing;
        if (FILE* ss = popen("ss -0 -p 2>&1", "r")) {
            char line[512];
            while (std::fgets(line, sizeof line, ss) != nullptr) listing += line;
            pclose(ss);
        }
        [[maybe_unused]] ssize_t ignored = write(quit[1], "q", 1);
        int status = 0;
        waitpid(member, &status, 0);
        int sockets = 0;
        std::size_t at = 0;
        while ((at = listing.find("users:((", at)) != std::string::npos) {
            const std::size_t end = listing.find('\n', at);
            const std::string holders = listing.substr(at, end - at);
            EXPECT_EQ(holders.rfind("users:((\"quorvane-captur\"", 0), 0u) << holders;
            EXPECT_EQ(holders.find("),("), std::string::npos) << "one holder: " << holders;
            EXPECT_EQ(holders.find("pid=" + std::to_string(member) + ","), std::string::npos) << holders;
            ++sockets;
            at = end;
        }
        EXPECT_EQ(sockets, 1) << listing;
    }));
}

}  // namespace
