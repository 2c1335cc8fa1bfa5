#pragma once

#include <cstdio>
#include <string>

#include "core/server_state.h"

// Helpers shared by the configuration tests and the configuration fuzzer.
namespace config_test {

// Printable form of a byte string for failure messages.
inline std::string Visible(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7F && c != '\\') {
            out += c;
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        }
    }
    return out;
}

inline void CompareField(std::string& out, const std::string& field, const std::string& a, const std::string& b) {
    if (out.empty() && a != b) {
        out = field + ": [" + Visible(a) + "] vs [" + Visible(b) + "]";
    }
}

// Empty when both records are equal in every field, otherwise the first field
// that differs with both values.
inline std::string DescribeDifference(const DnsRecord& a, const DnsRecord& b, const std::string& prefix = "") {
    std::string out;
    CompareField(out, prefix + "enabled", a.enabled ? "1" : "0", b.enabled ? "1" : "0");
    CompareField(out, prefix + "type", std::to_string(a.type), std::to_string(b.type));
    CompareField(out, prefix + "name", a.name, b.name);
    CompareField(out, prefix + "value", a.value, b.value);
    CompareField(out, prefix + "ttl", std::to_string(a.ttl), std::to_string(b.ttl));
    return out;
}

inline std::string DescribeDifference(const ServerConfig& a, const ServerConfig& b) {
    std::string out;
    CompareField(out, "forwarding.dns1", a.forwarding.dns1, b.forwarding.dns1);
    CompareField(out, "forwarding.dns2", a.forwarding.dns2, b.forwarding.dns2);
    CompareField(out, "forwarding.dns3", a.forwarding.dns3, b.forwarding.dns3);
    for (size_t slot = 0; slot < a.records.size() && out.empty(); ++slot) {
        out = DescribeDifference(a.records[slot], b.records[slot], "records[" + std::to_string(slot) + "].");
    }
    return out;
}

// Two upstream servers, an A record in slot 0 and an MX record in slot 1.
inline ServerConfig WorkedExampleConfig() {
    ServerConfig config;
    config.forwarding.dns1 = "192.0.2.53";
    config.forwarding.dns2 = "198.51.100.53";
    config.records[0].enabled = true;
    config.records[0].type = kTypeA;
    config.records[0].name = "nas.home.test";
    config.records[0].value = "192.0.2.10";
    config.records[0].ttl = 300;
    config.records[1].enabled = true;
    config.records[1].type = kTypeMx;
    config.records[1].name = "home.test";
    config.records[1].value = "mail.home.test";
    config.records[1].ttl = 600;
    return config;
}

}  // namespace config_test
