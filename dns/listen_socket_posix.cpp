#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "dns/listen_socket.h"
#include "dns/listen_socket_address.h"

namespace {

int Descriptor(SocketHandle socket) {
    return static_cast<int>(socket);
}

// Room for one packet-information message of either family.
constexpr size_t kControlSpace = CMSG_SPACE(sizeof(in6_pktinfo)) + CMSG_SPACE(sizeof(in_pktinfo));

bool EnableOption(int fd, int level, int option, int value) {
    return ::setsockopt(fd, level, option, &value, sizeof value) == 0;
}

SocketHandle Fail(int fd, int& error) {
    error = errno;
    if (fd >= 0) {
        ::close(fd);
    }
    return kInvalidSocket;
}

// Writes one control message holding info; returns the space it takes.
template <typename Info>
size_t PutControl(unsigned char* control, int level, int type, const Info& info) {
    cmsghdr* header = reinterpret_cast<cmsghdr*>(control);
    header->cmsg_level = level;
    header->cmsg_type = type;
    header->cmsg_len = CMSG_LEN(sizeof info);
    std::memcpy(CMSG_DATA(header), &info, sizeof info);
    return CMSG_SPACE(sizeof info);
}

void ReadDestination(msghdr& message, QueryOrigin& origin) {
    for (cmsghdr* control = CMSG_FIRSTHDR(&message); control != nullptr; control = CMSG_NXTHDR(&message, control)) {
        if (control->cmsg_level == IPPROTO_IPV6 && control->cmsg_type == IPV6_PKTINFO) {
            in6_pktinfo info;
            std::memcpy(&info, CMSG_DATA(control), sizeof info);
            std::memcpy(origin.destination.bytes, &info.ipi6_addr, 16);
            origin.destinationKnown = true;
        } else if (control->cmsg_level == IPPROTO_IP && control->cmsg_type == IP_PKTINFO) {
            in_pktinfo info;
            std::memcpy(&info, CMSG_DATA(control), sizeof info);
            // The local address the packet was taken for: the destination
            // itself, or this host's own address for a broadcast.
            origin.destination = MapIpv4(reinterpret_cast<const uint8_t*>(&info.ipi_spec_dst));
            origin.destinationKnown = true;
            origin.destinationAsIpv4 = true;
        }
    }
}

}  // namespace

SocketHandle OpenListeningSocket(const uint8_t* bindAddress, uint16_t port, int& error) {
    const bool ipv6 = bindAddress != nullptr;
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0) {
        return Fail(fd, error);
    }
    if (ipv6 ? !EnableOption(fd, IPPROTO_IPV6, IPV6_V6ONLY, 0) || !EnableOption(fd, IPPROTO_IPV6, IPV6_RECVPKTINFO, 1)
             : !EnableOption(fd, IPPROTO_IP, IP_PKTINFO, 1)) {
        return Fail(fd, error);
    }
    sockaddr_storage local;
    const socklen_t length = MakeLocalAddress<socklen_t>(bindAddress, port, local);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&local), length) != 0) {
        return Fail(fd, error);
    }
    error = 0;
    return static_cast<SocketHandle>(fd);
}

uint16_t ListeningSocketPort(SocketHandle socket) {
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    if (::getsockname(Descriptor(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return PortOf(local);
}

int ReceiveQuery(SocketHandle socket, uint8_t* buffer, size_t capacity, QueryOrigin& origin) {
    origin = QueryOrigin{};
    sockaddr_storage sender{};
    alignas(cmsghdr) unsigned char control[kControlSpace];
    iovec data{buffer, capacity};
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    // MSG_TRUNC: the datagram's real length, so one that did not fit is
    // refused as Winsock refuses it.
    const ssize_t received = ::recvmsg(Descriptor(socket), &message, MSG_TRUNC);
    ReadSender(sender, origin);
    if (received < 0) {
        return -1;
    }
    if (static_cast<size_t>(received) > capacity) {
        errno = EMSGSIZE;
        return -1;
    }
    ReadDestination(message, origin);
    return static_cast<int>(received);
}

int SendReply(SocketHandle socket, const uint8_t* data, size_t length, const QueryOrigin& origin) {
    sockaddr_storage client;
    const socklen_t clientLength = MakeClientAddress<socklen_t>(origin, client);
    if (clientLength == 0) {
        return -1;
    }
    uint8_t ipv4[4];
    alignas(cmsghdr) unsigned char control[kControlSpace] = {};
    iovec payload{const_cast<uint8_t*>(data), length};
    msghdr message{};
    message.msg_name = &client;
    message.msg_namelen = clientLength;
    message.msg_iov = &payload;
    message.msg_iovlen = 1;
    if (origin.destinationKnown) {
        message.msg_control = control;
        if (origin.destinationAsIpv4 && UnmapToIpv4(origin.destination, ipv4)) {
            in_pktinfo info{};
            std::memcpy(&info.ipi_spec_dst, ipv4, 4);
            message.msg_controllen = PutControl(control, IPPROTO_IP, IP_PKTINFO, info);
        } else {
            in6_pktinfo info{};
            std::memcpy(&info.ipi6_addr, origin.destination.bytes, 16);
            message.msg_controllen = PutControl(control, IPPROTO_IPV6, IPV6_PKTINFO, info);
        }
    }
    ssize_t sent = ::sendmsg(Descriptor(socket), &message, MSG_NOSIGNAL);
    if (sent < 0 && origin.destinationKnown) {
        // The query's destination cannot be a source (a multicast address,
        // or one that went away meanwhile): the system picks one instead.
        message.msg_control = nullptr;
        message.msg_controllen = 0;
        sent = ::sendmsg(Descriptor(socket), &message, MSG_NOSIGNAL);
    }
    return sent < 0 ? -1 : static_cast<int>(sent);
}
