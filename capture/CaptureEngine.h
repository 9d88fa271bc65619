// The capture engine: owns the raw capture socket bound to one local IPv4
// address, receives every datagram on a thread-pool thread straight into a new
// IPPacket and queues it; one consumer thread waits on the engine and takes the
// records out in arrival order. Also lists the local IPv4 interface addresses.
//
// Consumer protocol: take m_csQueue; while m_packets is not empty, PopPacket
// (the lock is re-entered), release the lock and hand the record on; when it is
// empty release the lock and call WaitForPacket; leave for good when that
// returns false.
//
// Shutdown: ReleaseConsumers (UI thread, any time; the destructor calls it too)
// makes every WaitForPacket return false from then on and returns once no
// consumer is inside WaitForPacket or PopPacket. The owner of a consumer thread
// joins it after ReleaseConsumers and before destroying the engine, since a
// consumer that already got true may still take m_csQueue.
//
// Receiving: a handler run takes every datagram waiting (up to a batch bound)
// before it appends them under one lock and signals once. m_mxReceive keeps
// overlapping runs from interleaving their batches, so records stay in arrival
// order; it is held for a batch and by CloseCapture, never while waiting on an
// event or on m_csQueue's consumer. Datagrams the system dropped because the
// receive path was full are counted and written to the trace output.
//
// Records read from a capture file take the same road: the document's reader
// thread appends them with AppendLoaded. They always come before any live
// record in the queue (the document stops the capture and empties the queue
// before it reads, and stops reading before it captures), so a count of loaded
// records at the queue's head tells the consumer which records are loaded.
//
// Memory: before it keeps a datagram the handler asks its MemoryWatch; once
// the headroom is gone it keeps no more, closes the capture socket itself, as
// CloseCapture does, and signals the consumer, which learns of it from
// TakeMemoryStop and has the UI thread tell the user.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <map>
#include <string>
#include <vector>

#include "capture/MemoryWatch.h"
#include "packet/Packet.h"
#include "packet/PacketFilter.h"
#include "platform/WinKernel.h"
#include "platform/WinSock.h"

class CaptureEngine {
public:
    CaptureEngine();
    virtual ~CaptureEngine();
    CaptureEngine(const CaptureEngine&) = delete;
    CaptureEngine& operator=(const CaptureEngine&) = delete;

    /// Appends one dotted-decimal address per local IPv4 interface. Throws
    /// std::runtime_error on failure; the list is then unchanged.
    void EnumerateInterfaces(std::vector<std::string>& interfaces);
    /// The name of the interface that owns the dotted-decimal address ("lo"
    /// for 127.0.0.1), empty when no interface owns it or it cannot be found.
    std::string GetInterfaceName(const std::string& address);
    /// The interface names of every local IPv4 address, by dotted-decimal
    /// address, from one reading of the address table (empty on failure).
    std::map<std::string, std::string> GetInterfaceNames();
    /// Opens a capture on m_sAdapter, replacing a capture already open, with
    /// m_captureFilter run by the system on each datagram when it is not empty.
    /// Throws std::runtime_error; after a failure past socket creation the
    /// failed socket stays open and IsCapturing is true until CloseCapture.
    void OpenCapture();
    /// Closes the capture socket, if any. Queued records stay queued.
    void CloseCapture();
    bool IsCapturing() const;

    /// Consumer thread: true when a record was signalled; false on shutdown,
    /// after ReleaseConsumers, or when the wait fails.
    bool WaitForPacket();
    /// Consumer thread, holding m_csQueue with m_packets not empty: hands over
    /// the oldest record; *loaded (when given) says whether it was read from a file.
    Packet* PopPacket(bool* loaded = nullptr);
    /// Any thread: appends records read from a capture file and signals the
    /// consumer. The queue owns them from now on, also when this throws.
    void AppendLoaded(Packet** records, int count);
    /// Deletes the queued records read from a file (loadedOnly) or all queued records.
    void DiscardQueued(bool loadedOnly);
    /// Records queued now. Any thread.
    std::size_t GetQueuedCount();
    /// Makes every WaitForPacket return false from now on and waits until no
    /// consumer is inside WaitForPacket or PopPacket. UI thread; idempotent.
    void ReleaseConsumers();

    /// Thread-pool threads only, through the registered wait.
    void OnNetworkEvent();

    /// Datagrams the system dropped on this engine's capture sockets because
    /// they arrived faster than they were taken, as far as read so far. Any thread.
    unsigned long long GetLostCount() const;
    /// Why the system ended the last capture: the error code its FD_CLOSE
    /// came with (WSAENETDOWN: the interface went away; WSAEADDRNOTAVAIL: the
    /// address did; WSAECONNABORTED: the capture ended otherwise), or 0 when
    /// no capture has ended that way since OpenCapture. Any thread.
    int GetCloseError() const;
    /// True once after the handler stopped a capture for lack of memory
    /// (consumer thread or UI thread); false until the next such stop.
    bool TakeMemoryStop();

public:
    /// Address to capture on, dotted decimal; written by the document before OpenCapture.
    std::string m_sAdapter;
    /// What the capture keeps (empty: everything); written by the document before OpenCapture.
    PacketFilter m_captureFilter;

private:
    // Atomic because handler runs read it while the UI thread (or an FD_CLOSE
    // run) replaces it.
    std::atomic<win::SOCKET> m_socket;
    win::HANDLE m_hWait;
    win::HANDLE m_hNetEvent;

public:
    /// Records received and not yet taken; guarded by m_csQueue.
    std::deque<Packet*> m_packets;
    /// Guards m_packets; re-entrant. The consumer takes it around its peek and pop.
    win::CRITICAL_SECTION m_csQueue;

private:
    win::HANDLE m_hPacketEvent;
    win::HANDLE m_hShutdownEvent;

    void ReceiveDatagrams(win::SOCKET s);
    bool DiscardDatagram(win::SOCKET s);
    void AppendBatch(Packet** batch, int count);
    void ReportLoss(win::SOCKET s, bool closing);
    void CloseSocketIfCurrent(win::SOCKET s);
    /// With m_mxReceive held: closes s if it is still the capture socket; true when it did.
    bool CloseCurrentLocked(win::SOCKET s);
    bool EnterConsumer();
    void LeaveConsumer();

    // Loaded records at the head of m_packets; guarded by m_csQueue.
    std::size_t m_nLoadedQueued = 0;

    MemoryWatch m_memoryWatch;
    std::atomic<bool> m_bMemoryStop{false};

    // Consumers inside WaitForPacket or PopPacket, for ReleaseConsumers.
    std::atomic<bool> m_bReleased;
    std::mutex m_mxConsumers;
    std::condition_variable m_cvConsumers;
    int m_nConsumersInside;

    // Serialises batches and socket closing; guards the loss bookkeeping below.
    std::mutex m_mxReceive;
    unsigned long long m_nSocketDropped;    // the current socket's drop count as last read
    unsigned long long m_nUnreported;       // lost and not yet in a trace line
    bool m_bReportedLoss;                   // a loss line has been written
    std::chrono::steady_clock::time_point m_tLastReport;  // when
    std::atomic<unsigned long long> m_nLost;
    std::atomic<int> m_nCloseError{0};
};
