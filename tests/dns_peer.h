#pragma once

// Real UDP peers for the DNS service tests: a client, a scripted upstream
// server and helpers to build query bytes and read the event log.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "dns/udp_socket.h"
#include "test_support.h"

namespace dns_peer {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

inline UdpEndpoint Endpoint(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint16_t port) {
    UdpEndpoint endpoint;
    endpoint.address[0] = a;
    endpoint.address[1] = b;
    endpoint.address[2] = c;
    endpoint.address[3] = d;
    endpoint.port = port;
    return endpoint;
}

// A query with the given header bytes and a question made of raw labels, so
// tests can put any byte into a name.
inline Bytes MakeQuery(uint16_t id, const std::vector<std::string>& labels, uint16_t qtype, uint8_t flagsHigh = 0x01) {
    Bytes query = {static_cast<uint8_t>(id >> 8), static_cast<uint8_t>(id), flagsHigh, 0x00, 0, 1, 0, 0, 0, 0, 0, 0};
    for (const std::string& label : labels) {
        query.push_back(static_cast<uint8_t>(label.size()));
        query.insert(query.end(), label.begin(), label.end());
    }
    query.push_back(0);
    query.push_back(static_cast<uint8_t>(qtype >> 8));
    query.push_back(static_cast<uint8_t>(qtype));
    query.push_back(0);
    query.push_back(1);
    return query;
}

inline std::string Hex(const Bytes& bytes) {
    std::string text;
    char pair[4];
    for (uint8_t byte : bytes) {
        std::snprintf(pair, sizeof pair, "%02x ", byte);
        text += pair;
    }
    return text;
}

// One bound UDP socket with a receive time-out, closed at the end of scope.
// Port 0 takes a port that the system assigns; local() tells which.
class Peer {
  public:
    explicit Peer(const UdpEndpoint& local, uint32_t timeoutMs = 3000) {
        socket_ = OpenUdpSocket();
        bound_ = socket_ != kInvalidSocket && BindUdpSocket(socket_, local) && LocalEndpoint(socket_, local_);
        if (socket_ != kInvalidSocket) {
            SetReceiveTimeout(socket_, timeoutMs);
        }
    }
    ~Peer() { Close(); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    bool bound() const { return bound_; }
    const UdpEndpoint& local() const { return local_; }

    bool SendTo(const Bytes& data, const UdpEndpoint& to) {
        return ::SendTo(socket_, data.data(), data.size(), to) == static_cast<int>(data.size());
    }
    // Empty optional-like result: false when nothing arrived in time.
    bool Receive(Bytes& data, UdpEndpoint& from) {
        data.assign(4096, 0);
        const int received = ReceiveFrom(socket_, data.data(), data.size(), from);
        if (received < 0) {
            data.clear();
            return false;
        }
        data.resize(static_cast<size_t>(received));
        return true;
    }
    // Connects the socket to itself: it keeps its port, but takes datagrams
    // only from itself, so the system refuses everyone else's as it would at
    // a closed port (ICMP port unreachable).
    bool RefuseOthers() { return bound_ && ConnectUdpSocket(socket_, local_); }
    void Close() {
        if (socket_ != kInvalidSocket) {
            CloseUdpSocket(socket_);
            socket_ = kInvalidSocket;
        }
    }

  private:
    SocketHandle socket_ = kInvalidSocket;
    bool bound_ = false;
    UdpEndpoint local_;
};

// Peers on several addresses that share one port, which the system assigned
// to the first. Another program may hold that port on a later address, so a
// few ports are tried. Wine binds any 127.x address to the whole loopback
// device, so there a later address may stay unbound (see bound()).
class SharedPortPeers {
  public:
    explicit SharedPortPeers(std::initializer_list<std::array<uint8_t, 4>> addresses, uint32_t timeoutMs = 3000) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            peers_.clear();
            uint16_t port = 0;
            bool all = true;
            for (const std::array<uint8_t, 4>& address : addresses) {
                peers_.push_back(
                    std::make_unique<Peer>(Endpoint(address[0], address[1], address[2], address[3], port), timeoutMs));
                all = all && peers_.back()->bound();
                port = peers_.front()->local().port;
            }
            if (all || !peers_.front()->bound()) {
                return;
            }
        }
    }

    Peer& operator[](size_t index) { return *peers_[index]; }
    uint16_t port() const { return peers_.front()->local().port; }

  private:
    std::vector<std::unique_ptr<Peer>> peers_;
};

// Messages of the log, timestamps and CR LF removed.
inline std::vector<std::string> LogMessages(const std::filesystem::path& path) {
    const std::string log = test_support::ReadBytes(path);
    std::vector<std::string> messages;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find("\r\n", start);
        if (end == std::string::npos) {
            end = log.size();
        }
        messages.push_back(end - start >= 20 ? log.substr(start + 20, end - start - 20)
                                             : log.substr(start, end - start));
        start = end + 2;
    }
    return messages;
}

inline int CountMessages(const std::filesystem::path& path, const std::string& message) {
    int count = 0;
    for (const std::string& line : LogMessages(path)) {
        count += line == message ? 1 : 0;
    }
    return count;
}

// Polls until condition holds or the time is up; true when it held. The limit
// only ends a wait for something that never comes, so it is generous.
template <typename Condition>
bool WaitFor(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(30)) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

inline double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace dns_peer
