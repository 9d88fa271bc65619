// The object behind a capture SOCKET: the program's end of a capture helper
// (CaptureHelperLaunch.cpp), which holds the packet socket, with the output
// ring the helper writes its pcapng stream into and the reader of that stream, the capture's interface and filter,
// and the network event selection with the watcher thread that signals the
// selected event. The program holds no packet socket. bind and
// SIO_SET_CAPTURE_FILTER are kept here; SIO_RCVALL sends them to the helper,
// which starts capturing. Nothing outside platform/linux/ includes this file.
//
// Locking: m_mutex guards every field below it, the stream reader included;
// recv, WSAEnumNetworkEvents and the watcher take it for their whole step.
// Events are recorded, and the selected event is set and reset, under it, so
// once WSAEventSelect or Close has returned nothing sets the event they
// replaced. m_controlMutex serialises WSAEventSelect and Close.
//
// The watcher thread is started by the first WSAEventSelect with a non-zero
// mask and lasts until Close. It waits in epoll for its wake-up eventfd and
// for the channel, which is armed one-shot (under m_mutex) while FD_READ is
// wanted and not yet recorded; the helper sends a message on it when it
// publishes and the reader has said it waits. Whoever looks at the stream
// (the watcher or a recv) reads what the ring holds: headers and statistics
// blocks record nothing, a datagram records FD_READ, and the end of the
// channel, once the ring is read, FD_CLOSE with the reason the helper's exit
// status gives. The watcher also waits for
// notifications of the bound address: once it has gone (its interface still
// there), the capture ends with FD_CLOSE and WSAEADDRNOTAVAIL. When the watcher records FD_READ it sets the event and runs the
// registered wait's callback itself (SetEventAndRunHere): the kernel has
// already woken this thread, and a hand-off to a pool thread would cost a
// second wake-up per batch. The watcher owns a reference to the socket and is
// detached: Close may come from inside that callback, or from a thread holding
// a lock the callback waits for, so Close only marks the socket closed, shuts
// the channel (the helper ends at once) and wakes the watcher, which ends once
// its run is over; the last reference closes the channel and reaps the helper.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/TestHooks.h"
#include "platform/WinSock.h"
#include "platform/linux/AddressWatch.h"
#include "platform/linux/CaptureRing.h"
#include "platform/linux/Internal.h"
#include "platform/linux/PcapngStream.h"

namespace win::detail {

class CaptureSocket : public std::enable_shared_from_this<CaptureSocket> {
public:
    /// Takes ownership of the channel to a started helper and of the helper (pid).
    CaptureSocket(int channel, int helper);
    ~CaptureSocket();
    CaptureSocket(const CaptureSocket&) = delete;
    CaptureSocket& operator=(const CaptureSocket&) = delete;
    /// False when the descriptors of the watcher could not be created.
    bool IsValid() const;

    // Each call returns 0 or the Winsock error code.
    /// address: the IPv4 address bound to (network byte order), which owner has.
    int Bind(const InterfaceInfo& owner, u_long address);
    /// Keeps a classic BPF program (length bytes, 8 per instruction) for the
    /// helper, once the kernel has found it sound.
    int SetFilter(const void* program, DWORD length);
    int SetReceiveAll(bool on);
    /// One datagram into buffer (truncated to length); *count gets its size
    /// and *arrival (when not null) the kernel's arrival time as a file time.
    int Receive(char* buffer, int length, int* count, ULONGLONG* arrival);
    int EventSelect(HANDLE event, long networkEvents);
    int EnumNetworkEvents(HANDLE event, WSANETWORKEVENTS* events);
    /// Stops delivery, ends the helper and tells the watcher to end;
    /// idempotent. The channel is closed and the helper reaped when the last
    /// reference (a call still in progress, or the watcher) lets go.
    void Close();

    win::testing::CaptureStatistics Statistics();
    /// Datagrams the kernel dropped since the capture started, as the helper's
    /// last statistics block said.
    int DroppedCount(unsigned long long* count);

private:
    int StartLocked();
    /// Reads what the ring holds until a datagram waits (true), nothing more
    /// is there, or the stream has ended or broken.
    bool FillLocked();
    /// Gives the helper back the room of the blocks read.
    void ReleaseLocked();
    /// Attaches what the helper published beyond what the reader holds: 1
    /// when there was more, 0 when not, -1 when the stream broke.
    int LookLocked();
    bool BreakLocked();
    long TakeLocked(char* buffer, std::size_t length, ULONGLONG* arrival);
    void EndOfStreamLocked();
    void CountStatisticsLocked();
    bool HasDataLocked();
    void RearmLocked();
    void ArmLocked();
    void PostLocked(long events);
    /// Records events; true when one was new, and the event must be set.
    bool RecordLocked(long events);
    void MarkFailedLocked(int wsaError);
    /// Asks the helper to end; the stream's end then comes with wsaError.
    void EndCaptureLocked(int wsaError);
    void Watch();
    void Wake(int eventFd);

    const int m_channel;  // SOCK_SEQPACKET to the helper
    const int m_wakeFd;   // wakes the watcher: receiving turned on, or stop
    const int m_closeFd;  // readable once closed; wakes a blocked recv
    int m_epollFd;        // the watcher's wait: m_wakeFd and m_channel (one-shot)
    std::mutex m_controlMutex;
    bool m_watcherStarted = false;  // guarded by m_controlMutex

    std::mutex m_mutex;
    int m_helper;                  // the helper's pid until reaped, then -1
    InterfaceInfo m_interface;     // index 0 while unbound
    u_long m_address = 0;
    AddressWatch m_addressWatch;   // from the start of the capture; read by the watcher
    std::vector<std::uint8_t> m_filter;  // the program for the helper
    bool m_started = false;        // the helper is capturing
    bool m_receiving = false;      // SIO_RCVALL on
    bool m_closed = false;
    bool m_failed = false;         // the stream ended or broke: no more datagrams
    int m_failError = 0;
    int m_endReason = 0;           // why the program asked the helper to end, if it did
    CaptureRing m_ring;            // mapped when the capture starts
    PcapngStream m_stream;         // reads the ring from its tail on
    std::uint64_t m_statisticsSeen = 0;  // statistics blocks already counted
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
