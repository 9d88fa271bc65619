// The capture socket object: binding, the filter, starting the helper's
// capture, taking datagrams from its stream, and the network events with
// their watcher thread (see CaptureSocket.h for locking and the watcher's
// lifetime).
#include "platform/linux/CaptureSocket.h"

#include <linux/filter.h>
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
#include "platform/linux/helper/CaptureHelperProtocol.h"

namespace win::detail {

namespace {
namespace protocol = quorvane::capturehelper;

// 100 ns units between 1601-01-01 and 1970-01-01.
constexpr ULONGLONG kUnixEpochAsFileTime = 116444736000000000ULL;

// Why the stream ended, from the helper's exit status.
int EndReason(int status) {
    return status == protocol::kInterfaceGone ? WSAENETDOWN : WSAECONNABORTED;
}

// The kernel checks a filter the same way on every socket: trying it on a
// socket of our own finds a program the helper's socket would refuse, before
// the helper is asked.
int CheckFilter(const void* program, std::size_t count) {
    int probe = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) return WsaErrorFromErrno(errno);
    sock_fprog filter{static_cast<unsigned short>(count),
                      const_cast<sock_filter*>(static_cast<const sock_filter*>(program))};
    int result = setsockopt(probe, SOL_SOCKET, SO_ATTACH_FILTER, &filter, sizeof filter) == 0 ? 0 : errno;
    ::close(probe);
    return result == 0 ? 0 : result == EINVAL || result == ENOMEM ? WSAEINVAL : WsaErrorFromErrno(result);
}
}  // namespace

CaptureSocket::CaptureSocket(int channel, int helper)
    : m_channel(channel),
      m_wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_closeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      m_epollFd(epoll_create1(EPOLL_CLOEXEC)),
      m_helper(helper) {
    if (m_epollFd < 0 || m_wakeFd < 0 || m_channel < 0) return;
    epoll_event wake{};
    wake.events = EPOLLIN;
    wake.data.fd = m_wakeFd;
    epoll_event channelEvent{};
    channelEvent.events = EPOLLONESHOT;  // armed by ArmLocked
    channelEvent.data.fd = m_channel;
    if (epoll_ctl(m_epollFd, EPOLL_CTL_ADD, m_wakeFd, &wake) != 0 ||
        epoll_ctl(m_epollFd, EPOLL_CTL_ADD, m_channel, &channelEvent) != 0) {
        ::close(m_epollFd);
        m_epollFd = -1;
    }
}

CaptureSocket::~CaptureSocket() {
    Close();
    // A closed channel ends the helper at once; one that does not end is killed.
    if (m_channel >= 0) ::close(m_channel);
    if (m_helper > 0) ReapCaptureHelper(m_helper, CaptureHelperTimeoutMs());
    if (m_wakeFd >= 0) ::close(m_wakeFd);
    if (m_closeFd >= 0) ::close(m_closeFd);
    if (m_epollFd >= 0) ::close(m_epollFd);
}

bool CaptureSocket::IsValid() const {
    return m_channel >= 0 && m_wakeFd >= 0 && m_closeFd >= 0 && m_epollFd >= 0;
}

int CaptureSocket::Bind(const InterfaceInfo& owner, u_long address) {
    std::lock_guard lock(m_mutex);
    if (m_closed) return WSAENOTSOCK;
    if (m_interface.index != 0) return WSAEINVAL;
    m_interface = owner;
    m_address = address;
    return 0;
}

