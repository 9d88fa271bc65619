// The capture engine's socket handling, network-event handler, queue and
// shutdown. Choices the engine makes beyond the plain receive loop:
// - The interface list is read into a buffer as large as the list needs,
//   however many addresses the machine has.
// - A failed WSAEnumNetworkEvents (the socket has been closed) resets the
//   network event, so that the permanent wait does not fire again at once and
//   run without end while no socket is open.
// - A record that cannot be allocated drops that one datagram: it is received
//   into a small scratch buffer (the receive truncates) and discarded, and
//   capture goes on.
// - The memory watch never throws; a reading of the memory status that fails
//   counts as no headroom, so the batch in hand is always appended.
// - When the memory watch finds the headroom gone, the handler keeps no more
//   records and closes the socket itself, as it does on FD_CLOSE, so that the
//   capture stops at once even while the UI thread is busy; every record kept
//   so far stays, and the datagrams still waiting go with the socket.
// - Destruction closes a capture socket that is still open, right after the
//   wait is unregistered: from then on no handler run can be using the socket,
//   so closing cannot race a receive; closing before would leave runs in
//   progress calling recv on a socket being closed.
// - Destruction releases the consumers and waits until none is inside
//   WaitForPacket or PopPacket before the queue is drained and the lock deleted.
// - A handler run receives until recv would block or kBatchLimit datagrams are
//   taken (kept or discarded), each into a new IPPacket as one datagram per
//   run would, then appends the whole batch under one lock and sets the
//   packet event once. A batch left unfinished at the bound leaves FD_READ
//   recorded, so the wait fires again at once for the rest.
// - Each record carries the time the system stamped on its datagram's
//   arrival, so rows keep their true times however late a run takes them.
// - An FD_CLOSE keeps its error code (the interface went away, or the capture
//   ended otherwise) for the document to tell the user why capture stopped.
// - Loss is never silent: after each batch the engine asks the socket how
//   many datagrams the system dropped (its receive ring was full) and writes a
//   trace line with the new count, at most one a second while losses go on,
//   and a last one with any remainder when the socket is closed.
#include "capture/CaptureEngine.h"

#include <chrono>
#include <cstdio>
#include <iterator>
#include <new>
#include <stdexcept>

#include "packet/IPPacket.h"
#include "platform/WinIpHelper.h"

using namespace win;

namespace {

// Runs on a thread-pool thread each time the network event is signalled.
void NetworkEventCallback(PVOID context, BOOL /*timerOrWaitFired*/)
{
    static_cast<CaptureEngine*>(context)->OnNetworkEvent();
}

// Bounds one handler run: enough for a whole ring block of small datagrams,
// few enough that a long burst reaches the consumer in portions.
constexpr int kBatchLimit = 1024;

// The address list's first buffer, and how often a list that grew between
// two calls is asked for again.
constexpr std::size_t kAddressListStart = 2048;
constexpr int kAddressListRetries = 8;

// At most one loss line a second while the system keeps dropping.
constexpr std::chrono::seconds kLossReportInterval(1);

[[noreturn]] void ThrowFormatted(const char* format, int first, int second = 0)
{
    char text[96];
    std::snprintf(text, sizeof text, format, first, second);
    throw std::runtime_error(text);
}

}  // namespace

CaptureEngine::CaptureEngine()
    : m_socket(INVALID_SOCKET),
      m_hWait(nullptr),
      m_hNetEvent(nullptr),
      m_hPacketEvent(nullptr),
      m_hShutdownEvent(nullptr),
      m_bReleased(false),
      m_nConsumersInside(0),
      m_nSocketDropped(0),
      m_nUnreported(0),
      m_bReportedLoss(false),
      m_nLost(0)
{
    InitializeCriticalSection(&m_csQueue);
    m_hNetEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    m_hPacketEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    m_hShutdownEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // Permanent: fires on every signal of the network event until unregistered.
    // Nothing signals it before OpenCapture binds it to a socket.
    if (m_hNetEvent) {
        RegisterWaitForSingleObject(&m_hWait, m_hNetEvent, NetworkEventCallback, this, INFINITE, WT_EXECUTEDEFAULT);
    }
}

