// The capture socket: creation and bind errors, receive-all, whole datagrams
// once each on loopback and both directions on a veth, network-event
// signalling (FD_READ set, reset, re-armed; FD_CLOSE when the interface goes
// away), closing, and the privilege check. Capture runs in private network
// namespaces, so traffic of tests running in parallel never shows up.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/TestHooks.h"
#include "platform/WinKernel.h"
#include "platform/WinSock.h"
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
        win::testing::SetPacketSocketSource(win::testing::PacketSocketSource::Automatic, QV_CAPTURE_HELPER);
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

// Loopback capture with and without the ring: every datagram once, whole,
// IPv4 header first, in order.
class LoopbackCaptureTest : public CaptureSocketTest, public ::testing::WithParamInterface<bool> {};

TEST_P(LoopbackCaptureTest, SeesEachUdpDatagramOnceWholeAndInOrder) {
    const bool ring = GetParam();
    EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([ring] {
        win::testing::CaptureRingOptions options;
        options.enabled = ring;
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
        ASSERT_EQ(ours.size(), static_cast<std::size_t>(count)) << "each datagram exactly once";
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
        win::testing::CaptureStatistics stats;
        ASSERT_TRUE(win::testing::GetCaptureStatistics(capture.Socket(), &stats));
        EXPECT_EQ(stats.ring, ring);
        EXPECT_EQ(stats.kernelDrops, 0u);
    }));
}

INSTANTIATE_TEST_SUITE_P(RingAndPlainQueue, LoopbackCaptureTest, ::testing::Bool());

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
        // Leave a datagram unread so that FD_READ is recorded when the link goes.
        LoopbackSender::SendUdpTo(veth.peerAddress, veth.echoPort, 3, 30);
        ASSERT_EQ(WaitForSingleObject(capture.Event(), 2000), WAIT_OBJECT_0);
        ASSERT_TRUE(NetNamespace::DeleteLink(veth.localName));
        WSANETWORKEVENTS events{};
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        do {
            ASSERT_EQ(WaitForSingleObject(capture.Event(), 3000), WAIT_OBJECT_0);
            ASSERT_EQ(WSAEnumNetworkEvents(capture.Socket(), capture.Event(), &events), 0);
        } while (events.lNetworkEvents != FD_CLOSE && std::chrono::steady_clock::now() < end);
        EXPECT_EQ(events.lNetworkEvents, FD_CLOSE) << "FD_CLOSE alone";
        EXPECT_EQ(events.iErrorCode[FD_CLOSE_BIT], WSAENETDOWN);
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

TEST_F(CaptureSocketTest, FullRingCountsDrops) {
    EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([] {
        win::testing::CaptureRingOptions small;
        small.blockSize = 1u << 16;
        small.blockCount = 2;
        win::testing::SetCaptureRingOptions(&small);
        Capture capture("127.0.0.1");
        ASSERT_TRUE(capture.Ok());
        LoopbackSender sender;
        sender.SendUdp(2000, 1000);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        win::testing::CaptureStatistics stats;
        ASSERT_TRUE(win::testing::GetCaptureStatistics(capture.Socket(), &stats));
        EXPECT_TRUE(stats.ring);
        EXPECT_GT(stats.kernelDrops, 0u);
        EXPECT_GE(stats.kernelPackets, 2000u);

        // The dropped count covers the socket's life; with what recv hands out
        // it accounts for every datagram sent (lo carries only ours here).
        unsigned long long dropped = 0;
        DWORD returned = 0;
        ASSERT_EQ(WSAIoctl(capture.Socket(), SIO_GET_DROPPED_COUNT, nullptr, 0, &dropped, sizeof dropped, &returned,
                           nullptr, nullptr),
                  0);
        EXPECT_EQ(returned, sizeof dropped);
        EXPECT_EQ(dropped, stats.kernelDrops);
        std::vector<char> buffer(65535);
        unsigned long long received = 0;
        while (recv(capture.Socket(), buffer.data(), static_cast<int>(buffer.size()), 0) > 0) ++received;
        EXPECT_EQ(WSAGetLastError(), WSAEWOULDBLOCK);
        ASSERT_EQ(WSAIoctl(capture.Socket(), SIO_GET_DROPPED_COUNT, nullptr, 0, &dropped, sizeof dropped, &returned,
                           nullptr, nullptr),
                  0);
        EXPECT_EQ(received + dropped, 2000u);

        unsigned long long tooSmall[1] = {};
        EXPECT_EQ(WSAIoctl(capture.Socket(), SIO_GET_DROPPED_COUNT, nullptr, 0, tooSmall, 4, &returned, nullptr,
                           nullptr),
                  SOCKET_ERROR);
        EXPECT_EQ(WSAGetLastError(), WSAEFAULT);
    }));
}

}  // namespace

