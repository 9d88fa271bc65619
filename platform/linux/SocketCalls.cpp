// socket, bind, closesocket, recv and WSAIoctl: argument checks and handle
// look-up in front of the capture socket object. Only the raw IPv4 capture
// socket exists; other kinds of socket fail with the Winsock code for an
// unsupported family, type or protocol. Each capture socket starts a capture
// helper: a process that may not run it may not capture (WSAEACCES).
#include <atomic>
#include <cstring>

#include "platform/WinKernel.h"
#include "platform/WinSock.h"
#include "platform/linux/CaptureSocket.h"
#include "platform/linux/Internal.h"

namespace win {

namespace {
using detail::FailWith;

int Result(int wsaError) { return wsaError == 0 ? 0 : FailWith(wsaError); }

SOCKET NoSocket(int wsaError) {
    WSASetLastError(wsaError);
    return INVALID_SOCKET;
}

std::atomic<int> g_receiveAllFailure{0};  // test seam, see TestHooks.h
}  // namespace

namespace testing {
void SetReceiveAllFailure(int error) { g_receiveAllFailure.store(error); }
}  // namespace testing

SOCKET socket(int family, int type, int protocol) {
    if (!detail::IsWinsockStarted()) return NoSocket(WSANOTINITIALISED);
    if (family != AF_INET) return NoSocket(WSAEAFNOSUPPORT);
    if (type != SOCK_RAW) return NoSocket(WSAESOCKTNOSUPPORT);
    if (protocol != IPPROTO_IP) return NoSocket(WSAEPROTONOSUPPORT);

    int channel = -1, helper = -1;
    if (int error = detail::StartCaptureHelper(&channel, &helper)) return NoSocket(detail::WsaErrorFromErrno(error));
    auto object = std::make_shared<detail::CaptureSocket>(channel, helper);
    if (!object->IsValid()) return NoSocket(WSAEMFILE);
    return detail::RegisterSocket(std::move(object));
}

int bind(SOCKET s, const sockaddr* name, int nameLength) {
    std::shared_ptr<detail::CaptureSocket> socket = detail::LookupSocket(s);
    if (socket == nullptr) return SOCKET_ERROR;
    if (name == nullptr || nameLength < static_cast<int>(sizeof(sockaddr_in))) return FailWith(WSAEFAULT);
    sockaddr_in address;
    std::memcpy(&address, name, sizeof address);
    if (address.sin_family != AF_INET) return FailWith(WSAEAFNOSUPPORT);

    detail::InterfaceInfo owner;
    if (int error = detail::FindInterfaceByAddress(address.sin_addr.s_addr, &owner))
        return FailWith(detail::WsaErrorFromErrno(error));
    if (owner.index == 0) return FailWith(WSAEADDRNOTAVAIL);
    return Result(socket->Bind(owner, address.sin_addr.s_addr));
}

int closesocket(SOCKET s) {
    if (!detail::IsWinsockStarted()) return FailWith(WSANOTINITIALISED);
    std::shared_ptr<detail::CaptureSocket> socket = detail::RemoveSocket(s);
    if (socket == nullptr) return FailWith(WSAENOTSOCK);
    socket->Close();
    return 0;
}

int recv(SOCKET s, char* buffer, int length, int flags) {
    std::shared_ptr<detail::CaptureSocket> socket = detail::LookupSocket(s);
    if (socket == nullptr) return SOCKET_ERROR;
    // Peeking and out-of-band data have no meaning on a capture socket.
    if (flags != 0) return FailWith(WSAEOPNOTSUPP);
    int count = 0;
    if (int error = socket->Receive(buffer, length, &count, nullptr)) return FailWith(error);
    return count;
}

int WSARecvWithArrivalTime(SOCKET s, char* buffer, int length, FILETIME* arrivalTime) {
    std::shared_ptr<detail::CaptureSocket> socket = detail::LookupSocket(s);
    if (socket == nullptr) return SOCKET_ERROR;
    if (arrivalTime == nullptr) return FailWith(WSAEFAULT);
    int count = 0;
    ULONGLONG arrival = 0;
    if (int error = socket->Receive(buffer, length, &count, &arrival)) return FailWith(error);
    arrivalTime->dwLowDateTime = static_cast<DWORD>(arrival);
    arrivalTime->dwHighDateTime = static_cast<DWORD>(arrival >> 32);
    return count;
}

int WSAIoctl(SOCKET s, DWORD controlCode, LPVOID inBuffer, DWORD inLength, LPVOID outBuffer, DWORD outLength,
             LPDWORD bytesReturned, LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completion) {
    std::shared_ptr<detail::CaptureSocket> socket = detail::LookupSocket(s);
    if (socket == nullptr) return SOCKET_ERROR;
    // Only the synchronous form is offered.
    if (overlapped != nullptr || completion != nullptr) return FailWith(WSAEOPNOTSUPP);
    if (bytesReturned == nullptr) return FailWith(WSAEFAULT);
    *bytesReturned = 0;

    switch (controlCode) {
    case SIO_RCVALL: {
        if (inBuffer == nullptr || inLength < sizeof(unsigned int)) return FailWith(WSAEINVAL);
        if (int failure = g_receiveAllFailure.load()) return FailWith(failure);
        unsigned int mode;
        std::memcpy(&mode, inBuffer, sizeof mode);
        if (mode != RCVALL_ON && mode != RCVALL_OFF) return FailWith(WSAEINVAL);
        return Result(socket->SetReceiveAll(mode == RCVALL_ON));
    }
    case SIO_SET_CAPTURE_FILTER:
        return Result(socket->SetFilter(inBuffer, inLength));
    case SIO_ADDRESS_LIST_QUERY:
        return Result(detail::QueryAddressList(outBuffer, outLength, bytesReturned));
    case SIO_GET_DROPPED_COUNT: {
        unsigned long long dropped = 0;
        if (outBuffer == nullptr || outLength < sizeof dropped) return FailWith(WSAEFAULT);
        if (int error = socket->DroppedCount(&dropped)) return FailWith(error);
        std::memcpy(outBuffer, &dropped, sizeof dropped);
        *bytesReturned = sizeof dropped;
        return 0;
    }
    default:
        return FailWith(WSAEINVAL);
    }
}

}  // namespace win
