#include <winsock2.h>
#include <ws2tcpip.h>
// after winsock2.h
#include <mswsock.h>

#include <cstring>

#include "dns/listen_socket.h"
#include "dns/listen_socket_address.h"

namespace {

SOCKET Native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

// Room for packet information of both families (a dual-stack socket may be
// given both for an IPv4 datagram).
constexpr size_t kControlSpace = WSA_CMSG_SPACE(sizeof(IN6_PKTINFO)) + WSA_CMSG_SPACE(sizeof(IN_PKTINFO));

bool EnableOption(SOCKET socket, int level, int option, DWORD value) {
    return ::setsockopt(socket, level, option, reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

SocketHandle Fail(SOCKET socket, int& error) {
    error = WSAGetLastError();
    if (socket != INVALID_SOCKET) {
        ::closesocket(socket);
    }
    return kInvalidSocket;
}

// WSARecvMsg is reached through the socket provider, not exported.
LPFN_WSARECVMSG RecvMsgFunction(SOCKET socket) {
    GUID id = WSAID_WSARECVMSG;
    LPFN_WSARECVMSG function = nullptr;
    DWORD size = 0;
    if (::WSAIoctl(socket, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function, sizeof function, &size,
                   nullptr, nullptr) != 0) {
        return nullptr;
    }
    return function;
}

// Writes one control message holding info; returns the space it takes.
template <typename Info>
ULONG PutControl(char* control, int level, int type, const Info& info) {
    WSACMSGHDR* header = reinterpret_cast<WSACMSGHDR*>(control);
    header->cmsg_level = level;
    header->cmsg_type = type;
    header->cmsg_len = WSA_CMSG_LEN(sizeof info);
    std::memcpy(WSA_CMSG_DATA(header), &info, sizeof info);
    return static_cast<ULONG>(WSA_CMSG_SPACE(sizeof info));
}

void ReadDestination(WSAMSG& message, QueryOrigin& origin) {
    for (WSACMSGHDR* control = WSA_CMSG_FIRSTHDR(&message); control != nullptr;
         control = WSA_CMSG_NXTHDR(&message, control)) {
        if (control->cmsg_level == IPPROTO_IPV6 && control->cmsg_type == IPV6_PKTINFO) {
            IN6_PKTINFO info;
            std::memcpy(&info, WSA_CMSG_DATA(control), sizeof info);
            std::memcpy(origin.destination.bytes, &info.ipi6_addr, 16);
            origin.destinationKnown = true;
        } else if (control->cmsg_level == IPPROTO_IP && control->cmsg_type == IP_PKTINFO) {
            IN_PKTINFO info;
            std::memcpy(&info, WSA_CMSG_DATA(control), sizeof info);
            origin.destination = MapIpv4(reinterpret_cast<const uint8_t*>(&info.ipi_addr));
            origin.destinationKnown = true;
            origin.destinationAsIpv4 = true;
        }
    }
}

}  // namespace

SocketHandle OpenListeningSocket(const uint8_t* bindAddress, uint16_t port, int& error) {
    const bool ipv6 = bindAddress != nullptr;
    const SOCKET socket = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (socket == INVALID_SOCKET) {
        return Fail(socket, error);
    }
    // IPV6_V6ONLY is on by default on Windows. IP_PKTINFO is asked for too,
    // as IPv4 datagrams on a dual-stack socket may report theirs that way;
    // ReadDestination takes either.
    if (ipv6 ? !EnableOption(socket, IPPROTO_IPV6, IPV6_V6ONLY, 0) ||
                   !EnableOption(socket, IPPROTO_IPV6, IPV6_PKTINFO, 1)
             : !EnableOption(socket, IPPROTO_IP, IP_PKTINFO, 1)) {
        return Fail(socket, error);
    }
    if (ipv6) {
        EnableOption(socket, IPPROTO_IP, IP_PKTINFO, 1);
    }
    sockaddr_storage local;
    const int length = MakeLocalAddress<int>(bindAddress, port, local);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&local), length) != 0) {
        return Fail(socket, error);
    }
    error = 0;
    return static_cast<SocketHandle>(socket);
}

uint16_t ListeningSocketPort(SocketHandle socket) {
    sockaddr_storage local{};
    int length = sizeof local;
    if (::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&local), &length) != 0) {
        return 0;
    }
    return PortOf(local);
}

int ReceiveQuery(SocketHandle socket, uint8_t* buffer, size_t capacity, QueryOrigin& origin) {
    origin = QueryOrigin{};
    static const LPFN_WSARECVMSG recvMsg = RecvMsgFunction(Native(socket));
    if (recvMsg == nullptr) {
        return -1;
    }
    sockaddr_storage sender{};
    char control[kControlSpace];
    WSABUF data{static_cast<ULONG>(capacity > 0xFFFFFFFF ? 0xFFFFFFFF : capacity), reinterpret_cast<char*>(buffer)};
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&sender);
    message.namelen = sizeof sender;
    message.lpBuffers = &data;
    message.dwBufferCount = 1;
    message.Control = WSABUF{sizeof control, control};
    DWORD received = 0;
    const int result = recvMsg(Native(socket), &message, &received, nullptr, nullptr);
    ReadSender(sender, origin);
    // A datagram that did not fit fails with WSAEMSGSIZE; the flag is looked
    // at as well, so that a cut one is never taken.
    if (result != 0 || (message.dwFlags & MSG_TRUNC) != 0) {
        return -1;
    }
    ReadDestination(message, origin);
    return static_cast<int>(received);
}

int SendReply(SocketHandle socket, const uint8_t* data, size_t length, const QueryOrigin& origin) {
    sockaddr_storage client;
    const int clientLength = MakeClientAddress<int>(origin, client);
    if (clientLength == 0) {
        return -1;
    }
    uint8_t ipv4[4];
    char control[kControlSpace] = {};
    WSABUF payload{static_cast<ULONG>(length), reinterpret_cast<char*>(const_cast<uint8_t*>(data))};
    WSAMSG message{};
    message.name = reinterpret_cast<sockaddr*>(&client);
    message.namelen = clientLength;
    message.lpBuffers = &payload;
    message.dwBufferCount = 1;
    if (origin.destinationKnown) {
        if (origin.destinationAsIpv4 && UnmapToIpv4(origin.destination, ipv4)) {
            IN_PKTINFO info{};
            std::memcpy(&info.ipi_addr, ipv4, 4);
            message.Control = WSABUF{PutControl(control, IPPROTO_IP, IP_PKTINFO, info), control};
        } else {
            IN6_PKTINFO info{};
            std::memcpy(&info.ipi6_addr, origin.destination.bytes, 16);
            message.Control = WSABUF{PutControl(control, IPPROTO_IPV6, IPV6_PKTINFO, info), control};
        }
    }
    DWORD sent = 0;
    int result = ::WSASendMsg(Native(socket), &message, 0, &sent, nullptr, nullptr);
    if (result != 0 && origin.destinationKnown) {
        // The query's destination cannot be a source: the system picks one.
        message.Control = WSABUF{0, nullptr};
        result = ::WSASendMsg(Native(socket), &message, 0, &sent, nullptr, nullptr);
    }
    return result != 0 ? -1 : static_cast<int>(sent);
}