CaptureEngine::~CaptureEngine()
{
    if (m_hWait) {
        UnregisterWaitEx(m_hWait, INVALID_HANDLE_VALUE);
        m_hWait = nullptr;
    }
    CloseCapture();
    ReleaseConsumers();

    EnterCriticalSection(&m_csQueue);
    while (!m_packets.empty()) {
        delete m_packets.front();
        m_packets.pop_front();
    }
    LeaveCriticalSection(&m_csQueue);
    DeleteCriticalSection(&m_csQueue);

    for (HANDLE event : {m_hNetEvent, m_hPacketEvent, m_hShutdownEvent}) {
        if (event) {
            CloseHandle(event);
        }
    }
}

void CaptureEngine::EnumerateInterfaces(std::vector<std::string>& interfaces)
{
    SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
    if (s == INVALID_SOCKET) {
        throw std::runtime_error("Failed to create socket for enumerating interfaces");
    }

    // The list is as long as the machine's addresses: start with room for a
    // few dozen and, as Winsock asks, call again with the size that a too
    // small buffer reports (WSAEFAULT, the size needed in bytesReturned).
    // Addresses added between two calls make it grow again, a few times at
    // most. The vector's storage comes from operator new, aligned for the list.
    std::vector<char> buffer(kAddressListStart);
    DWORD bytesReturned = 0;
    int attempts = 0;
    while (WSAIoctl(s, SIO_ADDRESS_LIST_QUERY, nullptr, 0, buffer.data(), static_cast<DWORD>(buffer.size()),
                    &bytesReturned, nullptr, nullptr) == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        if (error != WSAEFAULT || bytesReturned <= buffer.size() || ++attempts > kAddressListRetries) {
            closesocket(s);
            ThrowFormatted("WSAIoctl(SIO_ADDRESS_LIST_QUERY) failed: %d\n", error);
        }
        try {
            buffer.resize(bytesReturned);
        } catch (const std::bad_alloc&) {
            closesocket(s);
            throw;
        }
    }

    const auto* list = reinterpret_cast<const SOCKET_ADDRESS_LIST*>(buffer.data());
    std::vector<std::string> found;
    for (int i = 0; i < list->iAddressCount; ++i) {
        const auto* address = reinterpret_cast<const sockaddr_in*>(list->Address[i].lpSockaddr);
        found.emplace_back(inet_ntoa(address->sin_addr));
    }
    closesocket(s);
    interfaces.insert(interfaces.end(), found.begin(), found.end());
}

int CaptureEngine::GetCloseError() const
{
    return m_nCloseError.load();
}

std::map<std::string, std::string> CaptureEngine::GetInterfaceNames()
{
    // The table is sized by a first call; interfaces may come meanwhile, so once more if it grew.
    std::vector<char> buffer;
    ULONG size = 0;
    DWORD result = ERROR_INSUFFICIENT_BUFFER;
    for (int attempt = 0; attempt < 3 && result == ERROR_INSUFFICIENT_BUFFER; ++attempt) {
        buffer.resize(size);
        result = GetIpAddrTable(size ? reinterpret_cast<PMIB_IPADDRTABLE>(buffer.data()) : nullptr, &size, FALSE);
    }
    std::map<std::string, std::string> names;
    if (result != NO_ERROR) return names;
    const auto* table = reinterpret_cast<const MIB_IPADDRTABLE*>(buffer.data());
    const MIB_IPADDRROW* rows = table->table;  // dwNumEntries rows from here on
    // Many addresses usually share a few interfaces: each index is named once.
    std::map<DWORD, std::string> byIndex;
    for (DWORD i = 0; i < table->dwNumEntries; ++i) {
        auto known = byIndex.find(rows[i].dwIndex);
        if (known == byIndex.end()) {
            char name[IF_MAX_STRING_SIZE + 1] = {};
            known = byIndex.emplace(rows[i].dwIndex, if_indextoname(rows[i].dwIndex, name) ? name : "").first;
        }
        in_addr address{};
        address.s_addr = rows[i].dwAddr;
        names.emplace(inet_ntoa(address), known->second);
    }
    return names;
}

