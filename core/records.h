#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// One local record slot. Writers never store a trailing dot in name or value
// and never store a ttl of 0.
struct DnsRecord {
    int32_t type = 1;  // 1 (A) or 15 (MX)
    std::string name;
    std::string value;
    uint32_t ttl = 60;
    bool enabled = false;
};

// The three upstream servers as typed by the user (IPv4 text, port 53 implied).
struct ForwarderSettings {
    std::string dns1;
    std::string dns2;
    std::string dns3;
};

constexpr std::size_t kRecordSlotCount = 20;

struct ServerConfig {
    ForwarderSettings forwarding;
    std::array<DnsRecord, kRecordSlotCount> records;
};
