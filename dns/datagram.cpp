#include "dns/datagram.h"

#include <charconv>
#include <cstdio>

#include "dns/resolve.h"

std::string FormatIpv4Address(const uint8_t address[4]) {
    char text[16];
    size_t length = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            text[length++] = '.';
        }
        const unsigned value = address[part];
        if (value >= 100) {
            text[length++] = static_cast<char>('0' + value / 100);
        }
        if (value >= 10) {
            text[length++] = static_cast<char>('0' + value / 10 % 10);
        }
        text[length++] = static_cast<char>('0' + value % 10);
    }
    return std::string(text, length);
}

std::string FormatQueryLogLine(const std::string& clientAddress, const DnsQuestion& question) {
    std::string line;
    line.reserve(7 + clientAddress.size() + 6 + question.name.size() + 6 + 5);
    line += "Q from ";
    line += clientAddress;
    line += " name=";
    for (const char byte : question.name) {
        const auto value = static_cast<unsigned char>(byte);
        if (value < 0x20 || value == 0x7F) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\%03u", value);
            line += escaped;
        } else {
            line += byte;
        }
    }
    line += " type=";
    char digits[8];
    const std::to_chars_result written = std::to_chars(digits, digits + sizeof digits, question.qtype);
    line.append(digits, written.ptr);
    return line;
}

bool HandleQueryDatagram(const uint8_t* datagram,
                         size_t length,
                         const std::string& clientAddress,
                         void (*logLine)(std::string_view),
                         std::vector<uint8_t>& reply,
                         UpstreamBuffer& buffer) {
    reply.clear();
    DnsQuestion question;
    if (!ParseQuestion(datagram, length, question)) {
        return false;
    }
    // A datagram with QR set is somebody's response. Answering it could bounce
    // between two servers (or this one and itself through a forwarder) for
    // ever, so it is treated like one that does not parse.
    constexpr uint8_t kResponseFlag = 0x80;
    if ((datagram[2] & kResponseFlag) != 0) {
        return false;
    }
    logLine(FormatQueryLogLine(clientAddress, question));
    return ResolveQuery(datagram, length, question, reply, buffer);
}