std::string CaptureEngine::GetInterfaceName(const std::string& address)
{
    const std::map<std::string, std::string> names = GetInterfaceNames();
    const auto found = names.find(address);
    return found == names.end() ? std::string() : found->second;
}

void CaptureEngine::OpenCapture()
{
    CloseCapture();
    m_nCloseError.store(0);
    // Memory may have been freed since the last capture stopped.
    m_memoryWatch.Check();

    const SOCKET s = socket(AF_INET, SOCK_RAW, IPPROTO_IP);
    if (s == INVALID_SOCKET) {
        throw std::runtime_error("Couldn't create capture socket");
    }
    m_socket.store(s);

    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(0);
    address.sin_addr.s_addr = inet_addr(m_sAdapter.c_str());
    if (bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) == SOCKET_ERROR) {
        ThrowFormatted("bind() failed: %d\n", WSAGetLastError());
    }

    DWORD bytesReturned = 0;
    // The filter goes in before receiving starts, so nothing it rejects is kept.
    if (!m_captureFilter.IsEmpty()) {
        const auto& program = m_captureFilter.GetProgram();
        if (WSAIoctl(s, SIO_SET_CAPTURE_FILTER, const_cast<PacketFilter::Instruction*>(program.data()),
                     static_cast<DWORD>(program.size() * sizeof program[0]), nullptr, 0, &bytesReturned, nullptr,
                     nullptr) == SOCKET_ERROR) {
            ThrowFormatted("WSAIoctl(SIO_SET_CAPTURE_FILTER) failed: %d\n", WSAGetLastError());
        }
    }

    unsigned int on = RCVALL_ON;
    if (WSAIoctl(s, SIO_RCVALL, &on, sizeof on, nullptr, 0, &bytesReturned, nullptr, nullptr) == SOCKET_ERROR) {
        const int error = WSAGetLastError();
        ThrowFormatted("WSAIotcl(%d) failed; %d\n", static_cast<int>(SIO_RCVALL), error);
    }

    // From here on the socket is non-blocking and the network event fires.
    if (WSAEventSelect(s, m_hNetEvent, FD_READ | FD_CLOSE) == SOCKET_ERROR) {
        throw std::runtime_error("WSAEventSelect failed");
    }
}

void CaptureEngine::CloseCapture()
{
    // Waits for a batch in progress, so the socket is never closed under a receive.
    std::lock_guard<std::mutex> receiving(m_mxReceive);
    CloseCurrentLocked(m_socket.load());
}

void CaptureEngine::CloseSocketIfCurrent(SOCKET s)
{
    // FD_CLOSE of a socket that the UI thread has meanwhile replaced must not
    // close the new one.
    std::lock_guard<std::mutex> receiving(m_mxReceive);
    CloseCurrentLocked(s);
}

bool CaptureEngine::CloseCurrentLocked(SOCKET s)
{
    if (s == INVALID_SOCKET) {
        return false;
    }
    SOCKET expected = s;
    if (m_socket.compare_exchange_strong(expected, INVALID_SOCKET)) {
        ReportLoss(s, true);
        closesocket(s);
        return true;
    }
    return false;
}

bool CaptureEngine::TakeMemoryStop()
{
    return m_bMemoryStop.exchange(false);
}

bool CaptureEngine::IsCapturing() const
{
    return m_socket.load() != INVALID_SOCKET;
}

void CaptureEngine::OnNetworkEvent()
{
    const SOCKET s = m_socket.load();
    WSANETWORKEVENTS events{};
    if (WSAEnumNetworkEvents(s, m_hNetEvent, &events) == SOCKET_ERROR) {
        // The socket is gone and the event still set: reset it, or the wait
        // fires again at once, without end. A socket opened meanwhile may have
        // set the event for its own datagrams; signal again for it then.
        ResetEvent(m_hNetEvent);
        const SOCKET current = m_socket.load();
        if (current != INVALID_SOCKET && current != s) {
            SetEvent(m_hNetEvent);
        }
        return;
    }

    // Compared as a whole: FD_READ and FD_CLOSE together do nothing.
    if (events.lNetworkEvents == FD_READ) {
        ReceiveDatagrams(s);
    } else if (events.lNetworkEvents == FD_CLOSE) {
        // Kept for the document, which says why the capture ended.
        m_nCloseError.store(events.iErrorCode[FD_CLOSE_BIT]);
        CloseSocketIfCurrent(s);
    }
}

