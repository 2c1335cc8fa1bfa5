#include "dns/forward.h"

#include <array>
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
    // an earlier attempt never reaches this one. Connecting it makes the
    // system drop datagrams from any other address or port, so a third party
    // that guesses the port cannot slip in a reply.
    const SocketHandle socket = OpenUdpSocket();
    if (socket == kInvalidSocket) {
        return false;
    }
    SetReceiveTimeout(socket, kUpstreamReceiveTimeoutMs);
    if (!ConnectUdpSocket(socket, upstream) || Send(socket, query, length) != static_cast<int>(length)) {
        CloseUdpSocket(socket);
        return false;
    }
    std::array<uint8_t, kUpstreamReplyCapacity> buffer;
    const int received = Receive(socket, buffer.data(), buffer.size());
    CloseUdpSocket(socket);
    if (received <= 0) {
        return false;
    }
    reply.assign(buffer.begin(), buffer.begin() + received);
    return true;
}
