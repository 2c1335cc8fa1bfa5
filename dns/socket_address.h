#pragma once

#include <cstddef>
#include <cstdint>

#include "dns/udp_socket.h"

// An IPv4 socket address (sockaddr_in) as bytes. Winsock and Linux lay it out
// alike: the family in host order, then the port and the address in network
// order, then eight zero bytes. Each socket file checks its own sockaddr_in
// against this at compile time and passes this in its place.
struct alignas(4) Ipv4SocketAddress {
    uint16_t family;
    uint8_t port[2];
    uint8_t address[4];
    uint8_t zero[8];
};

// AF_INET on both.
constexpr uint16_t kIpv4AddressFamily = 2;

// Whether a platform's sockaddr_in has the layout above.
template <typename SockaddrIn>
constexpr bool HasIpv4SocketAddressLayout() {
    return sizeof(SockaddrIn) == sizeof(Ipv4SocketAddress) && alignof(SockaddrIn) == alignof(Ipv4SocketAddress) &&
           offsetof(SockaddrIn, sin_family) == offsetof(Ipv4SocketAddress, family) &&
           sizeof(SockaddrIn::sin_family) == sizeof(Ipv4SocketAddress::family) &&
           offsetof(SockaddrIn, sin_port) == offsetof(Ipv4SocketAddress, port) &&
           offsetof(SockaddrIn, sin_addr) == offsetof(Ipv4SocketAddress, address);
}

Ipv4SocketAddress ToSocketAddress(const UdpEndpoint& endpoint);
UdpEndpoint FromSocketAddress(const Ipv4SocketAddress& address);