void CaptureEngine::ReceiveDatagrams(SOCKET s)
{
    std::lock_guard<std::mutex> receiving(m_mxReceive);
    // The socket may have been closed, or replaced, while this run waited.
    if (m_socket.load() != s) {
        return;
    }

    Packet* batch[kBatchLimit];
    int count = 0;
    // Datagrams taken off the socket, kept or discarded: the bound counts
    // both, so a run that can allocate nothing still ends while a flood goes
    // on, and Stop, waiting for m_mxReceive, is not held by it.
    int taken = 0;
    bool room = m_memoryWatch.HasRoom();
    while (room && taken < kBatchLimit) {
        ++taken;
        IPPacket* packet = nullptr;
        try {
            packet = new IPPacket(IPPacket::ArrivalSetLater{});
        } catch (const std::bad_alloc&) {
            if (!DiscardDatagram(s)) {
                break;
            }
            continue;
        }

        FILETIME arrival{};
        const int received =
            WSARecvWithArrivalTime(s, reinterpret_cast<char*>(packet->GetData()), packet->GetCapacity(), &arrival);
        if (received == SOCKET_ERROR) {
            // Nothing more waits (or the socket failed): the batch is complete.
            delete packet;
            break;
        }
        // The time the system stamped on arrival, not the time of this run.
        packet->SetArrivalTime((static_cast<ULONGLONG>(arrival.dwHighDateTime) << 32) | arrival.dwLowDateTime);
        try {
            packet->SetReceived(received);
        } catch (const std::bad_alloc&) {
            delete packet;
            continue;
        }
        batch[count++] = packet;
        room = m_memoryWatch.Charge(static_cast<std::uint64_t>(received));
    }

    if (count > 0) {
        AppendBatch(batch, count);
        // A full ring is being emptied by non-empty batches, so asking after
        // those alone notices every loss while capture goes on.
        ReportLoss(s, false);
    }
    // Out of headroom: the records kept stay; the capture stops here, and
    // only the run that closes the socket reports, so one stop is told once.
    if (!room && CloseCurrentLocked(s)) {
        m_bMemoryStop.store(true);
        SetEvent(m_hPacketEvent);
    }
}

void CaptureEngine::AppendBatch(Packet** batch, int count)
{
    bool appended = true;
    EnterCriticalSection(&m_csQueue);
    try {
        // Insertion at an end of a deque either succeeds or changes nothing.
        m_packets.insert(m_packets.end(), batch, batch + count);
    } catch (const std::bad_alloc&) {
        appended = false;
    }
    LeaveCriticalSection(&m_csQueue);
    if (!appended) {
        for (int i = 0; i < count; ++i) {
            delete batch[i];
        }
        return;
    }
    SetEvent(m_hPacketEvent);
}

bool CaptureEngine::DiscardDatagram(SOCKET s)
{
    // The receive truncates to the buffer, so a few bytes take the whole datagram.
    char scratch[64];
    return recv(s, scratch, sizeof scratch, 0) != SOCKET_ERROR;
}

void CaptureEngine::ReportLoss(SOCKET s, bool closing)
{
    // m_mxReceive is held. The socket's count covers its whole life.
    unsigned long long dropped = 0;
    DWORD bytesReturned = 0;
    if (WSAIoctl(s, SIO_GET_DROPPED_COUNT, nullptr, 0, &dropped, sizeof dropped, &bytesReturned, nullptr, nullptr) !=
            SOCKET_ERROR &&
        dropped > m_nSocketDropped) {
        const unsigned long long lost = dropped - m_nSocketDropped;
        m_nSocketDropped = dropped;
        m_nUnreported += lost;
        m_nLost.fetch_add(lost);
    }
    if (closing) {
        m_nSocketDropped = 0;
    }
    if (m_nUnreported == 0) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!closing && m_bReportedLoss && now - m_tLastReport < kLossReportInterval) {
        return;
    }
    char text[96];
    std::snprintf(text, sizeof text, "Capture: %llu datagrams lost (receive ring full)\n", m_nUnreported);
    OutputDebugStringA(text);
    m_nUnreported = 0;
    m_tLastReport = now;
    m_bReportedLoss = true;
}

