// The capture socket object: binding, receive-all, taking datagrams, and the
// network events with their watcher thread (see CaptureSocket.h for locking
// and the watcher's lifetime).
#include "platform/linux/CaptureSocket.h"

#include <linux/filter.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/WinKernel.h"
#include "platform/linux/Internal.h"
#include "platform/linux/KernelObjects.h"

namespace win::detail {

namespace {
static_assert(sizeof(sock_filter) == 8, "SIO_SET_CAPTURE_FILTER's instruction layout");

// Without a ring, the socket's own queue has to absorb bursts instead.
constexpr int kFallbackReceiveBuffer = 64 << 20;

// Keeps IPv4 datagrams only: the socket listens to every protocol so that it
// sees outgoing datagrams too, which the kernel shows only to such sockets.
// A capture filter follows the IPv4 test: a datagram-mode socket runs it on
// the datagram from its IPv4 header on, as libpcap compiles it for DLT_RAW.
// Its jumps are relative, so it runs unchanged behind the test.
int AttachIPv4Filter(int fd, const std::vector<sock_filter>& captureFilter) {
    std::vector<sock_filter> code = {
        BPF_STMT(BPF_LD | BPF_H | BPF_ABS, static_cast<__u32>(SKF_AD_OFF + SKF_AD_PROTOCOL)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, ETH_P_IP, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, 0),
    };
    if (captureFilter.empty())
        code.push_back(BPF_STMT(BPF_RET | BPF_K, 0x40000));
    else
        code.insert(code.end(), captureFilter.begin(), captureFilter.end());
    sock_fprog program{static_cast<unsigned short>(code.size()), code.data()};
    if (setsockopt(fd, SOL_SOCKET, SO_ATTACH_FILTER, &program, sizeof program) != 0) return errno;
    return 0;
}

int BindToInterface(int fd, int index, int protocol) {
    sockaddr_ll address{};
    address.sll_family = AF_PACKET;
    address.sll_protocol = htons(static_cast<u_short>(protocol));
    address.sll_ifindex = index;
    if (::bind(fd, reinterpret_cast<::sockaddr*>(&address), sizeof address) != 0) return errno;
    return 0;
}
}  // namespace

CaptureSocket::CaptureSocket(int fd)
    : m_fd(fd),
      m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_closeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_epollFd(epoll_create1(EPOLL_CLOEXEC)) {
    if (m_epollFd < 0 || m_wakeFd < 0 || m_fd < 0) return;
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = m_wakeFd;
    epoll_event socket{};
    socket.events = EPOLLONESHOT;  // armed by ArmLocked
    socket.data.fd = m_fd;
    if (epoll_ctl(m_epollFd, EPOLL_CTL_ADD, m_wakeFd, &wake) != 0 ||
        epoll_ctl(m_epollFd, EPOLL_CTL_ADD, m_fd, &socket) != 0) {
        ::close(m_epollFd);
        m_epollFd = -1;
    }
}

CaptureSocket::~CaptureSocket() {
    Close();
    ::close(m_fd);
    if (m_wakeFd >= 0) ::close(m_wakeFd);
    if (m_closeFd >= 0) ::close(m_closeFd);
    if (m_epollFd >= 0) ::close(m_epollFd);
}

bool CaptureSocket::IsValid() const { return m_fd >= 0 && m_wakeFd >= 0 && m_closeFd >= 0 && m_epollFd >= 0; }

int CaptureSocket::Bind(const InterfaceInfo& owner) {
    std::lock_guard lock(m_mutex);
    if (m_closed) return WSAENOTSOCK;
    if (m_interface.index != 0) return WSAEINVAL;
    // Protocol 0: bound to the interface but not yet receiving anything.
    if (int error = BindToInterface(m_fd, owner.index, 0)) return WsaErrorFromErrno(error);
    m_interface = owner;
    return 0;
}

int CaptureSocket::SetReceiveAll(bool on) {
    std::lock_guard lock(m_mutex);
    if (m_closed) return WSAENOTSOCK;
    if (m_interface.index == 0) return WSAEINVAL;
    if (!on) {
        if (int error = BindToInterface(m_fd, m_interface.index, 0)) return WsaErrorFromErrno(error);
        m_receiving = false;
        return 0;
    }
    if (!m_receivePathReady) {
        // The filter and the ring go in before the socket starts listening, so
        // no datagram of another protocol and none outside the ring slips in.
        if (int error = AttachIPv4Filter(m_fd, m_captureFilter)) return WsaErrorFromErrno(error);
        if (m_interface.loopback) {
            // On loopback every datagram passes twice, once sent and once
            // received; keeping only the received copy shows each one once.
            int one = 1;
            if (setsockopt(m_fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one) != 0)
                return WsaErrorFromErrno(errno);
        }
        win::testing::CaptureRingOptions options = win::testing::GetCaptureRingOptions();
        m_usesRing = options.enabled &&
                     m_ring.Attach(m_fd, options.blockSize, options.blockCount, options.blockTimeoutMs) == 0;
        if (!m_usesRing) {
            int size = kFallbackReceiveBuffer;
            setsockopt(m_fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        m_counters.ring = m_usesRing;
        m_receivePathReady = true;
    }
    if (int error = BindToInterface(m_fd, m_interface.index, ETH_P_ALL)) return WsaErrorFromErrno(error);
    m_receiving = true;
    Wake(m_wakeFd);
    return 0;
}

int CaptureSocket::SetCaptureFilter(const void* code, unsigned count) {
    std::lock_guard lock(m_mutex);
    if (m_closed) return WSAENOTSOCK;
    if (count > BPF_MAXINSNS - 4) return WSAEINVAL;
    std::vector<sock_filter> program(count);
    if (count != 0) std::memcpy(program.data(), code, count * sizeof(sock_filter));
    // Attached at once, so that the kernel checks it now; until receive-all is
    // on the socket listens to no protocol, so this lets nothing in early.
    if (int error = AttachIPv4Filter(m_fd, program)) return error == EINVAL ? WSAEINVAL : WsaErrorFromErrno(error);
    m_captureFilter = std::move(program);
    return 0;
}

long CaptureSocket::TakeLocked(char* buffer, std::size_t length) {
    if (m_usesRing) return m_ring.Take(buffer, length);
    ssize_t count = ::recv(m_fd, buffer, length, MSG_DONTWAIT);
    if (count >= 0) return count;
    if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) MarkFailedLocked(WsaErrorFromErrno(errno));
    return -1;
}

bool CaptureSocket::HasDataLocked() {
    if (m_usesRing) return m_ring.HasData();
    pollfd probe{m_fd, POLLIN, 0};
    return poll(&probe, 1, 0) > 0 && (probe.revents & POLLIN) != 0;
}

int CaptureSocket::Receive(char* buffer, int length, int* count) {
    if (length < 0 || (buffer == nullptr && length > 0)) return WSAEFAULT;
    bool waited = false;
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_closed) return waited ? WSAEINTR : WSAENOTSOCK;
            if (m_interface.index == 0) return WSAEINVAL;
            long taken = TakeLocked(buffer, static_cast<std::size_t>(length));
            if (taken >= 0) {
                ++m_counters.received;
                AddToCaptureTotals(0, 0, 1, false);
                RearmLocked();
                *count = static_cast<int>(taken);
                return 0;
            }
            if (m_failed) return m_failError;
            if (m_nonBlocking) {
                RearmLocked();
                return WSAEWOULDBLOCK;
            }
        }
        // Blocking mode (no WSAEventSelect yet): wait for a datagram or Close.
        pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_closeFd, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0 && errno != EINTR) return WsaErrorFromErrno(errno);
        waited = true;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
            std::lock_guard lock(m_mutex);
            CheckSocketErrorLocked();
        }
    }
}

