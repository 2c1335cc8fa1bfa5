#include "dns/forward.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <string>
#include <thread>

#include "dns/codec.h"
#include "dns_peer.h"

namespace {

using dns_peer::Bytes;
using dns_peer::Endpoint;
using dns_peer::Peer;

class Forwarding : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(StartSocketLayer()); }
    void TearDown() override {
        SetUpstreamPortForTesting(0);
        StopSocketLayer();
    }

    const Bytes query_ = dns_peer::MakeQuery(0xBEEF, {"www", "example"}, 1);
    UpstreamBuffer buffer_;
};

TEST_F(Forwarding, RelaysQueryAndReplyByteForByte) {
    Peer upstream(Endpoint(127, 0, 0, 1, 0));
    ASSERT_TRUE(upstream.bound());
    SetUpstreamPortForTesting(upstream.local().port);
    // Another ID, odd flags and trailing bytes: nothing is checked or changed.
    const Bytes answer = {0x00, 0x01, 0xff, 0xff, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7f};
    Bytes received;
    std::thread server([&] {
        UdpEndpoint from;
        if (upstream.Receive(received, from)) {
            upstream.SendTo(answer, from);
        }
    });
    Bytes reply = {9, 9, 9};
    const bool ok = ForwardQuery(query_.data(), query_.size(), "127.0.0.1", reply, buffer_);
    server.join();
    ASSERT_TRUE(ok);
    EXPECT_EQ(received, query_) << dns_peer::Hex(received);
    EXPECT_EQ(reply, answer) << dns_peer::Hex(reply);
}

// Every reply comes back whole, up to the largest UDP payload over IPv4 (a
// client that asked with EDNS for a big answer gets it). The worker hands
// every attempt the same reply buffer, so whatever an earlier, longer reply
// left in it must never show.
TEST_F(Forwarding, RepliesOfEverySizeComeBackWholeInAReusedBuffer) {
    Peer upstream(Endpoint(127, 0, 0, 1, 0));
    ASSERT_TRUE(upstream.bound());
    SetUpstreamPortForTesting(upstream.local().port);
    Bytes reply;
    for (const size_t size : {size_t{3000}, size_t{65507}, size_t{5}, size_t{2049}, size_t{1}}) {
        Bytes answer(size);
        for (size_t i = 0; i < size; ++i) answer[i] = static_cast<uint8_t>(size + i * 7);
        std::thread server([&] {
            Bytes received;
            UdpEndpoint from;
            if (upstream.Receive(received, from)) {
                upstream.SendTo(answer, from);
            }
        });
        const bool ok = ForwardQuery(query_.data(), query_.size(), "127.0.0.1", reply, buffer_);
        server.join();
        ASSERT_TRUE(ok) << size;
        EXPECT_EQ(reply, answer) << size;
    }
}

// The check is a query that a resolver answers from its cache (the root's
// name servers, recursion desired). Only a DNS reply to it answers it,
// whatever its response code and size: an empty or short datagram, a query or
// a reply under another ID is dropped, and the check waits on.
TEST_F(Forwarding, HealthCheckIsAnsweredOnlyByAReplyToIt) {
    Peer upstream(Endpoint(127, 0, 0, 1, 0));
    ASSERT_TRUE(upstream.bound());
    SetUpstreamPortForTesting(upstream.local().port);
    EXPECT_EQ(SendHealthCheck("127.0.0.1:53").socket, kInvalidSocket);
    const HealthCheck check = SendHealthCheck("127.0.0.1");
    ASSERT_NE(check.socket, kInvalidSocket);
    EXPECT_EQ(PollHealthCheck(check, buffer_), HealthCheckReply::kNothingYet);
    Bytes received;
    UdpEndpoint from;
    ASSERT_TRUE(upstream.Receive(received, from));
    DnsQuestion question;
    ASSERT_TRUE(ParseQuestion(received.data(), received.size(), question)) << dns_peer::Hex(received);
    EXPECT_EQ(question.name, "");
    EXPECT_EQ(question.qtype, 2);  // NS
    EXPECT_EQ(received[2] & 0x81, 0x01) << "a query with recursion desired";
    Bytes refused(3000, 0);  // QR RD RA, REFUSED, padded past any small buffer
    const uint8_t header[] = {received[0], received[1], 0x81, 0x85};
    std::copy(std::begin(header), std::end(header), refused.begin());
    Bytes otherId = refused;
    otherId[1] ^= 1;
    Bytes asQuery = refused;
    asQuery[2] = 0x01;
    for (const Bytes& datagram : {Bytes{}, Bytes(refused.begin(), refused.begin() + 11), asQuery, otherId}) {
        ASSERT_TRUE(upstream.SendTo(datagram, from));
        ASSERT_TRUE(dns_peer::WaitFor([&] { return DatagramWaiting(check.socket); }));
        EXPECT_EQ(PollHealthCheck(check, buffer_), HealthCheckReply::kNothingYet) << datagram.size() << " bytes";
    }
    ASSERT_TRUE(upstream.SendTo(refused, from));
    EXPECT_TRUE(dns_peer::WaitFor([&] { return PollHealthCheck(check, buffer_) == HealthCheckReply::kAnswered; }));
    CloseUdpSocket(check.socket);
}