unsigned long long CaptureEngine::GetLostCount() const
{
    return m_nLost.load();
}

bool CaptureEngine::EnterConsumer()
{
    std::lock_guard<std::mutex> lock(m_mxConsumers);
    if (m_bReleased.load()) {
        return false;
    }
    ++m_nConsumersInside;
    return true;
}

void CaptureEngine::LeaveConsumer()
{
    std::lock_guard<std::mutex> lock(m_mxConsumers);
    if (--m_nConsumersInside == 0) {
        m_cvConsumers.notify_all();
    }
}

bool CaptureEngine::WaitForPacket()
{
    if (!EnterConsumer()) {
        return false;
    }
    const HANDLE handles[2] = {m_hPacketEvent, m_hShutdownEvent};
    const DWORD result = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    // Once released, a packet signal still pending no longer counts: the
    // consumer must not go back to the queue of an engine being torn down.
    const bool signalled = result == WAIT_OBJECT_0 && !m_bReleased.load();
    LeaveConsumer();
    return signalled;
}

Packet* CaptureEngine::PopPacket(bool* loaded)
{
    const bool admitted = EnterConsumer();
    EnterCriticalSection(&m_csQueue);
    Packet* packet = m_packets.front();
    m_packets.pop_front();
    const bool fromFile = m_nLoadedQueued > 0;
    if (fromFile) {
        --m_nLoadedQueued;
    }
    LeaveCriticalSection(&m_csQueue);
    if (loaded) {
        *loaded = fromFile;
    }
    if (admitted) {
        LeaveConsumer();
    }
    return packet;
}

void CaptureEngine::ReleaseConsumers()
{
    std::unique_lock<std::mutex> lock(m_mxConsumers);
    m_bReleased.store(true);
    if (m_hShutdownEvent) {
        SetEvent(m_hShutdownEvent);
    }
    m_cvConsumers.wait(lock, [this] { return m_nConsumersInside == 0; });
}

void CaptureEngine::AppendLoaded(Packet** records, int count)
{
    if (count <= 0) {
        return;
    }
    EnterCriticalSection(&m_csQueue);
    try {
        // Behind any loaded records, and before live ones (see the header).
        m_packets.insert(m_packets.begin() + static_cast<std::ptrdiff_t>(m_nLoadedQueued), records, records + count);
        m_nLoadedQueued += static_cast<std::size_t>(count);
    } catch (...) {
        LeaveCriticalSection(&m_csQueue);
        for (int i = 0; i < count; ++i) {
            delete records[i];
        }
        throw;
    }
    LeaveCriticalSection(&m_csQueue);
    SetEvent(m_hPacketEvent);
}

void CaptureEngine::DiscardQueued(bool loadedOnly)
{
    std::deque<Packet*> discarded;
    EnterCriticalSection(&m_csQueue);
    if (loadedOnly) {
        const auto end = m_packets.begin() + static_cast<std::ptrdiff_t>(m_nLoadedQueued);
        discarded.assign(m_packets.begin(), end);
        m_packets.erase(m_packets.begin(), end);
    } else {
        discarded.swap(m_packets);
    }
    m_nLoadedQueued = 0;
    LeaveCriticalSection(&m_csQueue);
    for (Packet* packet : discarded) {
        delete packet;
    }
}

std::size_t CaptureEngine::GetQueuedCount()
{
    EnterCriticalSection(&m_csQueue);
    const std::size_t count = m_packets.size();
    LeaveCriticalSection(&m_csQueue);
    return count;
}
