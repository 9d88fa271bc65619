// The object behind a capture SOCKET: an AF_PACKET datagram-mode socket for
// IPv4 with its receive ring, its binding to one interface, and its network
// event selection with the watcher thread that signals the selected event.
// Nothing outside platform/linux/ includes this file.
//
// Locking: m_mutex guards every field below it, the ring included; recv,
// WSAEnumNetworkEvents and the watcher take it for their whole step. Events
// are recorded, and the selected event is set and reset, under it, so once
// WSAEventSelect or Close has returned nothing sets the event they replaced.
// m_controlMutex serialises WSAEventSelect and Close.
//
// The watcher thread is started by the first WSAEventSelect with a non-zero
// mask and lasts until Close. It waits in epoll for its wake-up eventfd and
// for the socket, which is armed one-shot (under m_mutex) for data while
// FD_READ is wanted and not yet recorded, and otherwise for errors only. When
// it records FD_READ it sets the event and runs the registered wait's callback
// itself (SetEventAndRunHere): the kernel has already woken this thread, and
// a hand-off to a pool thread would cost a second wake-up per batch. The
// watcher owns a reference to the socket and is detached: Close may come from
// inside that callback, or from a thread holding a lock the callback waits
// for, so Close only marks the socket closed and wakes the watcher, which
// ends once its run is over; the socket lives until it has.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <linux/filter.h>

#include "platform/TestHooks.h"
#include "platform/WinSock.h"
#include "platform/linux/Internal.h"
#include "platform/linux/PacketRing.h"

namespace win::detail {

class CaptureSocket : public std::enable_shared_from_this<CaptureSocket> {
public:
    /// Takes ownership of fd, an unbound AF_PACKET/SOCK_DGRAM socket with protocol 0.
    explicit CaptureSocket(int fd);
    ~CaptureSocket();
    CaptureSocket(const CaptureSocket&) = delete;
    CaptureSocket& operator=(const CaptureSocket&) = delete;
    /// False when the helper descriptors could not be created.
    bool IsValid() const;

    // Each call returns 0 or the Winsock error code.
    int Bind(const InterfaceInfo& owner);
    int SetReceiveAll(bool on);
    /// The capture filter (SIO_SET_CAPTURE_FILTER): count classic BPF
    /// instructions run on each datagram from its IPv4 header on; 0 removes it.
    /// The kernel checks the program now; WSAEINVAL when it refuses it.
    int SetCaptureFilter(const void* code, unsigned count);
    /// One datagram into buffer (truncated to length); *count gets its size.
    int Receive(char* buffer, int length, int* count);
    int EventSelect(HANDLE event, long networkEvents);
    int EnumNetworkEvents(HANDLE event, WSANETWORKEVENTS* events);
    /// Stops delivery and tells the watcher to end; idempotent. The descriptor
    /// is closed when the last reference (a call still in progress, or the
    /// watcher) lets go.
    void Close();

    win::testing::CaptureStatistics Statistics();
    /// Datagrams the kernel dropped on this socket since it was created, read
    /// from the kernel's counters now (one system call).
    int DroppedCount(unsigned long long* count);

private:
    long TakeLocked(char* buffer, std::size_t length);
    bool HasDataLocked();
    void RearmLocked();
    void ArmLocked(bool wantData);
    void PostLocked(long events);
    /// Records events; true when one was new, and the event must be set.
    bool RecordLocked(long events);
    void MarkFailedLocked(int wsaError);
    void CheckSocketErrorLocked();
    void ReadKernelCountersLocked();
    void Watch();
    void Wake(int eventFd);

    const int m_fd;
    const int m_wakeFd;   // wakes the watcher: receiving turned on, or stop
    const int m_closeFd;  // readable once closed; wakes a blocked recv
    int m_epollFd;        // the watcher's wait: m_wakeFd and m_fd (one-shot)
    std::mutex m_controlMutex;
    bool m_watcherStarted = false;  // guarded by m_controlMutex

    std::mutex m_mutex;
    InterfaceInfo m_interface;     // index 0 while unbound
    bool m_receiving = false;      // SIO_RCVALL on
    bool m_closed = false;
    bool m_failed = false;         // interface gone or socket error: no more datagrams
    int m_failError = 0;
    PacketRing m_ring;
    bool m_usesRing = false;
    bool m_receivePathReady = false;
    std::vector<sock_filter> m_captureFilter;  // the user's program, without the IPv4 test
    bool m_nonBlocking = false;    // set by WSAEventSelect, as on Windows
    HANDLE m_event = nullptr;
    long m_selected = 0;           // the selected FD_ bits
    long m_pending = 0;            // recorded, not yet reported
    int m_closeError = 0;          // iErrorCode[FD_CLOSE_BIT]
    bool m_readRecorded = false;   // FD_READ recorded and no recv since: wait for recv
    win::testing::CaptureStatistics m_counters;
};

/// Adds counts of a socket to the process totals (CaptureStatistics.cpp).
void AddToCaptureTotals(unsigned long long kernelPackets, unsigned long long kernelDrops,
                        unsigned long long received, bool ring);

}  // namespace win::detail