TEST_F(Forwarding, UnusableAddressTextsFailAtOnce) {
    const char* texts[] = {"",           "1.2.3",     "1.2.3.4.5", "127.0.0.2:53", " 127.0.0.2",
                           "127.0.0.2 ", "localhost", "::1",       "256.0.0.1",    "127.0.0.2\n"};
    const auto start = dns_peer::Clock::now();
    for (const char* text : texts) {
        Bytes reply = {1};
        EXPECT_FALSE(ForwardQuery(query_.data(), query_.size(), text, reply, buffer_)) << text;
        EXPECT_TRUE(reply.empty()) << text;
    }
    EXPECT_LT(dns_peer::SecondsSince(start), 1.0);  // not even one attempt of 1.5 s
}

// The time is the behaviour here: one attempt waits 1.5 s, and an upper bound
// of 3 s tells it from two attempts or none that ends, with room for a slow
// machine.
TEST_F(Forwarding, SilentServerCostsOneTimeout) {
    Peer silent(Endpoint(127, 0, 0, 3, 0));
    ASSERT_TRUE(silent.bound());
    SetUpstreamPortForTesting(silent.local().port);
    Bytes reply;
    const auto start = dns_peer::Clock::now();
    EXPECT_FALSE(ForwardQuery(query_.data(), query_.size(), "127.0.0.3", reply, buffer_));
    const double waited = dns_peer::SecondsSince(start);
    EXPECT_GE(waited, 1.4);
    EXPECT_LT(waited, 3.0);
    EXPECT_TRUE(reply.empty());
}

// Datagrams to the forwarding socket from any other address or port are not
// taken for the reply, and do not end the wait for the real one (nor make it
// longer than one attempt, timed as above).
TEST_F(Forwarding, RepliesFromAnyoneButTheServerAreIgnored) {
    dns_peer::SharedPortPeers peers({{127, 0, 0, 1}, {127, 0, 0, 3}});
    Peer& upstream = peers[0];
    Peer& otherAddress = peers[1];
    Peer otherPort(Endpoint(127, 0, 0, 1, 0));
    ASSERT_TRUE(upstream.bound() && otherPort.bound());
    SetUpstreamPortForTesting(peers.port());
    // Wine binds a socket asked for 127.0.0.3 to the whole loopback device,
    // so beside 127.0.0.1 on the same port it either cannot bind or sends
    // from 127.0.0.1: it cannot pose as another address there. The port
    // forgery is tried on every platform.
    bool distinctAddress = false;
    if (otherAddress.bound()) {
        Bytes probe;
        UdpEndpoint probeSource;
        ASSERT_TRUE(otherAddress.SendTo(Bytes{0}, upstream.local()));
        ASSERT_TRUE(upstream.Receive(probe, probeSource));
        distinctAddress = probeSource.address[3] == 3;
    }
#ifndef _WIN32
    EXPECT_TRUE(distinctAddress);
#endif
    const Bytes forged = {0xBE, 0xEF, 0x81, 0x80, 0, 1, 0, 1, 0, 0, 0, 0};
    const Bytes genuine = {0xBE, 0xEF, 0x81, 0x83, 0, 1, 0, 0, 0, 0, 0, 0};
    for (const bool serverAnswers : {true, false}) {
        std::thread server([&] {
            Bytes received;
            UdpEndpoint from;
            if (!upstream.Receive(received, from)) {
                return;
            }
            if (distinctAddress) {
                otherAddress.SendTo(forged, from);
            }
            otherPort.SendTo(forged, from);
            otherPort.SendTo(Bytes(3000, 0xAA), from);  // too big for the buffer
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (serverAnswers) {
                upstream.SendTo(genuine, from);
            }
        });
        Bytes reply;
        const auto start = dns_peer::Clock::now();
        const bool ok = ForwardQuery(query_.data(), query_.size(), "127.0.0.1", reply, buffer_);
        const double waited = dns_peer::SecondsSince(start);
        server.join();
        if (serverAnswers) {
            ASSERT_TRUE(ok);
            EXPECT_EQ(reply, genuine) << dns_peer::Hex(reply);
        } else {
            EXPECT_FALSE(ok) << dns_peer::Hex(reply);
            EXPECT_GE(waited, 1.4);  // the forged datagrams did not end the wait
            EXPECT_LT(waited, 3.0);
        }
    }
}

