// Watches one local IPv4 address of one interface through the kernel's
// routing notifications (a netlink socket subscribed to IPv4 address
// changes, which needs no privilege), so that a capture bound to that address
// ends when the address goes away, as it ends when its interface does. The
// owner polls Fd() for readability and calls Check(). Nothing outside
// platform/linux/ includes this file.
#pragma once

#include "platform/WinTypes.h"

namespace win::detail {

class AddressWatch {
public:
    AddressWatch() = default;
    ~AddressWatch();
    AddressWatch(const AddressWatch&) = delete;
    AddressWatch& operator=(const AddressWatch&) = delete;

    /// Starts watching address (network byte order) on the interface; returns
    /// 0, or the errno of the netlink socket.
    int Open(int interfaceIndex, u_long address);
    /// The descriptor to poll for readability; -1 before Open.
    int Fd() const { return m_fd; }
    /// Reads the notifications that wait: 0 while the address is there,
    /// WSAENETDOWN once its interface has gone, WSAEADDRNOTAVAIL once only the
    /// address has.
    int Check();

private:
    int m_fd = -1;
    int m_index = 0;
    u_long m_address = 0;
    int m_gone = 0;
};

}  // namespace win::detail
