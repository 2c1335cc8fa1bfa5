#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dns/forwarder_health.h"
#include "dns/udp_socket.h"

constexpr uint32_t kUpstreamReceiveTimeoutMs = 1500;
// Any UDP datagram fits: over IPv4 its payload is at most 65,507 bytes.
constexpr size_t kUpstreamReplyCapacity = 65535;

// Where the forwarders' datagrams are received, whole: Winsock fails a
// receive into a smaller buffer. The worker keeps one and hands it down, so
// that an attempt neither allocates nor clears 64 KiB.
struct UpstreamBuffer {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(kUpstreamReplyCapacity);
};

// Relays query byte for byte to the upstream server at upstreamAddress (IPv4
// dotted-decimal text) and brings back its reply unchanged. Only a datagram
// from that server's own address and port is taken; it may arrive within
// timeoutMs. False (reply empty) for an empty or invalid address, a send or
// receive failure or silence.
bool ForwardQuery(const uint8_t* query,
                  size_t length,
                  const std::string& upstreamAddress,
                  std::vector<uint8_t>& reply,
                  UpstreamBuffer& buffer,
                  uint32_t timeoutMs = kUpstreamReceiveTimeoutMs);

// A health check: a query for the root zone's NS records, which any working
// resolver answers at once from its cache, sent to the upstream server the
// way ForwardQuery sends. Returns its socket, to be looked at with
// PollHealthCheck and closed with CloseUdpSocket (kInvalidSocket when it
// could not be sent), and its ID; its times are left to the caller.
HealthCheck SendHealthCheck(const std::string& upstreamAddress);

// Whether the check's reply (whatever its response code) has come, without
// waiting; a refusal fails it.
HealthCheckReply PollHealthCheck(const HealthCheck& check, UpstreamBuffer& buffer);

// True, once, when datagram arrived on the listening socket from sender and is
// one of the last queries ForwardQuery sent, byte for byte, from that very
// local address and port: a forwarder that names this machine (any 127.x
// address or one of its own) handed the copy back to this server.
bool IsOwnForwardedQuery(const uint8_t* datagram, size_t length, const UdpEndpoint& sender);

// Upstream servers listen on port 53; tests move them. 0 restores 53.
void SetUpstreamPortForTesting(uint16_t port);
// The port queries are forwarded to: 53, or the one a test set.
uint16_t UpstreamPort();
