#include "dns/forward.h"

#include <array>
#include <atomic>
#include <cstring>
#include <mutex>

#include "dns/ipv4_text.h"

namespace {

constexpr uint16_t kDnsPort = 53;
std::atomic<uint16_t> upstreamPortOverride{0};

uint64_t Fingerprint(const uint8_t* bytes, size_t length) {
    uint64_t hash = 0xcbf29ce484222325ULL;  // FNV-1a
    for (size_t i = 0; i < length; ++i) {
        hash = (hash ^ bytes[i]) * 0x100000001b3ULL;
    }
    return hash;
}

bool SameEndpoint(const UdpEndpoint& left, const UdpEndpoint& right) {
    return left.port == right.port && std::memcmp(left.address, right.address, sizeof left.address) == 0;
}

// The last queries sent to forwarders, each with the local address and port
// it left from. A forwarder that names this machine delivers the copy to our
// own listening socket, where the worker reads it only after the attempt has
// timed out; taken for a new query it would be forwarded again, for ever.
// Matching the bytes as well as the origin means a socket that later gets the
// same port can never have its own query taken for a copy, so an entry may
// stay until the ring wraps: 256 attempts outlast any backlog a client would
// wait for, however long the queue ahead of the copy takes.
struct SentQuery {
    UdpEndpoint from;  // port 0: free or already matched
    size_t length = 0;
    uint64_t fingerprint = 0;
};

constexpr size_t kRememberedQueries = 256;
// Entries counted per bucket of local ports: a sender whose bucket is empty is
// none of ours, and the ring need not be searched for it.
constexpr size_t kPortBuckets = 4096;

struct SentQueries {
    std::mutex lock;
    std::array<SentQuery, kRememberedQueries> ring;
    size_t next = 0;
    std::array<uint16_t, kPortBuckets> entriesInBucket{};

    uint16_t& Bucket(uint16_t port) { return entriesInBucket[port % kPortBuckets]; }

    void Forget(SentQuery& query) {
        if (query.from.port != 0) {
            --Bucket(query.from.port);
            query.from.port = 0;
        }
    }
};

SentQueries& Sent() {
    static SentQueries sent;
    return sent;
}

void RememberSentQuery(const UdpEndpoint& from, const uint8_t* query, size_t length) {
    SentQueries& sent = Sent();
    const uint64_t fingerprint = Fingerprint(query, length);
    std::lock_guard<std::mutex> hold(sent.lock);
    SentQuery& slot = sent.ring[sent.next];
    sent.Forget(slot);
    slot = SentQuery{from, length, fingerprint};
    ++sent.Bucket(from.port);
    sent.next = (sent.next + 1) % kRememberedQueries;
}

}  // namespace

bool IsOwnForwardedQuery(const uint8_t* datagram, size_t length, const UdpEndpoint& sender) {
    SentQueries& sent = Sent();
    std::lock_guard<std::mutex> hold(sent.lock);
    if (sender.port == 0 || sent.Bucket(sender.port) == 0) {
        return false;
    }
    for (SentQuery& query : sent.ring) {
        if (SameEndpoint(query.from, sender) && query.length == length &&
            query.fingerprint == Fingerprint(datagram, length)) {
            sent.Forget(query);  // each copy arrives once
            return true;
        }
    }
    return false;
}

void SetUpstreamPortForTesting(uint16_t port) {
    upstreamPortOverride.store(port);
}

uint16_t UpstreamPort() {
    const uint16_t portOverride = upstreamPortOverride.load();
    return portOverride != 0 ? portOverride : kDnsPort;
}

namespace {

// Sends query to the upstream server on a fresh socket connected to it, and
// returns that socket (kInvalidSocket when nothing was sent). A fresh socket
// per attempt gets a fresh local port, so a late reply to an earlier attempt
// never reaches this one. Connected to the server, it receives only that
// server's datagrams (a third party guessing the port is dropped by the
// system and does not end the wait), and a refusal from the server ends the
// receive at once.
SocketHandle SendToUpstream(const uint8_t* query, size_t length, const std::string& upstreamAddress) {
    UdpEndpoint upstream;
    if (upstreamAddress.empty() || !ParseIpv4Text(upstreamAddress, upstream.address)) {
        return kInvalidSocket;
    }
    upstream.port = UpstreamPort();
    const SocketHandle socket = OpenUdpSocket();
    if (socket == kInvalidSocket) {
        return kInvalidSocket;
    }
    if (!ConnectUdpSocket(socket, upstream)) {
        CloseUdpSocket(socket);
        return kInvalidSocket;
    }
    // Connecting chose the local address and port, which are what the
    // listening socket sees as the sender if the copy comes back to it.
    UdpEndpoint local;
    if (LocalEndpoint(socket, local) && local.port != 0) {
        RememberSentQuery(local, query, length);
    }
    if (SendTo(socket, query, length, upstream) != static_cast<int>(length)) {
        CloseUdpSocket(socket);
        return kInvalidSocket;
    }
    return socket;
}

// Receives one datagram of any size into reply (its bytes alone; empty on a
// failure) and returns ReceiveFrom's result. The worker's buffer is kept, so
// a forwarded query does not clear 64 KiB each time.
int ReceiveWhole(SocketHandle socket, std::vector<uint8_t>& reply) {
    thread_local std::vector<uint8_t> buffer(kUpstreamReplyCapacity);
    UdpEndpoint from;
    const int received = ReceiveFrom(socket, buffer.data(), buffer.size(), from);
    reply.assign(buffer.begin(), buffer.begin() + (received > 0 ? received : 0));
    return received;
}

}  // namespace

bool ForwardQuery(const uint8_t* query,
                  size_t length,
                  const std::string& upstreamAddress,
                  std::vector<uint8_t>& reply,
                  uint32_t timeoutMs) {
    reply.clear();
    const SocketHandle socket = SendToUpstream(query, length, upstreamAddress);
    if (socket == kInvalidSocket) {
        return false;
    }
    if (!SetReceiveTimeout(socket, timeoutMs)) {
        CloseUdpSocket(socket);
        return false;
    }
    const int received = ReceiveWhole(socket, reply);
    CloseUdpSocket(socket);
    if (received <= 0) {
        reply.clear();
        return false;
    }
    return true;
}

SocketHandle SendHealthCheck(const std::string& upstreamAddress) {
    static std::atomic<uint16_t> nextId{static_cast<uint16_t>(ForwarderClock::now().time_since_epoch().count())};
    const uint16_t id = nextId.fetch_add(0x9E37);  // apart, so that IDs do not repeat soon
    // ID; flags: RD; one question: the root name, NS, IN.
    uint8_t check[] = {0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                       0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01};
    check[0] = static_cast<uint8_t>(id >> 8);
    check[1] = static_cast<uint8_t>(id);
    return SendToUpstream(check, sizeof check, upstreamAddress);
}

HealthCheckReply PollHealthCheck(SocketHandle socket) {
    if (!DatagramWaiting(socket)) {
        return HealthCheckReply::kNothingYet;
    }
    std::vector<uint8_t> reply;
    return ReceiveWhole(socket, reply) >= 0 ? HealthCheckReply::kAnswered : HealthCheckReply::kFailed;
}
