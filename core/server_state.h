#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

#include "core/records.h"
#include "core/socket_handle.h"

struct ServerStats {
    std::atomic<uint64_t> requests{0};
    std::atomic<uint64_t> localHits{0};
    std::atomic<uint64_t> forwarded{0};
};

struct ServerState {
    std::mutex stateLock;  // guards config and nothing else
    ServerConfig config;
    std::atomic<bool> running{false};
    // Set by StopServer before it closes the socket, cleared by StartServer and
    // once the worker is joined: the worker asks no further forwarder and
    // sends no reply.
    std::atomic<bool> stopping{false};
    std::atomic<int32_t> lastSocketError{0};
    std::atomic<SocketHandle> socket{kInvalidSocket};
    std::thread worker;  // touched only on the window thread
    ServerStats stats;
};

// The one process-wide instance.
ServerState& GetServerState();
