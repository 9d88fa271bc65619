// The one table that maps errno values to Winsock and Win32 error codes.
#include <cerrno>

#include "platform/WinSock.h"
#include "platform/linux/Internal.h"

// After the layer's headers: netdb.h defines macros (INADDR_NONE, htons) that
// would rewrite the layer's declarations.
#include <netdb.h>

namespace win::detail {

namespace {
struct ErrorMapping {
    int errnoValue;
    int wsaError;
    DWORD win32Error;
};

constexpr ErrorMapping kErrors[] = {
    {EINTR, WSAEINTR, ERROR_INVALID_PARAMETER},
    {EBADF, WSAENOTSOCK, ERROR_INVALID_HANDLE},
    {EPERM, WSAEACCES, ERROR_ACCESS_DENIED},
    {EACCES, WSAEACCES, ERROR_ACCESS_DENIED},
    {EROFS, WSAEACCES, ERROR_ACCESS_DENIED},
    {EFAULT, WSAEFAULT, ERROR_INVALID_PARAMETER},
    {EINVAL, WSAEINVAL, ERROR_INVALID_PARAMETER},
    {EMFILE, WSAEMFILE, ERROR_NOT_ENOUGH_MEMORY},
    {ENFILE, WSAEMFILE, ERROR_NOT_ENOUGH_MEMORY},
    {EAGAIN, WSAEWOULDBLOCK, ERROR_IO_PENDING},
    {ENOTSOCK, WSAENOTSOCK, ERROR_INVALID_HANDLE},
    {EMSGSIZE, WSAEMSGSIZE, ERROR_INVALID_PARAMETER},
    {EPROTONOSUPPORT, WSAEPROTONOSUPPORT, ERROR_INVALID_PARAMETER},
    {ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT, ERROR_INVALID_PARAMETER},
    {EOPNOTSUPP, WSAEOPNOTSUPP, ERROR_INVALID_PARAMETER},
    {EAFNOSUPPORT, WSAEAFNOSUPPORT, ERROR_INVALID_PARAMETER},
    {EADDRINUSE, WSAEADDRINUSE, ERROR_INVALID_PARAMETER},
    {EADDRNOTAVAIL, WSAEADDRNOTAVAIL, ERROR_INVALID_PARAMETER},
    {ENODEV, WSAEADDRNOTAVAIL, ERROR_FILE_NOT_FOUND},
    {ENXIO, WSAEADDRNOTAVAIL, ERROR_FILE_NOT_FOUND},
    {ENETDOWN, WSAENETDOWN, ERROR_INVALID_PARAMETER},
    {ENOBUFS, WSAENOBUFS, ERROR_NOT_ENOUGH_MEMORY},
    {ENOMEM, WSAENOBUFS, ERROR_NOT_ENOUGH_MEMORY},
    {ENOTCONN, WSAENOTCONN, ERROR_INVALID_PARAMETER},
    {ESHUTDOWN, WSAESHUTDOWN, ERROR_INVALID_PARAMETER},
    {ENOENT, WSAEINVAL, ERROR_FILE_NOT_FOUND},
    {ENOTDIR, WSAEINVAL, ERROR_FILE_NOT_FOUND},
    {ENOSPC, WSAENOBUFS, ERROR_CANTWRITE},
    {EDQUOT, WSAENOBUFS, ERROR_CANTWRITE},
    {EIO, WSAENETDOWN, ERROR_CANTWRITE},
    {ENETUNREACH, WSAENETDOWN, ERROR_INVALID_PARAMETER},
};

// Results of getnameinfo and getaddrinfo.
struct ResolverMapping {
    int result;
    int wsaError;
};

constexpr ResolverMapping kResolverErrors[] = {
    {EAI_NONAME, WSAHOST_NOT_FOUND},
    {EAI_AGAIN, WSATRY_AGAIN},
    {EAI_FAIL, WSANO_RECOVERY},
    {EAI_FAMILY, WSAEAFNOSUPPORT},
    {EAI_MEMORY, WSAENOBUFS},
    {EAI_OVERFLOW, WSAEFAULT},
    {EAI_NODATA, WSANO_DATA},
};

const ErrorMapping* Find(int error) {
    for (const ErrorMapping& mapping : kErrors) {
        if (mapping.errnoValue == error) return &mapping;
    }
    return nullptr;
}
}  // namespace

int WsaErrorFromErrno(int error) {
    const ErrorMapping* mapping = Find(error);
    return mapping ? mapping->wsaError : WSAEINVAL;
}

int WsaErrorFromResolver(int result) {
    if (result == EAI_SYSTEM) return WsaErrorFromErrno(errno);
    for (const ResolverMapping& mapping : kResolverErrors) {
        if (mapping.result == result) return mapping.wsaError;
    }
    return WSANO_RECOVERY;
}

DWORD Win32ErrorFromErrno(int error) {
    const ErrorMapping* mapping = Find(error);
    return mapping ? mapping->win32Error : ERROR_INVALID_PARAMETER;
}

}  // namespace win::detail
