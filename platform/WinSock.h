// Windows Sockets 2 services: start-up and clean-up, error codes, the raw
// capture socket (a capture helper's stream behind socket/bind/WSAIoctl/recv), the
// interface address list, network-event selection, address text conversion,
// byte order and reverse host-name lookup.
#pragma once

#include "WinTypes.h"

namespace win {

using SOCKET = UINT_PTR;
inline constexpr SOCKET INVALID_SOCKET = ~static_cast<SOCKET>(0);
inline constexpr int SOCKET_ERROR = -1;

inline constexpr int AF_INET = 2;
inline constexpr int SOCK_STREAM = 1;
inline constexpr int SOCK_DGRAM = 2;
inline constexpr int SOCK_RAW = 3;
inline constexpr int IPPROTO_IP = 0;
inline constexpr u_long INADDR_NONE = 0xFFFFFFFF;

// ---- Error codes (WSAGetLastError) -----------------------------------------------
inline constexpr int WSAEINTR = 10004;
inline constexpr int WSAEBADF = 10009;
inline constexpr int WSAEACCES = 10013;
inline constexpr int WSAEFAULT = 10014;
inline constexpr int WSAEINVAL = 10022;
inline constexpr int WSAEMFILE = 10024;
inline constexpr int WSAEWOULDBLOCK = 10035;
inline constexpr int WSAENOTSOCK = 10038;
inline constexpr int WSAEMSGSIZE = 10040;
inline constexpr int WSAEPROTONOSUPPORT = 10043;
inline constexpr int WSAESOCKTNOSUPPORT = 10044;
inline constexpr int WSAEOPNOTSUPP = 10045;
inline constexpr int WSAEAFNOSUPPORT = 10047;
inline constexpr int WSAEADDRINUSE = 10048;
inline constexpr int WSAEADDRNOTAVAIL = 10049;
inline constexpr int WSAENETDOWN = 10050;
inline constexpr int WSAECONNABORTED = 10053;
inline constexpr int WSAENOBUFS = 10055;
inline constexpr int WSAENOTCONN = 10057;
inline constexpr int WSAESHUTDOWN = 10058;
inline constexpr int WSASYSNOTREADY = 10091;
inline constexpr int WSAVERNOTSUPPORTED = 10092;
inline constexpr int WSANOTINITIALISED = 10093;
inline constexpr int WSAHOST_NOT_FOUND = 11001;
inline constexpr int WSATRY_AGAIN = 11002;
inline constexpr int WSANO_RECOVERY = 11003;
inline constexpr int WSANO_DATA = 11004;

// ---- Start-up ----------------------------------------------------------------------
struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
    char szDescription[257];
    char szSystemStatus[129];
    unsigned short iMaxSockets;
    unsigned short iMaxUdpDg;
    char* lpVendorInfo;
};
using LPWSADATA = WSADATA*;
int WSAStartup(WORD versionRequested, LPWSADATA data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

// ---- Addresses -----------------------------------------------------------------------
struct in_addr {
    u_long s_addr;  // network byte order
};
struct sockaddr {
    u_short sa_family;
    char sa_data[14];
};
struct sockaddr_in {
    short sin_family;
    u_short sin_port;  // network byte order
    in_addr sin_addr;
    char sin_zero[8];
};
using SOCKADDR = sockaddr;
using LPSOCKADDR = sockaddr*;
struct SOCKET_ADDRESS {
    LPSOCKADDR lpSockaddr;
    int iSockaddrLength;
};
struct SOCKET_ADDRESS_LIST {
    int iAddressCount;
    SOCKET_ADDRESS Address[1];
};

u_long inet_addr(const char* text);
/// Text in a per-thread buffer, valid until the thread's next call.
char* inet_ntoa(in_addr address);
u_short htons(u_short value);
u_short ntohs(u_short value);
u_long htonl(u_long value);
u_long ntohl(u_long value);

// ---- The capture socket --------------------------------------------------------
/// socket(AF_INET, SOCK_RAW, IPPROTO_IP) creates a capture socket that delivers
/// whole IPv4 datagrams, IPv4 header first, without a link-layer header.
SOCKET socket(int family, int type, int protocol);
/// Binds the capture socket to the interface that owns the IPv4 address;
/// WSAEADDRNOTAVAIL when no interface owns it.
int bind(SOCKET s, const sockaddr* name, int nameLength);
int closesocket(SOCKET s);
/// Takes one datagram (truncated to length). WSAEWOULDBLOCK when none waits.
int recv(SOCKET s, char* buffer, int length, int flags);
struct FILETIME;
/// As recv with no flags, and also gives the datagram's arrival time as the
/// system stamped it on arrival (UTC), however long it then waited.
int WSARecvWithArrivalTime(SOCKET s, char* buffer, int length, FILETIME* arrivalTime);

struct WSAOVERLAPPED;
using LPWSAOVERLAPPED = WSAOVERLAPPED*;
using LPWSAOVERLAPPED_COMPLETION_ROUTINE = void (*)(DWORD, DWORD, LPWSAOVERLAPPED, DWORD);
inline constexpr DWORD SIO_RCVALL = 0x98000001;
inline constexpr DWORD SIO_ADDRESS_LIST_QUERY = 0x48000016;
/// This layer's own control code (an output-only vendor code): the number of
/// datagrams the system dropped on the capture socket since it was created,
/// because they arrived while its receive ring (or queue) was full, as an
/// unsigned 64-bit value.
inline constexpr DWORD SIO_GET_DROPPED_COUNT = 0x58000101;
/// This layer's own control code (an input-only vendor code): the capture
/// filter, a classic BPF program of inLength / 8 instructions in the layout of
/// libpcap's bpf_insn (code: u16, jt: u8, jf: u8, k: u32), run by the system on
/// each datagram from its IPv4 header on (as for DLT_RAW). Given after bind and
/// before SIO_RCVALL; an empty program removes the filter. WSAEINVAL when the
/// system refuses the program.
inline constexpr DWORD SIO_SET_CAPTURE_FILTER = 0x98000102;
inline constexpr unsigned int RCVALL_OFF = 0;
inline constexpr unsigned int RCVALL_ON = 1;
/// SIO_RCVALL with RCVALL_ON starts delivery of every datagram sent or received
/// on the bound interface (each datagram once); RCVALL_OFF once it is on fails
/// with WSAEOPNOTSUPP (closing the socket stops a capture). When the interface
/// goes away FD_CLOSE comes with WSAENETDOWN; when only the bound address does,
/// with WSAEADDRNOTAVAIL; when the capture ends for any other reason, with
/// WSAECONNABORTED. A link that goes down and up again does not end it. SIO_ADDRESS_LIST_QUERY fills a
/// SOCKET_ADDRESS_LIST with the machine's IPv4 interface addresses; WSAEFAULT when
/// the output buffer is too small.
int WSAIoctl(SOCKET s, DWORD controlCode, LPVOID inBuffer, DWORD inLength, LPVOID outBuffer, DWORD outLength,
             LPDWORD bytesReturned, LPWSAOVERLAPPED overlapped, LPWSAOVERLAPPED_COMPLETION_ROUTINE completion);

// ---- Network events ---------------------------------------------------------------
inline constexpr long FD_READ = 0x01;
inline constexpr long FD_WRITE = 0x02;
inline constexpr long FD_OOB = 0x04;
inline constexpr long FD_ACCEPT = 0x08;
inline constexpr long FD_CONNECT = 0x10;
inline constexpr long FD_CLOSE = 0x20;
inline constexpr int FD_READ_BIT = 0;
inline constexpr int FD_CLOSE_BIT = 5;
inline constexpr int FD_MAX_EVENTS = 10;
struct WSANETWORKEVENTS {
    long lNetworkEvents;
    int iErrorCode[FD_MAX_EVENTS];
};
using LPWSANETWORKEVENTS = WSANETWORKEVENTS*;
using WSAEVENT = HANDLE;
/// Binds the socket's FD_READ / FD_CLOSE to the event and makes it non-blocking.
int WSAEventSelect(SOCKET s, WSAEVENT event, long networkEvents);
/// Reports and clears the pending network events; resets the event if given.
int WSAEnumNetworkEvents(SOCKET s, WSAEVENT event, LPWSANETWORKEVENTS networkEvents);

// ---- Reverse lookup ----------------------------------------------------------------
struct hostent {
    char* h_name;
    char** h_aliases;
    short h_addrtype;
    short h_length;
    char** h_addr_list;
};
/// Reverse lookup through the system resolver (a name is required). The result
/// lives in a per-thread buffer until the thread's next call; safe to call from
/// several threads at once. Null on failure.
hostent* gethostbyaddr(const char* address, int length, int type);

}  // namespace win
