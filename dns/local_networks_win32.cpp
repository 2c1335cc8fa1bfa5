#include <winsock2.h>
#include <ws2tcpip.h>
// after winsock2.h
#include <iphlpapi.h>

#include <cstring>

#include "dns/client_address.h"

std::vector<LocalNetwork> ReadLocalNetworks() {
    std::vector<LocalNetwork> networks;
    constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    // The list's size can grow between the two calls when an adapter comes up.
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result = ERROR_BUFFER_OVERFLOW;
    for (int attempt = 0; attempt < 3 && result == ERROR_BUFFER_OVERFLOW; ++attempt) {
        buffer.resize(size);
        result = ::GetAdaptersAddresses(AF_UNSPEC, kFlags, nullptr,
                                        reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()), &size);
    }
    if (result != NO_ERROR) {
        return networks;
    }
    for (auto* adapter = reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()); adapter != nullptr;
         adapter = adapter->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            const sockaddr* address = unicast->Address.lpSockaddr;
            LocalNetwork network;
            if (address->sa_family == AF_INET) {
                const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(address);
                network.address = MapIpv4(reinterpret_cast<const uint8_t*>(&ipv4->sin_addr));
                network.prefixLength =
                    unicast->OnLinkPrefixLength <= 32 ? static_cast<uint8_t>(96 + unicast->OnLinkPrefixLength) : 0;
            } else if (address->sa_family == AF_INET6) {
                const auto* ipv6 = reinterpret_cast<const sockaddr_in6*>(address);
                std::memcpy(network.address.bytes, &ipv6->sin6_addr, 16);
                network.address.scopeId = ipv6->sin6_scope_id;
                network.prefixLength = unicast->OnLinkPrefixLength;
            } else {
                continue;
            }
            networks.push_back(network);
        }
    }
    return networks;
}
