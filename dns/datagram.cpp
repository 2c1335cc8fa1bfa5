#include "dns/datagram.h"

#include <cstdio>

#include "dns/resolve.h"

std::string FormatIpv4Address(const uint8_t address[4]) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
    return text;
}

std::string FormatQueryLogLine(const std::string& clientAddress, const DnsQuestion& question) {
    std::string line = "Q from " + clientAddress + " name=";
    line.reserve(line.size() + question.name.size() + 12);
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
    line += std::to_string(question.qtype);
    return line;
}

bool HandleQueryDatagram(const uint8_t* datagram,
                         size_t length,
                         const std::string& clientAddress,
                         void (*logLine)(std::string_view),
                         std::vector<uint8_t>& reply) {
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
    return ResolveQuery(datagram, length, question, reply);
}
