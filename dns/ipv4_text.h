#pragma once

#include <cstdint>
#include <string>

// Dotted-decimal IPv4 text to four bytes in network order, exactly as the
// platform's inet_pton(AF_INET) accepts it. False leaves out untouched.
bool ParseIpv4Text(const std::string& text, uint8_t out[4]);
