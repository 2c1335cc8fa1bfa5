#include "dns/forward.h"

#include <atomic>
#include <chrono>
#include <cstring>

#include "dns/ipv4_text.h"
#include "dns/udp_socket.h"

namespace {

constexpr uint16_t kDnsPort = 53;
std::atomic<uint16_t> upstreamPortOverride{0};

bool SameEndpoint(const UdpEndpoint& left, const UdpEndpoint& right) {
    return left.port == right.port && std::memcmp(left.address, right.address, 4) == 0;
}

// Waits for the upstream server's own datagram. Anything from another
// address or port (a third party guessing the port) is dropped and the wait
// goes on with the time that is left, so it never runs past the time-out.
int ReceiveFromUpstream(SocketHandle socket, const UdpEndpoint& upstream, uint8_t* buffer, size_t capacity) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kUpstreamReceiveTimeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            return -1;
        }
        SetReceiveTimeout(socket, static_cast<uint32_t>(left));
        UdpEndpoint from;
        const int received = ReceiveFrom(socket, buffer, capacity, from);
        if (SameEndpoint(from, upstream)) {
            return received;
        }
        // A time-out or an error without a sender ends the attempt; an
        // oversized datagram from someone else does not.
        if (received < 0 && from.port == 0) {
            return -1;
        }
    }
}

}  // namespace

void SetUpstreamPortForTesting(uint16_t port) {
    upstreamPortOverride.store(port);
}

bool ForwardQuery(const uint8_t* query,
                  size_t length,
                  const std::string& upstreamAddress,
                  std::vector<uint8_t>& reply) {
    reply.clear();
    UdpEndpoint upstream;
    if (upstreamAddress.empty() || !ParseIpv4Text(upstreamAddress, upstream.address)) {
        return false;
    }
    const uint16_t portOverride = upstreamPortOverride.load();
    upstream.port = portOverride != 0 ? portOverride : kDnsPort;

    // A fresh socket per attempt gets a fresh local port, so a late reply to
    // an earlier attempt never reaches this one. Connecting it leaves the
    // system to drop datagrams from anyone else and to report a refusal from
    // the server at once (an unconnected POSIX socket never hears of it); the
    // sender is still checked on every datagram.
    const SocketHandle socket = OpenUdpSocket();
    if (socket == kInvalidSocket) {
        return false;
    }
    if (!ConnectUdpSocket(socket, upstream)) {
        CloseUdpSocket(socket);
        return false;
    }
    if (SendTo(socket, query, length, upstream) != static_cast<int>(length)) {
        CloseUdpSocket(socket);
        return false;
    }
    // Received straight into the reply: the worker reuses one reply buffer,
    // so after its first forwarded query this neither allocates nor copies.
    reply.resize(kUpstreamReplyCapacity);
    const int received = ReceiveFromUpstream(socket, upstream, reply.data(), reply.size());
    CloseUdpSocket(socket);
    if (received <= 0) {
        reply.clear();
        return false;
    }
    reply.resize(static_cast<size_t>(received));
    return true;
}
