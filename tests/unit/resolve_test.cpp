#include "dns/resolve.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <thread>

#include "core/server_state.h"
#include "dns/forward.h"
#include "dns_peer.h"
#include "test_support.h"

namespace {

using dns_peer::Bytes;
using test_support::Disabled;
using test_support::Record;
using test_support::SetLiveConfig;

// The table the look-up cases run against. Values are unique, so a found
// record tells which slot answered.
ServerConfig LookupTable() {
    ServerConfig config;
    config.records[0] = Disabled(Record(1, "host.example", "10.0.0.100"));
    config.records[2] = Record(15, "mixed.example", "mx.mixed.example");
    config.records[3] = Record(1, "dup.example", "10.0.0.3");
    config.records[5] = Record(1, "mixed.example", "10.0.0.5");
    config.records[7] = Record(1, "dup.example", "10.0.0.7");
    config.records[8] = Record(1, "host.example", "10.0.0.8");
    config.records[9] = Record(1, "bad.example", "bad.example.host");
    config.records[10] = Record(1, "bad.example", "10.0.0.10");
    config.records[11] = Record(1, "", "10.0.0.11");
    config.records[12] = Record(1, "caf\xC3\xA9.example", "10.0.0.12");
    config.records[13] = Record(15, "only-mx.example", "mx.only.example");
    config.records[14] = Record(1, "a[b@c.example", "10.0.0.14");
    config.records[15] = Record(1, "\xC4\xD6.example", "10.0.0.15");
    config.records[16] = Disabled(Record(1, "only-disabled.example", "10.0.0.16"));
    return config;
}

class Resolution : public ::testing::Test {
  protected:
    // Every case starts from forwarders the worker knows nothing about, and
    // leaves no health check open.
    void SetUp() override {
        ASSERT_TRUE(StartSocketLayer());
        ForgetForwarderHealth();
        SetLiveConfig(LookupTable());
    }
    void TearDown() override {
        ForgetForwarderHealth();
        SetLiveConfig(ServerConfig{});
        SetUpstreamPortForTesting(0);
        StopSocketLayer();
    }
    UpstreamBuffer buffer_;
};

TEST_F(Resolution, FirstEnabledSlotOfFittingTypeAndNameWins) {
    struct Case {
        std::string name;
        uint16_t qtype;
        const char* expectedValue;  // nullptr: no record
    };
    const Case cases[] = {
        {"host.example", 1, "10.0.0.8"},  // the disabled slot 0 is passed over
        {"HOST.EXAMPLE", 1, "10.0.0.8"},
        {"Host.Example", 1, "10.0.0.8"},
        {"host.example", 255, "10.0.0.8"},
        {"host.example", 15, nullptr},  // only an A record exists
        {"host.example", 28, nullptr},  // AAAA is never answered from a record
        {"host.example", 16, nullptr},
        {"host.example", 0, nullptr},
        {"sub.host.example", 1, nullptr},  // no suffix matching
        {"example", 1, nullptr},
        {"host.exampl", 1, nullptr},
        {"host.examplex", 1, nullptr},
        {"mixed.example", 255, "mx.mixed.example"},  // MX in slot 2 before A in slot 5
        {"mixed.example", 1, "10.0.0.5"},
        {"mixed.example", 15, "mx.mixed.example"},
        {"only-mx.example", 1, nullptr},
        {"only-mx.example", 255, "mx.only.example"},
        {"dup.example", 1, "10.0.0.3"},
        {"bad.example", 1, "bad.example.host"},  // the look-up itself does not judge values
        {"", 1, "10.0.0.11"},                    // root name
        {"", 255, "10.0.0.11"},
        {"", 15, nullptr},
        {"", 28, nullptr},
        {"CAF\xC3\xA9.EXAMPLE", 1, "10.0.0.12"},
        {"caf\xC3\x89.example", 1, nullptr},  // only A to Z fold, not É/é
        {"A[B@C.EXAMPLE", 1, "10.0.0.14"},
        {"a{b@c.example", 1, nullptr},     // '[' and '{' differ only in bit 0x20
        {"a[b`c.example", 1, nullptr},     // '@' and '`' too
        {"\xE4\xF6.example", 1, nullptr},  // Latin-1 case pairs are not folded
        {"only-disabled.example", 1, nullptr},
        {"only-disabled.example", 255, nullptr},
        {std::string("host.example\0junk", 17), 1, "10.0.0.8"},  // names end at a NUL
    };
    for (const Case& c : cases) {
        const std::optional<DnsRecord> found = FindLocalRecord(c.name, c.qtype);
        if (c.expectedValue == nullptr) {
            EXPECT_FALSE(found.has_value()) << c.name << " type " << c.qtype << " found " << found->value;
        } else {
            ASSERT_TRUE(found.has_value()) << c.name << " type " << c.qtype;
            EXPECT_EQ(found->value, c.expectedValue) << c.name << " type " << c.qtype;
        }
    }
}

TEST_F(Resolution, LocalAnswerIsCountedAndBuiltFromTheMatchedRecord) {
    ServerState& state = GetServerState();
    const Bytes query = dns_peer::MakeQuery(0x1234, {"Host", "Example"}, 1);
    DnsQuestion question{"Host.Example", 1};
    const uint64_t localBefore = state.stats.localHits.load();
    const uint64_t forwardedBefore = state.stats.forwarded.load();
    const uint64_t requestsBefore = state.stats.requests.load();
    Bytes reply = {0xEE};
    ASSERT_TRUE(ResolveQuery(query.data(), query.size(), question, reply, buffer_));
    const Bytes expected = {
        0x12, 0x34, 0x81, 0x80, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,  // header: ID, QR RD RA, 1 Q, 1 A
        0x04, 'H',  'o',  's',  't',  0x07, 'E',  'x',  'a',  'm',  'p',  'l',  'e', 0x00,  // name as asked
        0x00, 0x01, 0x00, 0x01,                                                             // type A, class IN
        0xc0, 0x0c, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3c,  // answer: ptr, A, IN, TTL 60
        0x00, 0x04, 10,   0,    0,    8,                             // the address of slot 8
    };
    EXPECT_EQ(reply, expected) << dns_peer::Hex(reply);
    EXPECT_EQ(state.stats.localHits.load(), localBefore + 1);
    EXPECT_EQ(state.stats.forwarded.load(), forwardedBefore);
    EXPECT_EQ(state.stats.requests.load(), requestsBefore);  // counted by the worker, not here
}

// A scripted upstream: answers the first query that reaches the peer with the
// given bytes and keeps what it received.
struct OneShotUpstream {
    Bytes received;
    std::thread thread;

