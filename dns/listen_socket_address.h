#pragma once

// Socket addresses of the listening socket, shared by its two platform files,
// which include this after their own socket headers: sockaddr_in and
// sockaddr_in6 have the same fields under Winsock and POSIX.

#include <cstring>

#include "dns/listen_socket.h"

// The local address to bind: the IPv6 address given (dual-stack) or 0.0.0.0.
template <typename Length>
Length MakeLocalAddress(const uint8_t* ipv6Address, uint16_t port, sockaddr_storage& local) {
    local = sockaddr_storage{};
    if (ipv6Address != nullptr) {
        auto* address = reinterpret_cast<sockaddr_in6*>(&local);
        address->sin6_family = AF_INET6;
        address->sin6_port = htons(port);
        std::memcpy(&address->sin6_addr, ipv6Address, 16);
        return sizeof *address;
    }
    auto* address = reinterpret_cast<sockaddr_in*>(&local);
    address->sin_family = AF_INET;
    address->sin_port = htons(port);
    return sizeof *address;
}

inline uint16_t PortOf(const sockaddr_storage& address) {
    return ntohs(address.ss_family == AF_INET6 ? reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port
                                               : reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

inline void ReadSender(const sockaddr_storage& sender, QueryOrigin& origin) {
    origin.port = PortOf(sender);
    if (sender.ss_family == AF_INET6) {
        const auto* address = reinterpret_cast<const sockaddr_in6*>(&sender);
        std::memcpy(origin.client.bytes, &address->sin6_addr, 16);
        origin.client.scopeId = address->sin6_scope_id;
        origin.viaIpv6Socket = true;
    } else if (sender.ss_family == AF_INET) {
        origin.client =
            MapIpv4(reinterpret_cast<const uint8_t*>(&reinterpret_cast<const sockaddr_in*>(&sender)->sin_addr));
    }
}

// The client's address as the socket takes it (IPv6 form on a dual-stack
// socket, with the scope of a link-local client); 0 when there is none.
template <typename Length>
Length MakeClientAddress(const QueryOrigin& origin, sockaddr_storage& client) {
    client = sockaddr_storage{};
    uint8_t ipv4[4];
    if (origin.viaIpv6Socket) {
        auto* address = reinterpret_cast<sockaddr_in6*>(&client);
        address->sin6_family = AF_INET6;
        address->sin6_port = htons(origin.port);
        std::memcpy(&address->sin6_addr, origin.client.bytes, 16);
        address->sin6_scope_id = origin.client.scopeId;
        return sizeof *address;
    }
    if (!UnmapToIpv4(origin.client, ipv4)) {
        return 0;
    }
    auto* address = reinterpret_cast<sockaddr_in*>(&client);
    address->sin_family = AF_INET;
    address->sin_port = htons(origin.port);
    std::memcpy(&address->sin_addr, ipv4, 4);
    return sizeof *address;
}
