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

/// Starts the capture helper (CaptureHelperLaunch.cpp), which opens the packet
/// socket: returns 0 with *channel (close-on-exec, the program's end of the
/// helper's socket pair) and *pid, or an errno value (EACCES: this user may
/// not capture).
int StartCaptureHelper(int* channel, int* pid);
/// Reads one reply of the helper within timeoutMs: 0 with *error (the
/// helper's errno, 0 for success), or EACCES for silence or a broken reply.
int ReadCaptureHelperReply(int channel, int timeoutMs, int* error);
/// Waits at most timeoutMs for the helper to end, then kills it; always
/// reaps. Returns its exit status, or -1 when a signal ended it.
int ReapCaptureHelper(int pid, int timeoutMs);
/// How long the program waits for each reply of the helper.
int CaptureHelperTimeoutMs();

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
