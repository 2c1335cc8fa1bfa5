#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

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

struct ServerStats {
    std::atomic<uint64_t> requests{0};
    std::atomic<uint64_t> localHits{0};
    std::atomic<uint64_t> forwarded{0};
};

// A socket handle wide enough for a Winsock SOCKET and a POSIX descriptor.
using SocketHandle = std::uintptr_t;
constexpr SocketHandle kInvalidSocket = ~SocketHandle{0};

struct ServerState {
    std::mutex stateLock;  // guards config and nothing else
    ServerConfig config;
    std::atomic<bool> running{false};
    std::atomic<int32_t> lastSocketError{0};
    std::atomic<SocketHandle> socket{kInvalidSocket};
    std::thread worker;  // touched only on the window thread
    ServerStats stats;
};

// The one process-wide instance.
ServerState& GetServerState();
