#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// The DNS type codes the program knows: a local record is A or MX, and a
// question for ANY is answered by either. AAAA and HTTPS questions for a name
// with a local address get an empty answer.
constexpr uint16_t kTypeA = 1;
constexpr uint16_t kTypeMx = 15;
constexpr uint16_t kTypeAaaa = 28;
constexpr uint16_t kTypeHttps = 65;
constexpr uint16_t kTypeAny = 255;

// The TTL a slot holds when none, or 0, was given.
constexpr uint32_t kDefaultTtl = 60;

// One local record slot. Writers never store a trailing dot in name or value
// and never store a ttl of 0.
struct DnsRecord {
    int32_t type = kTypeA;  // kTypeA or kTypeMx
    std::string name;
    std::string value;
    uint32_t ttl = kDefaultTtl;
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
