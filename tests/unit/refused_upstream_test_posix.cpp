// A forwarder whose port is closed answers with a refusal (ICMP port
// unreachable). Linux and Windows pass it on to the connected forwarding
// socket, so the attempt ends at once instead of waiting out the time-out;
// Wine 8 drops it, which is why these cases run in the native build only.

#include <gtest/gtest.h>

#include <thread>

#include "core/server_state.h"
#include "dns/forward.h"
#include "dns/resolve.h"
#include "dns_peer.h"
#include "test_support.h"

namespace {

using dns_peer::Bytes;
using dns_peer::Endpoint;
using dns_peer::Peer;

class RefusedUpstream : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(StartSocketLayer()); }
    void TearDown() override {
        SetUpstreamPortForTesting(0);
        test_support::SetLiveConfig(ServerConfig{});
        StopSocketLayer();
    }
    UpstreamBuffer buffer_;
};

// The time is what these cases are about: a refused attempt ends at once, a
// silent one only after its 1.5 s (kUpstreamReceiveTimeoutMs). The bound of
// 1 s leaves room for a slow machine and still tells the two apart.
TEST_F(RefusedUpstream, ForwardAttemptEndsAtOnce) {
    // The port stays this socket's own, so nobody else can open it meanwhile.
    Peer closed(Endpoint(127, 0, 0, 1, 0));
    ASSERT_TRUE(closed.RefuseOthers());
    SetUpstreamPortForTesting(closed.local().port);
    const Bytes query = dns_peer::MakeQuery(0xBEEF, {"www", "example"}, 1);
    Bytes reply = {1};
    const auto start = dns_peer::Clock::now();
    EXPECT_FALSE(ForwardQuery(query.data(), query.size(), "127.0.0.1", reply, buffer_));
    EXPECT_LT(dns_peer::SecondsSince(start), 1.0);
    EXPECT_TRUE(reply.empty());
    // A health check fails as soon as the refusal is there.
    const HealthCheck check = SendHealthCheck("127.0.0.1");
    ASSERT_NE(check.socket, kInvalidSocket);
    EXPECT_TRUE(dns_peer::WaitFor([&] { return PollHealthCheck(check, buffer_) == HealthCheckReply::kFailed; },
                                  std::chrono::seconds(1)));
    CloseUdpSocket(check.socket);
}

// 127.0.0.3 is asked first and refuses; 127.0.0.1 answers on the same port.
TEST_F(RefusedUpstream, NextForwarderIsAskedWithoutWaiting) {
    ServerConfig config;
    config.forwarding = {"127.0.0.3", "127.0.0.1", ""};
    test_support::SetLiveConfig(config);
    dns_peer::SharedPortPeers peers({{127, 0, 0, 1}, {127, 0, 0, 3}});
    Peer& upstream = peers[0];
    ASSERT_TRUE(upstream.bound());
    ASSERT_TRUE(peers[1].RefuseOthers());
    SetUpstreamPortForTesting(peers.port());
    const Bytes answer = {0x00, 0x07, 0x81, 0x80};
    std::thread server([&] {
        Bytes received;
        UdpEndpoint from;
        if (upstream.Receive(received, from)) {
            upstream.SendTo(answer, from);
        }
    });
    const Bytes query = dns_peer::MakeQuery(7, {"elsewhere", "example"}, 1);
    Bytes reply;
    const auto start = dns_peer::Clock::now();
    const bool answered = ResolveQuery(query.data(), query.size(), DnsQuestion{"elsewhere.example", 1}, reply, buffer_);
    const double waited = dns_peer::SecondsSince(start);
    server.join();
    ASSERT_TRUE(answered);
    EXPECT_LT(waited, 1.0);
    EXPECT_EQ(reply, answer);
}

}  // namespace
