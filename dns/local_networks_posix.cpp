#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <bit>
#include <cstring>

#include "dns/client_address.h"

namespace {

uint8_t CountPrefixBits(const uint8_t* mask, size_t size) {
    unsigned bits = 0;
    for (size_t i = 0; i < size; ++i) {
        bits += static_cast<unsigned>(std::popcount(mask[i]));
    }
    return static_cast<uint8_t>(bits);
}

}  // namespace

std::vector<LocalNetwork> ReadLocalNetworks() {
    std::vector<LocalNetwork> networks;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return networks;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr) {
            continue;
        }
        LocalNetwork network;
        if (entry->ifa_addr->sa_family == AF_INET) {
            const auto* address = reinterpret_cast<const sockaddr_in*>(entry->ifa_addr);
            network.address = MapIpv4(reinterpret_cast<const uint8_t*>(&address->sin_addr));
            if (entry->ifa_netmask != nullptr) {
                const auto* mask = reinterpret_cast<const sockaddr_in*>(entry->ifa_netmask);
                network.prefixLength = 96 + CountPrefixBits(reinterpret_cast<const uint8_t*>(&mask->sin_addr), 4);
            }
        } else if (entry->ifa_addr->sa_family == AF_INET6) {
            const auto* address = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
            std::memcpy(network.address.bytes, &address->sin6_addr, 16);
            network.address.scopeId = address->sin6_scope_id;
            if (entry->ifa_netmask != nullptr) {
                const auto* mask = reinterpret_cast<const sockaddr_in6*>(entry->ifa_netmask);
                network.prefixLength = CountPrefixBits(reinterpret_cast<const uint8_t*>(&mask->sin6_addr), 16);
            }
        } else {
            continue;
        }
        networks.push_back(network);
    }
    ::freeifaddrs(list);
    return networks;
}
