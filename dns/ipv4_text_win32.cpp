#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "dns/ipv4_text.h"

// inet_pton is a pure text conversion in ws2_32 and works without WSAStartup.
bool ParseIpv4Text(const std::string& text, uint8_t out[4]) {
    IN_ADDR address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
        return false;
    }
    std::memcpy(out, &address, 4);
    return true;
}