int CaptureSocket::SetFilter(const void* program, DWORD length) {
    if (length % sizeof(protocol::FilterInstruction) != 0 || (program == nullptr && length != 0)) return WSAEINVAL;
    const std::size_t count = length / sizeof(protocol::FilterInstruction);
    if (count > protocol::kMaxFilterLength) return WSAEINVAL;
    std::lock_guard lock(m_mutex);
    if (m_closed) return WSAENOTSOCK;
    // After bind, before the capture starts: the helper takes one request.
    if (m_interface.index == 0 || m_started) return WSAEINVAL;
    if (count != 0) {
        if (int error = CheckFilter(program, count)) return error;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(program);
    m_filter.assign(bytes, bytes + length);
    return 0;
}

int CaptureSocket::SetReceiveAll(bool on) {
    std::lock_guard lock(m_mutex);
    if (m_closed) return WSAENOTSOCK;
    if (m_interface.index == 0) return WSAEINVAL;
    if (!on) {
        // The helper, once capturing, cannot be paused; Stop closes the socket.
        if (m_started) return WSAEOPNOTSUPP;
        m_receiving = false;
        return 0;
    }
    if (m_failed) return m_failError;
    if (!m_started) {
        if (int error = StartLocked()) return error;
    }
    m_receiving = true;
    Wake(m_wakeFd);
    return 0;
}

int CaptureSocket::StartLocked() {
    win::testing::CaptureRingOptions ring = win::testing::GetCaptureRingOptions();
    const std::size_t unit = protocol::kRingHeaderBytes;
    const std::size_t ringBytes = (std::size_t{ring.bufferBytes} + unit - 1) / unit * unit;
    const int ringFd = m_ring.Create(ringBytes);
    protocol::StartRequest request{protocol::kMagic,
                                   protocol::kStartCapture,
                                   m_interface.index,
                                   ring.blockSize,
                                   ring.blockCount,
                                   ring.blockTimeoutMs,
                                   static_cast<std::uint32_t>(ringBytes),
                                   static_cast<std::uint32_t>(m_filter.size() / sizeof(protocol::FilterInstruction))};
    iovec parts[2] = {{&request, sizeof request}, {m_filter.data(), m_filter.size()}};
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = m_filter.empty() ? 1 : 2;
    // The output ring goes with the request; the helper maps it, the
    // descriptor is needed no more.
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    if (ringFd >= 0) {
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        cmsghdr* attached = CMSG_FIRSTHDR(&message);
        attached->cmsg_level = SOL_SOCKET;
        attached->cmsg_type = SCM_RIGHTS;
        attached->cmsg_len = CMSG_LEN(sizeof(int));
        std::memcpy(CMSG_DATA(attached), &ringFd, sizeof ringFd);
    }
    const ssize_t size = static_cast<ssize_t>(sizeof request + m_filter.size());
    int error = 0;
    int result = ringFd < 0 ? ENOBUFS
                 : sendmsg(m_channel, &message, MSG_NOSIGNAL | MSG_DONTWAIT) == size
                     ? ReadCaptureHelperReply(m_channel, CaptureHelperTimeoutMs(), &error)
                     : EACCES;
    if (ringFd >= 0) ::close(ringFd);
    if (result == 0 && error == 0) {
        m_started = true;
        m_counters.ring = true;
        AddToCaptureTotals(0, 0, 0, true);
        // Without the notifications (no netlink socket) only the end of the
        // interface ends the capture.
        if (m_addressWatch.Open(m_interface.index, m_address) == 0) {
            epoll_event address{};
            address.events = EPOLLIN;
            address.data.fd = m_addressWatch.Fd();
            epoll_ctl(m_epollFd, EPOLL_CTL_ADD, m_addressWatch.Fd(), &address);
        }
        return 0;
    }
    // The helper ends after a refusal; reap it now so that no child lingers.
    shutdown(m_channel, SHUT_RDWR);
    ReapCaptureHelper(m_helper, CaptureHelperTimeoutMs());
    m_helper = -1;
    int wsaError;
    if (result == ENOBUFS) {
        wsaError = WSAENOBUFS;  // no memory for the output ring
    } else if (result != 0) {
        wsaError = WSAEACCES;
    } else if (error == EINVAL) {
        wsaError = WSAEINVAL;  // a filter the kernel refused, or a ring it cannot make
    } else if (error == ENODEV || error == ENXIO || error == ENETDOWN) {
        wsaError = WSAENETDOWN;
    } else {
        wsaError = WsaErrorFromErrno(error);
    }
    m_failed = true;
    m_failError = wsaError;
    return wsaError;
}

void CaptureSocket::CountStatisticsLocked() {
    if (m_stream.GetStatisticsBlocks() == m_statisticsSeen) return;
    m_statisticsSeen = m_stream.GetStatisticsBlocks();
    const unsigned long long drops = m_stream.GetDropped();
    const unsigned long long packets = m_stream.GetKernelReceived() + drops;
    AddToCaptureTotals(packets > m_counters.kernelPackets ? packets - m_counters.kernelPackets : 0,
                       drops > m_counters.kernelDrops ? drops - m_counters.kernelDrops : 0, 0, true);
    m_counters.kernelPackets = packets;
    m_counters.kernelDrops = drops;
}

bool CaptureSocket::FillLocked() {
    if (!m_started || m_failed) return false;
    for (;;) {
        const bool waiting = m_stream.Advance();
        CountStatisticsLocked();
        if (waiting) return true;
        if (m_stream.IsBroken()) return BreakLocked();
        // Every whole block attached is read: give its room back, look for more.
        ReleaseLocked();
        const int more = LookLocked();
        if (more != 0) {
            if (more > 0) continue;
            return false;
        }
        // Nothing new. The messages only say that the helper published.
        char messages[16];
        const ssize_t count = ::recv(m_channel, messages, sizeof messages, MSG_DONTWAIT);
        if (count > 0) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
            // Ask for a message, then look once more: what the helper
            // publishes in between is seen here or brings the message.
            m_ring.SetWaiting();
            if (LookLocked() > 0) continue;
            return false;
        }
        // The helper has ended: what it published before is all there is.
        if (LookLocked() > 0) continue;
        if (!m_failed) EndOfStreamLocked();
        return false;
    }
}