void CaptureSocket::RearmLocked() {
    if (m_event == nullptr || (m_selected & FD_READ) == 0 || m_failed || m_closed) return;
    if (HasDataLocked()) {
        m_readRecorded = true;
        PostLocked(FD_READ);
    } else if (m_readRecorded) {
        // Nothing left: the watcher takes over and records the next arrival.
        // Arming the socket for it costs a system call and no wake-up; later
        // empty receives find it armed already.
        m_readRecorded = false;
        ArmLocked(true);
    }
}

void CaptureSocket::ArmLocked(bool wantData) {
    // One-shot: once the socket has woken the watcher, it stays quiet until
    // armed again, so the watcher sleeps while the reader works through the
    // ring. Arming finds data or an error already there and reports it at once.
    epoll_event socket{};
    socket.events = (wantData ? static_cast<std::uint32_t>(EPOLLIN) : 0U) | EPOLLONESHOT;
    socket.data.fd = m_fd;
    if (epoll_ctl(m_epollFd, EPOLL_CTL_MOD, m_fd, &socket) != 0) MarkFailedLocked(WsaErrorFromErrno(errno));
}

void CaptureSocket::PostLocked(long events) {
    if (RecordLocked(events)) SetEvent(m_event);
}

bool CaptureSocket::RecordLocked(long events) {
    // Events already recorded have set the event, and only
    // EnumNetworkEvents, which clears the record under this lock, resets it.
    if ((m_pending & events) == events) return false;
    m_pending |= events;
    return true;
}

void CaptureSocket::MarkFailedLocked(int wsaError) {
    if (m_failed || m_closed) return;
    m_failed = true;
    m_failError = wsaError;
    m_receiving = false;
    if (m_event != nullptr && (m_selected & FD_CLOSE) != 0) {
        // FD_CLOSE replaces a recorded FD_READ so that the owner sees the close
        // on its own and does not take it for more data.
        m_pending = (m_pending & ~FD_READ) | FD_CLOSE;
        m_closeError = wsaError;
        SetEvent(m_event);
    }
}

void CaptureSocket::CheckSocketErrorLocked() {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    // The kernel reports ENETDOWN when the interface goes down or away.
    MarkFailedLocked(WsaErrorFromErrno(error != 0 ? error : ENETDOWN));
}

