// WSAEventSelect and WSAEnumNetworkEvents on capture sockets. The recording
// of events and the watcher that notices arrivals live in the socket object.
#include "platform/WinSock.h"
#include "platform/linux/CaptureSocket.h"
#include "platform/linux/Internal.h"

namespace win {

int WSAEventSelect(SOCKET s, WSAEVENT event, long networkEvents) {
    std::shared_ptr<detail::CaptureSocket> socket = detail::LookupSocket(s);
    if (socket == nullptr) return SOCKET_ERROR;
    int error = socket->EventSelect(event, networkEvents);
    return error == 0 ? 0 : detail::FailWith(error);
}

int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, LPWSANETWORKEVENTS networkEvents) {
    std::shared_ptr<detail::CaptureSocket> socket = detail::LookupSocket(s);
    if (socket == nullptr) return SOCKET_ERROR;
    int error = socket->EnumNetworkEvents(event, networkEvents);
    return error == 0 ? 0 : detail::FailWith(error);
}

}  // namespace win