void CaptureSocket::ReleaseLocked() {
    const std::size_t consumed = m_stream.GetConsumed();
    if (consumed == 0) return;
    const std::size_t unread = m_stream.GetUnread();
    const std::uint64_t tail = m_ring.GetTail() + consumed;
    m_ring.SetTail(tail);
    m_stream.Attach(m_ring.At(tail), unread);
}

int CaptureSocket::LookLocked() {
    std::uint64_t head = 0;
    if (!m_ring.ReadHead(&head)) return BreakLocked(), -1;
    const std::uint64_t tail = m_ring.GetTail();
    if (head - tail == m_stream.GetUnread()) return 0;
    m_stream.Attach(m_ring.At(tail), static_cast<std::size_t>(head - tail));
    return 1;
}

bool CaptureSocket::BreakLocked() {
    MarkFailedLocked(WSAECONNABORTED);
    shutdown(m_channel, SHUT_RDWR);
    return false;
}

long CaptureSocket::TakeLocked(char* buffer, std::size_t length, ULONGLONG* arrival) {
    // Room goes back to the helper in steps, not per datagram: its word
    // shares a cache line with the helper's reads.
    constexpr std::size_t kReleaseStep = 256u << 10;
    PcapngStream::Datagram datagram;
    if (!FillLocked() || !m_stream.Next(&datagram)) return -1;
    const std::size_t count = datagram.length < length ? datagram.length : length;
    if (count != 0) std::memcpy(buffer, datagram.bytes, count);
    if (arrival != nullptr) *arrival = datagram.timeNs / 100 + kUnixEpochAsFileTime;
    if (m_stream.GetConsumed() >= kReleaseStep) ReleaseLocked();
    return static_cast<long>(count);
}

void CaptureSocket::EndOfStreamLocked() {
    // The helper closes its end only by ending; its status says why.
    int status = m_helper > 0 ? ReapCaptureHelper(m_helper, CaptureHelperTimeoutMs()) : -1;
    m_helper = -1;
    MarkFailedLocked(m_endReason != 0 ? m_endReason : EndReason(status));
}

bool CaptureSocket::HasDataLocked() {
    // Reading what the channel holds finds headers and statistics without a
    // datagram (no FD_READ for them), and the end of the stream (FD_CLOSE).
    return FillLocked();
}

