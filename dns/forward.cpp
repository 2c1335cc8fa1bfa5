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

// Receives one datagram into buffer and copies its bytes alone to reply
// (empty on a failure); returns ReceiveFrom's result.
int ReceiveWhole(SocketHandle socket, UpstreamBuffer& buffer, std::vector<uint8_t>& reply) {
    UdpEndpoint from;
    const int received = ReceiveFrom(socket, buffer.bytes.data(), buffer.bytes.size(), from);
    reply.assign(buffer.bytes.begin(), buffer.bytes.begin() + (received > 0 ? received : 0));
    return received;
}

}  // namespace

bool ForwardQuery(const uint8_t* query,
                  size_t length,
                  const std::string& upstreamAddress,
                  std::vector<uint8_t>& reply,
                  UpstreamBuffer& buffer,
                  uint32_t timeoutMs) {
    reply.clear();
    const SocketHandle socket = SendToUpstream(query, length, upstreamAddress);
    if (socket == kInvalidSocket) {
        return false;
    }
    const bool answered = SetReceiveTimeout(socket, timeoutMs) && ReceiveWhole(socket, buffer, reply) > 0;
    CloseUdpSocket(socket);
    return answered;
}

HealthCheck SendHealthCheck(const std::string& upstreamAddress) {
    static std::atomic<uint16_t> nextId{static_cast<uint16_t>(ForwarderClock::now().time_since_epoch().count())};
    HealthCheck check;
    check.id = nextId.fetch_add(0x9E37);  // apart, so that IDs do not repeat soon
    // ID; flags: RD; one question: the root name, NS, IN.
    uint8_t query[] = {0x00, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                       0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01};
    query[0] = static_cast<uint8_t>(check.id >> 8);
    query[1] = static_cast<uint8_t>(check.id);
    check.socket = SendToUpstream(query, sizeof query, upstreamAddress);
    return check;
}

// Only a DNS reply to the check answers it: a header at least, QR set and the
// check's own ID. Anything else waiting on its socket is read and dropped, and
// the check goes on waiting.
HealthCheckReply PollHealthCheck(const HealthCheck& check, UpstreamBuffer& buffer) {
    constexpr int kHeaderSize = 12;
    const uint8_t* reply = buffer.bytes.data();
    while (DatagramWaiting(check.socket)) {
        UdpEndpoint from;
        const int received = ReceiveFrom(check.socket, buffer.bytes.data(), buffer.bytes.size(), from);
        if (received < 0) {
            return HealthCheckReply::kFailed;
        }
        if (received >= kHeaderSize && (reply[2] & 0x80) != 0 && reply[0] == static_cast<uint8_t>(check.id >> 8) &&
            reply[1] == static_cast<uint8_t>(check.id)) {
            return HealthCheckReply::kAnswered;
        }
    }
    return HealthCheckReply::kNothingYet;
}