// What the listening socket would see if the forwarder were this machine:
// the query from the forwarding socket's own address and port. Only that
// exact datagram from that exact origin is taken for a copy, and only once.
TEST_F(Forwarding, OwnForwardedQueryIsRecognisedOnceByOriginAndBytes) {
    Peer upstream(Endpoint(127, 0, 0, 1, 0));
    ASSERT_TRUE(upstream.bound());
    SetUpstreamPortForTesting(upstream.local().port);
    Bytes received;
    UdpEndpoint origin;
    std::thread server([&] {
        if (upstream.Receive(received, origin)) {
            upstream.SendTo(Bytes{0xBE, 0xEF, 0x81, 0x80}, origin);
        }
    });
    Bytes reply;
    EXPECT_TRUE(ForwardQuery(query_.data(), query_.size(), "127.0.0.1", reply, buffer_));
    server.join();
    ASSERT_EQ(received, query_);

    Bytes otherId = query_;
    otherId[1] ^= 1;
    UdpEndpoint otherPort = origin;
    otherPort.port = static_cast<uint16_t>(origin.port + 1);
    UdpEndpoint otherAddress = origin;
    otherAddress.address[3] ^= 2;
    const Bytes longer = dns_peer::MakeQuery(0xBEEF, {"www", "example", "x"}, 1);
    EXPECT_FALSE(IsOwnForwardedQuery(otherId.data(), otherId.size(), origin));
    EXPECT_FALSE(IsOwnForwardedQuery(longer.data(), longer.size(), origin));
    EXPECT_FALSE(IsOwnForwardedQuery(query_.data(), query_.size() - 1, origin));
    EXPECT_FALSE(IsOwnForwardedQuery(query_.data(), query_.size(), otherPort));
    EXPECT_FALSE(IsOwnForwardedQuery(query_.data(), query_.size(), otherAddress));
    EXPECT_TRUE(IsOwnForwardedQuery(query_.data(), query_.size(), origin));
    EXPECT_FALSE(IsOwnForwardedQuery(query_.data(), query_.size(), origin)) << "a copy arrives once";
}

TEST_F(Forwarding, EachAttemptUsesAFreshPortSoLateRepliesAreLost) {
    Peer upstream(Endpoint(127, 0, 0, 1, 0));
    ASSERT_TRUE(upstream.bound());
    SetUpstreamPortForTesting(upstream.local().port);
    const Bytes late = {0xBE, 0xEF, 0x80, 0x00, 'l', 'a', 't', 'e'};
    const Bytes current = {0xBE, 0xEF, 0x80, 0x00, 'n', 'o', 'w'};
    UdpEndpoint firstAttempt;
    Bytes received;
    // The first attempt is never answered.
    std::thread first([&] { upstream.Receive(received, firstAttempt); });
    Bytes reply;
    EXPECT_FALSE(ForwardQuery(query_.data(), query_.size(), "127.0.0.1", reply, buffer_));
    first.join();
    ASSERT_EQ(received, query_);
    std::thread second([&] {
        UdpEndpoint from;
        if (upstream.Receive(received, from)) {
            EXPECT_NE(from.port, firstAttempt.port);
            upstream.SendTo(late, firstAttempt);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            upstream.SendTo(current, from);
        }
    });
    EXPECT_TRUE(ForwardQuery(query_.data(), query_.size(), "127.0.0.1", reply, buffer_));
    second.join();
    EXPECT_EQ(reply, current);
}

}  // namespace