int CaptureSocket::Receive(char* buffer, int length, int* count, ULONGLONG* arrival) {
    if (length < 0 || (buffer == nullptr && length > 0)) return WSAEFAULT;
    bool waited = false;
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_closed) return waited ? WSAEINTR : WSAENOTSOCK;
            if (m_interface.index == 0) return WSAEINVAL;
            long taken = TakeLocked(buffer, static_cast<std::size_t>(length), arrival);
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
        // Blocking mode (no WSAEventSelect yet): wait for the stream or Close.
        pollfd fds[2] = {{m_channel, POLLIN, 0}, {m_closeFd, POLLIN, 0}};
        bool started;
        {
            std::lock_guard lock(m_mutex);
            started = m_started;
        }
        if (poll(started ? fds : fds + 1, started ? 2 : 1, -1) < 0 && errno != EINTR) return WsaErrorFromErrno(errno);
        waited = true;
    }
}

void CaptureSocket::RearmLocked() {
    if (m_event == nullptr || (m_selected & FD_READ) == 0 || m_failed || m_closed) return;
    if (HasDataLocked()) {
        m_readRecorded = true;
        PostLocked(FD_READ);
    } else if (m_readRecorded) {
        // Nothing left: the watcher takes over and records the next arrival.
        // Arming the channel for it costs a system call and no wake-up; later
        // empty receives find it armed already.
        m_readRecorded = false;
        ArmLocked();
    }
}

void CaptureSocket::ArmLocked() {
    // One-shot: once the channel has woken the watcher, it stays quiet until
    // armed again, so the watcher sleeps while the reader works through the
    // stream. Arming finds data or the end already there and reports it at once.
    epoll_event channelEvent{};
    channelEvent.events = EPOLLIN | EPOLLONESHOT;
    channelEvent.data.fd = m_channel;
    if (epoll_ctl(m_epollFd, EPOLL_CTL_MOD, m_channel, &channelEvent) != 0) MarkFailedLocked(WsaErrorFromErrno(errno));
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

void CaptureSocket::EndCaptureLocked(int wsaError) {
    // The helper sends what it holds and ends; the reader meets the end of
    // the stream after the last datagram and gives this reason.
    if (m_endReason != 0) return;
    m_endReason = wsaError;
    shutdown(m_channel, SHUT_WR);
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
    // The watcher arms the channel again for the new selection.
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
        // The helper sees the channel shut and ends; the descriptor stays
        // valid for calls still in progress until the last reference goes.
        if (m_channel >= 0) shutdown(m_channel, SHUT_RDWR);
    }
    Wake(m_closeFd);
    Wake(m_wakeFd);
}

void CaptureSocket::Watch() {
    bool addressChanged = true;  // look once: it may have gone before the watch began
    for (;;) {
        {
            std::unique_lock lock(m_mutex);
            if (m_closed) return;
            if (addressChanged && m_started && !m_failed) {
                addressChanged = false;
                // An interface that goes away ends the helper's stream itself.
                if (m_addressWatch.Check() == WSAEADDRNOTAVAIL) EndCaptureLocked(WSAEADDRNOTAVAIL);
            }
            if (!m_failed) {
                const bool wantRead = (m_selected & FD_READ) != 0 && !m_readRecorded && m_started;
                const bool arrived = wantRead && HasDataLocked();
                if (wantRead && !arrived) ArmLocked();
                if (arrived) {
                    m_readRecorded = true;
                    if (RecordLocked(FD_READ)) {
                        // The run ends when the reader has emptied the stream;
                        // then look again before sleeping.
                        SetEventAndRunHere(m_event, lock);
                        continue;
                    }
                }
            }
        }
        epoll_event events[3];
        const int count = epoll_wait(m_epollFd, events, 3, -1);
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
            }
            // The address watch is read under the lock; the channel is
            // looked at again there too.
            if (events[i].data.fd != m_wakeFd && events[i].data.fd != m_channel) addressChanged = true;
        }
    }
}

void CaptureSocket::Wake(int eventFd) {
    std::uint64_t one = 1;
    [[maybe_unused]] ssize_t ignored = ::write(eventFd, &one, sizeof one);
}

int CaptureSocket::DroppedCount(unsigned long long* count) {
    std::lock_guard lock(m_mutex);
    if (m_closed) return WSAENOTSOCK;
    *count = m_counters.kernelDrops;
    return 0;
}

win::testing::CaptureStatistics CaptureSocket::Statistics() {
    std::lock_guard lock(m_mutex);
    return m_counters;
}

}  // namespace win::detail