    OneShotUpstream(dns_peer::Peer& peer, Bytes answer) {
        thread = std::thread([this, &peer, answer] {
            UdpEndpoint from;
            if (peer.Receive(received, from)) {
                peer.SendTo(answer, from);
            }
        });
    }
    ~OneShotUpstream() {
        if (thread.joinable()) {
            thread.join();
        }
    }
    void Join() { thread.join(); }
};

TEST_F(Resolution, UnusableMatchOrMissingTypeGoesToTheForwardersUnchanged) {
    ServerState& state = GetServerState();
    ServerConfig config = LookupTable();
    config.forwarding = {"", "not.an.address", "127.0.0.1"};
    SetLiveConfig(config);
    struct Case {
        std::vector<std::string> labels;
        DnsQuestion question;
    };
    const Case cases[] = {
        // Slot 9 matches but cannot be built; slot 10 with a good address
        // must not be tried.
        {{"bad", "example"}, {"bad.example", 1}},
        {{"bad", "example"}, {"bad.example", 255}},
        // The other types of a name with a local address, and AAAA of names
        // without one.
        {{"host", "example"}, {"host.example", kTypeMx}},
        {{"host", "example"}, {"host.example", 16}},  // TXT
        {{"bad", "example"}, {"bad.example", kTypeAaaa}},
        {{"only-disabled", "example"}, {"only-disabled.example", kTypeAaaa}},
        {{"only-mx", "example"}, {"only-mx.example", kTypeAaaa}},
        {{"only-mx", "example"}, {"only-mx.example", 1}},
    };
    for (const Case& c : cases) {
        const Bytes query = dns_peer::MakeQuery(0x4242, c.labels, c.question.qtype);
        // The upstream answers with another ID and bytes no codec would make.
        const Bytes answer = {0x99, 0x98, 0x85, 0x83, 0xde, 0xad, 0xbe, 0xef, 0x00};
        dns_peer::Peer peer(dns_peer::Endpoint(127, 0, 0, 1, 0));
        ASSERT_TRUE(peer.bound());
        SetUpstreamPortForTesting(peer.local().port);
        OneShotUpstream upstream(peer, answer);
        const uint64_t localBefore = state.stats.localHits.load();
        const uint64_t forwardedBefore = state.stats.forwarded.load();
        Bytes reply;
        ASSERT_TRUE(ResolveQuery(query.data(), query.size(), c.question, reply, buffer_)) << c.question.name;
        upstream.Join();
        EXPECT_EQ(upstream.received, query) << c.question.name;
        EXPECT_EQ(reply, answer) << c.question.name;
        EXPECT_EQ(state.stats.forwarded.load(), forwardedBefore + 1);
        EXPECT_EQ(state.stats.localHits.load(), localBefore);
    }
}

// When no forwarder answers, a name with an enabled record of any type gets
// an empty answer at once; every other name still gets nothing.
TEST_F(Resolution, WithoutAnUpstreamReplyOnlyLocalNamesGetAnEmptyAnswer) {
    ServerState& state = GetServerState();
    ServerConfig config = LookupTable();
    config.forwarding = {"", " 127.0.0.1", "127.0.0.1:53"};
    SetLiveConfig(config);
    const Bytes hostAaaa = {
        0x42, 0x42, 0x81, 0x80, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // ID, QR RD RA, 1 Q, no records
        0x04, 'H',  'O',  'S',  'T',  0x07, 'e',  'x',  'a',  'm',  'p',  'l',  'e', 0x00,  // name as asked
        0x00, 0x1c, 0x00, 0x01,                                                             // AAAA, IN
    };
    Bytes hostMx = hostAaaa;
    hostMx[27] = 15;  // QTYPE MX
    Bytes hostHttps = hostAaaa;
    hostHttps[27] = kTypeHttps;
    const Bytes badA = {
        0x42, 0x42, 0x81, 0x80, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // header
        0x03, 'b',  'a',  'd',  0x07, 'e',  'x',  'a',  'm',  'p',  'l',  'e',  0x00,  // name
        0x00, 0x01, 0x00, 0x01,                                                        // A, IN
    };
    struct Case {
        std::vector<std::string> labels;
        uint16_t qtype;
        Bytes expected;  // empty: no reply
    };
    const Case cases[] = {
        // Only an A record has this name.
        {{"HOST", "example"}, 28, hostAaaa},
        {{"HOST", "example"}, kTypeHttps, hostHttps},
        {{"HOST", "example"}, 15, hostMx},
        // Its A record cannot be built, but the name is known.
        {{"bad", "example"}, 1, badA},
        // No enabled record has these names.
        {{"only-disabled", "example"}, 1, {}},
        {{"sub", "host", "example"}, 28, {}},
        {{"elsewhere", "example"}, 1, {}},
    };
    for (const Case& c : cases) {
        std::string name;
        for (const std::string& label : c.labels) name += (name.empty() ? "" : ".") + label;
        const Bytes query = dns_peer::MakeQuery(0x4242, c.labels, c.qtype);
        const uint64_t localBefore = state.stats.localHits.load();
        const uint64_t forwardedBefore = state.stats.forwarded.load();
        Bytes reply = {1, 2, 3};
        const auto start = dns_peer::Clock::now();
        const bool answered = ResolveQuery(query.data(), query.size(), DnsQuestion{name, c.qtype}, reply, buffer_);
        // No forwarder was waited for: an attempt would take 1.5 s.
        EXPECT_LT(dns_peer::SecondsSince(start), 1.0) << name;
        const bool local = !c.expected.empty();
        EXPECT_EQ(answered, local) << name;
        EXPECT_EQ(reply, c.expected) << name << ": " << dns_peer::Hex(reply);
        EXPECT_EQ(state.stats.localHits.load(), localBefore + (local ? 1 : 0)) << name;
        EXPECT_EQ(state.stats.forwarded.load(), forwardedBefore);
    }
}

// 127.0.0.3 is asked first; a socket is bound there but never answers.
TEST_F(Resolution, SilentFirstForwarderIsPassedAfterItsTimeout) {
    ServerConfig config = LookupTable();
    config.forwarding = {"127.0.0.3", "127.0.0.1", ""};
    SetLiveConfig(config);
    const Bytes answer = {0x00, 0x07, 0x81, 0x80};
    // Wine cannot bind 127.0.0.3 beside 127.0.0.1 on one port; it does not
    // pass a refusal on to the program either, so there the unbound address
    // is just as silent.
    dns_peer::SharedPortPeers peers({{127, 0, 0, 1}, {127, 0, 0, 3}});
    dns_peer::Peer& silent = peers[1];
    ASSERT_TRUE(peers[0].bound());
#ifndef _WIN32
    ASSERT_TRUE(silent.bound());
#endif
    SetUpstreamPortForTesting(peers.port());
    OneShotUpstream upstream(peers[0], answer);
    const Bytes query = dns_peer::MakeQuery(7, {"elsewhere", "example"}, 1);
    Bytes reply;
    const auto start = dns_peer::Clock::now();
    ASSERT_TRUE(ResolveQuery(query.data(), query.size(), DnsQuestion{"elsewhere.example", 1}, reply, buffer_));
    EXPECT_GE(dns_peer::SecondsSince(start), 1.4);
    EXPECT_EQ(reply, answer);
    if (silent.bound()) {
        Bytes asked;
        UdpEndpoint from;
        EXPECT_TRUE(silent.Receive(asked, from));
        EXPECT_EQ(asked, query);
    }
}

}  // namespace
