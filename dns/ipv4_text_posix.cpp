#include <arpa/inet.h>

#include <cstring>

#include "dns/ipv4_text.h"

bool ParseIpv4Text(const std::string& text, uint8_t out[4]) {
    in_addr address{};
    if (inet_pton(AF_INET, text.c_str(), &address) != 1) {
        return false;
    }
    std::memcpy(out, &address, 4);
    return true;
}