int CaptureSocket::EventSelect(HANDLE event, long networkEvents) {
    if (networkEvents != 0 && event == nullptr) return WSAEINVAL;
    std::lock_guard control(m_controlMutex);
    {
        std::lock_guard lock(m_mutex);
        if (m_closed) return WSAENOTSOCK;
        // As on Windows: the socket becomes non-blocking and the record of
        // network events starts empty.
        m_nonBlocking = true;
        m_event = networkEvents != 0 ? event : nullptr;
        m_selected = networkEvents;
        m_pending = 0;
        m_closeError = 0;
        m_readRecorded = false;
        if (m_failed && (networkEvents & FD_CLOSE) != 0) {
            m_closeError = m_failError;
            PostLocked(FD_CLOSE);
        }
    }
    if (!m_watcherStarted && networkEvents != 0) {
        try {
            std::thread([self = shared_from_this()] { self->Watch(); }).detach();
            m_watcherStarted = true;
        } catch (const std::system_error&) {
            std::lock_guard lock(m_mutex);
            m_event = nullptr;
            m_selected = 0;
            return WSAENOBUFS;
        }
    }
    // The watcher arms the socket again for the new selection.
    Wake(m_wakeFd);
    return 0;
}

int CaptureSocket::EnumNetworkEvents(HANDLE event, WSANETWORKEVENTS* events) {
    if (events == nullptr) return WSAEFAULT;
    std::lock_guard lock(m_mutex);
    if (m_closed) return WSAENOTSOCK;
    events->lNetworkEvents = m_pending;
    std::memset(events->iErrorCode, 0, sizeof events->iErrorCode);
    if (m_pending & FD_CLOSE) events->iErrorCode[FD_CLOSE_BIT] = m_closeError;
    m_pending = 0;
    // Reset under the same lock that records events: an event recorded after
    // this point sets the event again, so no wake-up is lost.
    if (event != nullptr) ResetEvent(event);
    return 0;
}

void CaptureSocket::Close() {
    std::lock_guard control(m_controlMutex);
    {
        std::lock_guard lock(m_mutex);
        if (m_closed) return;
        // From here no call records an event or sets the selected event.
        m_closed = true;
        ReadKernelCountersLocked();
    }
    Wake(m_closeFd);
    Wake(m_wakeFd);
}

void CaptureSocket::Watch() {
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            if (m_closed) return;
            if (!m_failed) {
                const bool wantRead = (m_selected & FD_READ) != 0 && !m_readRecorded;
                const bool arrived = wantRead && HasDataLocked();
                // Errors (the interface going away) wake it even with no data asked.
                ArmLocked(wantRead && !arrived);
                if (arrived) {
                    m_readRecorded = true;
                    if (RecordLocked(FD_READ)) {
                        // The run ends when the reader has emptied the socket;
                        // then look again before sleeping.
                        SetEventAndRunHere(m_event, lock);
                        continue;
                    }
                }
            }
        }
        epoll_event events[2];
        const int count = epoll_wait(m_epollFd, events, 2, -1);
        if (count < 0) {
            if (errno == EINTR) continue;
            std::lock_guard lock(m_mutex);
            MarkFailedLocked(WsaErrorFromErrno(errno));
            return;
        }
        for (int i = 0; i < count; ++i) {
            if (events[i].data.fd == m_wakeFd) {
                std::uint64_t ignoredCount;
                [[maybe_unused]] ssize_t ignored = ::read(m_wakeFd, &ignoredCount, sizeof ignoredCount);
            } else if ((events[i].events & (EPOLLERR | EPOLLHUP)) != 0) {
                std::lock_guard lock(m_mutex);
                CheckSocketErrorLocked();
            }
        }
    }
}

void CaptureSocket::Wake(int eventFd) {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(eventFd, &one, sizeof one);
}

void CaptureSocket::ReadKernelCountersLocked() {
    // Reading the kernel's counters resets them, so each read is a delta.
    union {
        tpacket_stats_v3 v3;
        tpacket_stats v1;
    } stats{};
    socklen_t length = m_usesRing ? sizeof stats.v3 : sizeof stats.v1;
    if (getsockopt(m_fd, SOL_PACKET, PACKET_STATISTICS, &stats, &length) != 0) return;
    // The kernel's packet count includes the drops.
    m_counters.kernelPackets += stats.v1.tp_packets;
    m_counters.kernelDrops += stats.v1.tp_drops;
    AddToCaptureTotals(stats.v1.tp_packets, stats.v1.tp_drops, 0, m_usesRing);
}

int CaptureSocket::DroppedCount(unsigned long long* count) {
    std::lock_guard lock(m_mutex);
    if (m_closed) return WSAENOTSOCK;
    ReadKernelCountersLocked();
    *count = m_counters.kernelDrops;
    return 0;
}

win::testing::CaptureStatistics CaptureSocket::Statistics() {
    std::lock_guard lock(m_mutex);
    if (!m_closed) ReadKernelCountersLocked();
    return m_counters;
}

}  // namespace win::detail