namespace {

// Classic BPF for DLT_RAW, as libpcap compiles "udp": the protocol byte of the
// IPv4 header is 17.
struct Insn {
    std::uint16_t code;
    std::uint8_t jt, jf;
    std::uint32_t k;
};
const Insn kUdpOnly[] = {
    {0x30, 0, 0, 9},      // ldb [9]
    {0x15, 0, 1, 17},     // jeq #17
    {0x06, 0, 0, 65535},  // ret #65535
    {0x06, 0, 0, 0},      // ret #0
};

int SetFilter(SOCKET s, const void* code, DWORD length) {
    DWORD returned = 0;
    return WSAIoctl(s, SIO_SET_CAPTURE_FILTER, const_cast<void*>(code), length, nullptr, 0, &returned, nullptr,
                    nullptr);
}

}  // namespace

TEST_F(CaptureSocketTest, CaptureFilterKeepsOnlyWhatItMatches) {
    EXPECT_CHILD_PASSED(NetNamespace::RunIsolated([] {
        SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
        ASSERT_NE(s, INVALID_SOCKET);
        sockaddr_in local = AddressOf("127.0.0.1");
        ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
        ASSERT_EQ(SetFilter(s, kUdpOnly, sizeof kUdpOnly), 0) << WSAGetLastError();
        HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        unsigned on = RCVALL_ON;
        DWORD returned = 0;
        ASSERT_EQ(WSAIoctl(s, SIO_RCVALL, &on, sizeof on, nullptr, 0, &returned, nullptr, nullptr), 0);
        ASSERT_EQ(WSAEventSelect(s, event, FD_READ | FD_CLOSE), 0);

        LoopbackSender sender;
        const testsupport::TcpFlow tcp = LoopbackSender::SendTcp({100, 200});
        ASSERT_TRUE(tcp.completed);
        const testsupport::UdpFlow udp = sender.SendUdp(5, 40);
        ASSERT_EQ(udp.sent, 5);

        // Everything that arrives within a second: the UDP flow and no TCP at all.
        int udpSeen = 0, other = 0;
        std::vector<char> buffer(65535);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        while (std::chrono::steady_clock::now() < end) {
            if (WaitForSingleObject(event, 100) != WAIT_OBJECT_0) continue;
            WSANETWORKEVENTS events{};
            ASSERT_EQ(WSAEnumNetworkEvents(s, event, &events), 0);
            for (;;) {
                const int count = recv(s, buffer.data(), static_cast<int>(buffer.size()), 0);
                if (count <= 0) break;
                Datagram d{std::vector<unsigned char>(buffer.begin(), buffer.begin() + count)};
                if (d.Protocol() == 17 && d.Port(0) == udp.sourcePort) ++udpSeen;
                if (d.Protocol() != 17) ++other;
            }
        }
        EXPECT_EQ(udpSeen, 5);
        EXPECT_EQ(other, 0);
        closesocket(s);
        CloseHandle(event);
    }));
}

TEST_F(CaptureSocketTest, CaptureFilterRefusesWhatTheKernelRefuses) {
    SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
    ASSERT_NE(s, INVALID_SOCKET);
    sockaddr_in local = AddressOf("127.0.0.1");
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
    // Not a whole number of instructions.
    EXPECT_EQ(SetFilter(s, kUdpOnly, sizeof kUdpOnly - 3), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    // A jump past the end, and a program that never returns.
    const Insn jumpOut[] = {{0x15, 5, 0, 17}, {0x06, 0, 0, 0}};
    EXPECT_EQ(SetFilter(s, jumpOut, sizeof jumpOut), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    const Insn noReturn[] = {{0x30, 0, 0, 9}};
    EXPECT_EQ(SetFilter(s, noReturn, sizeof noReturn), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    EXPECT_EQ(SetFilter(s, nullptr, 8), SOCKET_ERROR);
    EXPECT_EQ(WSAGetLastError(), WSAEINVAL);
    // A good program after refused ones, and an empty one that removes it.
    EXPECT_EQ(SetFilter(s, kUdpOnly, sizeof kUdpOnly), 0);
    EXPECT_EQ(SetFilter(s, nullptr, 0), 0);
    closesocket(s);
}
