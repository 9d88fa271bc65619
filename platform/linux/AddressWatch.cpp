// The address watch: RTM_DELADDR notifications of the watched address.
#include "platform/linux/AddressWatch.h"

#include <cstring>

#include "platform/WinSock.h"
#include "platform/linux/Internal.h"

// System headers after the layer's own (see AddressList.cpp).
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>

namespace win::detail {

AddressWatch::~AddressWatch() {
    if (m_fd >= 0) ::close(m_fd);
}

int AddressWatch::Open(int interfaceIndex, u_long address) {
    m_index = interfaceIndex;
    m_address = address;
    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (m_fd < 0) return errno;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_IPV4_IFADDR;
    if (::bind(m_fd, reinterpret_cast<::sockaddr*>(&local), sizeof local) != 0) {
        int error = errno;
        ::close(m_fd);
        m_fd = -1;
        return error;
    }
    // Gone between the bind of the capture and now: no notification will come.
    InterfaceInfo owner;
    if (FindInterfaceByAddress(address, &owner) == 0 && owner.index != interfaceIndex) {
        char name[IF_NAMESIZE];
        m_gone = if_indextoname(static_cast<unsigned>(interfaceIndex), name) == nullptr ? WSAENETDOWN : WSAEADDRNOTAVAIL;
    }
    return 0;
}

int AddressWatch::Check() {
    if (m_fd < 0 || m_gone != 0) return m_gone;
    alignas(nlmsghdr) char buffer[8192];
    for (;;) {
        const ssize_t count = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (count < 0 && errno == EINTR) continue;
        // ENOBUFS: notifications were lost; look at the addresses themselves.
        if (count < 0 && errno == ENOBUFS) {
            InterfaceInfo owner;
            if (FindInterfaceByAddress(m_address, &owner) == 0 && owner.index != m_index) break;
            continue;
        }
        if (count <= 0) return 0;
        int length = static_cast<int>(count);
        for (auto* message = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(message, length);
             message = NLMSG_NEXT(message, length)) {
            if (message->nlmsg_type != RTM_DELADDR) continue;
            const auto* change = static_cast<const ifaddrmsg*>(NLMSG_DATA(message));
            if (message->nlmsg_len < NLMSG_LENGTH(sizeof *change) || change->ifa_family != AF_INET ||
                static_cast<int>(change->ifa_index) != m_index)
                continue;
            int attributesLength = static_cast<int>(IFA_PAYLOAD(message));
            u_long local = 0, peer = 0;
            for (auto* attribute = IFA_RTA(change); RTA_OK(attribute, attributesLength);
                 attribute = RTA_NEXT(attribute, attributesLength)) {
                if (RTA_PAYLOAD(attribute) != sizeof(u_long)) continue;
                if (attribute->rta_type == IFA_LOCAL) std::memcpy(&local, RTA_DATA(attribute), sizeof local);
                if (attribute->rta_type == IFA_ADDRESS) std::memcpy(&peer, RTA_DATA(attribute), sizeof peer);
            }
            if ((local != 0 ? local : peer) == m_address) {
                m_gone = WSAEADDRNOTAVAIL;
                break;
            }
        }
        if (m_gone != 0) break;
    }
    if (m_gone == 0) m_gone = WSAEADDRNOTAVAIL;
    // An interface being removed loses its addresses as it goes: say that.
    char name[IF_NAMESIZE];
    if (if_indextoname(static_cast<unsigned>(m_index), name) == nullptr) m_gone = WSAENETDOWN;
    return m_gone;
}

}  // namespace win::detail
