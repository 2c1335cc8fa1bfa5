#include "dns/socket_address.h"

#include <cstring>

Ipv4SocketAddress ToSocketAddress(const UdpEndpoint& endpoint) {
    Ipv4SocketAddress address{};
    address.family = kIpv4AddressFamily;
    address.port[0] = static_cast<uint8_t>(endpoint.port >> 8);
    address.port[1] = static_cast<uint8_t>(endpoint.port & 0xFF);
    std::memcpy(address.address, endpoint.address, sizeof address.address);
    return address;
}

UdpEndpoint FromSocketAddress(const Ipv4SocketAddress& address) {
    UdpEndpoint endpoint;
    endpoint.port = static_cast<uint16_t>((address.port[0] << 8) | address.port[1]);
    std::memcpy(endpoint.address, address.address, sizeof endpoint.address);
    return endpoint;
}
