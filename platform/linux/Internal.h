// Private helpers shared by the Linux implementations of the platform layer.
// Nothing outside platform/linux/ includes this file.
#pragma once

#include <memory>
#include <vector>

#include "platform/WinSock.h"
#include "platform/WinTypes.h"

namespace win::detail {

/// Maps an errno value to the Winsock error code (WSAE...), in one table.
int WsaErrorFromErrno(int error);
/// Maps an errno value to the Win32 error code (ERROR_...), in one table.
DWORD Win32ErrorFromErrno(int error);
/// Maps a getnameinfo/getaddrinfo result (EAI_...) to the Winsock code, in the same table file.
int WsaErrorFromResolver(int result);

// ---- Windows Sockets -------------------------------------------------------------
/// True between a successful WSAStartup and the matching last WSACleanup.
bool IsWinsockStarted();
/// Sets the Winsock error code of the calling thread and returns SOCKET_ERROR.
int FailWith(int wsaError);

class CaptureSocket;
/// The table of open capture sockets. Handles count up and are never reused, so
/// a closed handle stays invalid (WSAENOTSOCK).
SOCKET RegisterSocket(std::shared_ptr<CaptureSocket> socket);
std::shared_ptr<CaptureSocket> FindSocket(SOCKET handle);
/// Removes the handle from the table and returns its socket (null if unknown).
std::shared_ptr<CaptureSocket> RemoveSocket(SOCKET handle);
/// Removes every socket from the table and returns them, for WSACleanup.
std::vector<std::shared_ptr<CaptureSocket>> RemoveAllSockets();
/// The open socket of a handle, for the socket calls: sets WSANOTINITIALISED or
/// WSAENOTSOCK as the calling thread's error and returns null when there is none.
std::shared_ptr<CaptureSocket> LookupSocket(SOCKET handle);
/// Every socket currently in the table.
std::vector<std::shared_ptr<CaptureSocket>> AllSockets();

/// Opens an unbound AF_PACKET datagram socket with protocol 0, close-on-exec:
/// itself when the process holds CAP_NET_RAW, else through the capture-socket
/// helper (PacketSocketSource.cpp). Returns 0 and *fd, or an errno value.
int OpenPacketSocket(int* fd);

/// The interface that owns an IPv4 address (network byte order).
struct InterfaceInfo {
    int index = 0;          // 0 when no interface owns the address
    bool loopback = false;
};
/// Finds the owner of the address; returns 0, or the errno of getifaddrs.
int FindInterfaceByAddress(u_long address, InterfaceInfo* info);
/// Fills a SOCKET_ADDRESS_LIST as SIO_ADDRESS_LIST_QUERY does; returns 0 or a WSA code.
int QueryAddressList(void* outBuffer, DWORD outLength, DWORD* bytesReturned);

}  // namespace win::detail
