#include "dns/forward.h"

#include <atomic>

#include "dns/ipv4_text.h"
#include "dns/udp_socket.h"

namespace {

constexpr uint16_t kDnsPort = 53;
std::atomic<uint16_t> upstreamPortOverride{0};

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
    // an earlier attempt never reaches this one. Connected to the server, it
    // receives only that server's datagrams (a third party guessing the port
    // is dropped by the system and does not end the wait), and a refusal from
    // the server ends the receive at once.
    const SocketHandle socket = OpenUdpSocket();
    if (socket == kInvalidSocket) {
        return false;
    }
    if (!ConnectUdpSocket(socket, upstream) || !SetReceiveTimeout(socket, kUpstreamReceiveTimeoutMs)) {
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
    UdpEndpoint from;
    const int received = ReceiveFrom(socket, reply.data(), reply.size(), from);
    CloseUdpSocket(socket);
    if (received <= 0) {
        reply.clear();
        return false;
    }
    reply.resize(static_cast<size_t>(received));
    return true;
}
