#include "dns/server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "core/server_state.h"
#include "dns/forward.h"
#include "dns_peer.h"
#include "log/event_log.h"
#include "test_support.h"

namespace {

using dns_peer::Bytes;
using dns_peer::Endpoint;
using dns_peer::Peer;
using test_support::InCi;
using test_support::SetLiveConfig;
using namespace std::chrono_literals;

#ifdef _WIN32
constexpr int kAddressInUse = 10048;         // WSAEADDRINUSE
constexpr int kAccessDenied = 10013;         // WSAEACCES
constexpr int kAddressNotAvailable = 10049;  // WSAEADDRNOTAVAIL
#else
constexpr int kAddressNotAvailable = EADDRNOTAVAIL;
constexpr int kAddressInUse = EADDRINUSE;
constexpr int kAccessDenied = EACCES;
#endif

const char* const kStarted = "DNS server started on UDP/53";
const char* const kStopped = "DNS server stopped";

std::atomic<int> refreshCalls{0};
void CountRefresh() {
    refreshCalls.fetch_add(1);
}

// What the worker-failed hook saw at each call.
std::atomic<int> failureCalls{0};
std::atomic<int> failureCallsWhileRunning{0};
std::atomic<int> failureCallsOnTestThread{0};
std::thread::id testThread;
void CountFailure() {
    failureCalls.fetch_add(1);
    if (GetServerState().running.load()) {
        failureCallsWhileRunning.fetch_add(1);
    }
    if (std::this_thread::get_id() == testThread) {
        failureCallsOnTestThread.fetch_add(1);
    }
}

class DnsServer : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(StartSocketLayer());
        UseAnyListenPortForTesting();
        SetRefreshServerControlsHook(&CountRefresh);
        SetWorkerFailedHook(&CountFailure);
        testThread = std::this_thread::get_id();
        failureCalls = 0;
        failureCallsWhileRunning = 0;
        failureCallsOnTestThread = 0;
        ServerConfig config;
        config.records[0].type = kTypeA;
        config.records[0].name = "host.example";
        config.records[0].value = "192.168.1.10";
        config.records[0].enabled = true;
        config.records[1].type = kTypeMx;
        config.records[1].name = "mail.example";
        config.records[1].ttl = 300;
        config.records[1].enabled = true;
        SetLiveConfig(config);
    }
    void TearDown() override {
        StopServer();
        JoinFinishedWorker();
        SetRefreshServerControlsHook(nullptr);
        SetWorkerFailedHook(nullptr);
        SetServerPortsForTesting(0, 0);
        SetLiveConfig(ServerConfig{});
        StopSocketLayer();
    }

    std::filesystem::path LogPath() const { return data_.folder() / "dns.log"; }

    // Starts the server and waits until its worker has bound the socket.
    void StartAndWaitUntilBound() {
        const int before = dns_peer::CountMessages(LogPath(), kStarted);
        StartServer();
        ASSERT_TRUE(dns_peer::WaitFor(
            [&] { return dns_peer::CountMessages(LogPath(), kStarted) > before || !GetServerState().running.load(); }));
        ASSERT_TRUE(GetServerState().running.load()) << "bind failed: " << GetServerState().lastSocketError.load();
        port_ = ListeningPort();
        ASSERT_NE(port_, 0);
    }

    // Sends a datagram to the server from a fresh client and waits for one
    // reply; empty when none came.
    Bytes Ask(const Bytes& query, uint32_t timeoutMs = 3000) { return AskAt(port_, query, timeoutMs); }
    Bytes AskAt(uint16_t port, const Bytes& query, uint32_t timeoutMs = 3000) {
        Peer client(Endpoint(127, 0, 0, 1, 0), timeoutMs);
        EXPECT_TRUE(client.bound());
        client.SendTo(query, Endpoint(127, 0, 0, 1, port));
        Bytes reply;
        UdpEndpoint from;
        if (client.Receive(reply, from)) {
            EXPECT_EQ(from.port, port);
        }
        return reply;
    }

    test_support::ScopedDataFolder data_;
    uint16_t port_ = 0;  // where the server that was started last listens
};

const Bytes kHostAnswer = {
    0x12, 0x34, 0x81, 0x80, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,             // header
    0x04, 'H',  'o',  's',  't',  0x07, 'E',  'x',  'a',  'm',  'p',  'l',  'e', 0x00,  // question as asked
    0x00, 0x01, 0x00, 0x01,                                                             // A, IN
    0xc0, 0x0c, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x3c,                         // answer header, TTL 60
    0x00, 0x04, 0xc0, 0xa8, 0x01, 0x0a,                                                 // 192.168.1.10
};

TEST_F(DnsServer, AnswersLocallyLogsAndCountsEachQuery) {
    ServerState& state = GetServerState();
    const uint64_t requests = state.stats.requests.load();
    const uint64_t localHits = state.stats.localHits.load();
    const uint64_t forwarded = state.stats.forwarded.load();
    refreshCalls = 0;
    StartAndWaitUntilBound();
    EXPECT_EQ(refreshCalls.load(), 1);
    StartServer();  // already running: nothing happens
    EXPECT_EQ(refreshCalls.load(), 1);

    const Bytes reply = Ask(dns_peer::MakeQuery(0x1234, {"Host", "Example"}, 1));
    EXPECT_EQ(reply, kHostAnswer) << dns_peer::Hex(reply);
    EXPECT_EQ(state.stats.requests.load(), requests + 1);
    EXPECT_EQ(state.stats.localHits.load(), localHits + 1);
    EXPECT_EQ(state.stats.forwarded.load(), forwarded);

    StopServer();
    EXPECT_EQ(refreshCalls.load(), 2);
    StopServer();  // already stopped: nothing happens
    EXPECT_EQ(refreshCalls.load(), 2);
    EXPECT_FALSE(state.running.load());
    EXPECT_EQ(state.socket.load(), kInvalidSocket);
    EXPECT_FALSE(state.worker.joinable());
    const std::vector<std::string> expected = {kStarted, "Q from 127.0.0.1 name=Host.Example type=1", kStopped};
    EXPECT_EQ(dns_peer::LogMessages(LogPath()), expected);
}

TEST_F(DnsServer, DropsEmptyShortOversizedAndResponseDatagrams) {
    ServerState& state = GetServerState();
    StartAndWaitUntilBound();
    const uint64_t requests = state.stats.requests.load();
    const uint64_t localHits = state.stats.localHits.load();

    Peer client(Endpoint(127, 0, 0, 1, 0), 300);
    const UdpEndpoint server = Endpoint(127, 0, 0, 1, port_);
    Bytes response = dns_peer::MakeQuery(0x1234, {"host", "example"}, 1, 0x81);  // QR set
    ASSERT_TRUE(client.SendTo(Bytes{}, server));                                 // not counted
    ASSERT_TRUE(client.SendTo(Bytes{1, 2, 3, 4, 5}, server));                    // counted, no parse
    ASSERT_TRUE(client.SendTo(Bytes(2049, 0), server));                          // too big: not counted
    ASSERT_TRUE(client.SendTo(response, server));                                // counted, dropped
    response[2] = 0x80;                                                          // QR alone
    ASSERT_TRUE(client.SendTo(response, server));                                // counted, dropped
    Bytes reply;
    UdpEndpoint from;
    EXPECT_FALSE(client.Receive(reply, from)) << dns_peer::Hex(reply);

    // Datagrams are handled in order, so once this one is answered all the
    // ones before it have been dealt with.
    EXPECT_EQ(Ask(dns_peer::MakeQuery(0x1234, {"Host", "Example"}, 1)), kHostAnswer);
    EXPECT_EQ(state.stats.requests.load(), requests + 4);
    EXPECT_EQ(state.stats.localHits.load(), localHits + 1);
    StopServer();
    const std::vector<std::string> expected = {kStarted, "Q from 127.0.0.1 name=Host.Example type=1", kStopped};
    EXPECT_EQ(dns_peer::LogMessages(LogPath()), expected);
}

TEST_F(DnsServer, QueryNamesCannotForgeOrHideLogLines) {
    StartAndWaitUntilBound();
    const std::string forged = "x\r\n2026-01-01 00:00:00 DNS server stopped";
    const std::string hidden("a\0b", 3);
    Ask(dns_peer::MakeQuery(1, {forged, hidden, "\x7f\x1b[2J"}, 28), 300);
    StopServer();
    const std::vector<std::string> expected = {
        kStarted,
        "Q from 127.0.0.1 name=x\\013\\0102026-01-01 00:00:00 DNS server stopped.a\\000b.\\127\\027[2J type=28",
        kStopped,
    };
    EXPECT_EQ(dns_peer::LogMessages(LogPath()), expected);
}

// A resolver asks for A and AAAA of a name together. A name with a local
// address gets the empty answer for AAAA at once, whether or not a forwarder
// is set, and its forwarder is not asked. Another type the table lacks gets
// it too, when no forwarder answers: at once without forwarders, after the
// time-out when the only forwarder is silent (it is still asked first). The
// time is the point here: under 1 s tells "no attempt" from one attempt of
// 1.5 s with room for a slow machine.
TEST_F(DnsServer, LocalNameGetsAnEmptyAnswerForTypesNoForwarderAnswered) {
    ServerState& state = GetServerState();
    Peer silent(Endpoint(127, 0, 0, 1, 0), 300);
    ASSERT_TRUE(silent.bound());
    SetUpstreamPortForTesting(silent.local().port);
    StartAndWaitUntilBound();
    Bytes mx = {
        0x12, 0x34, 0x81, 0x80, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,             // header, no records
        0x04, 'H',  'o',  's',  't',  0x07, 'E',  'x',  'a',  'm',  'p',  'l',  'e', 0x00,  // question as asked
        0x00, 0x0f, 0x00, 0x01,                                                             // MX, IN
    };
    Bytes aaaa = mx;
    aaaa[27] = kTypeAaaa;
    const Bytes query = dns_peer::MakeQuery(0x1234, {"Host", "Example"}, kTypeMx);
    const Bytes aaaaQuery = dns_peer::MakeQuery(0x1234, {"Host", "Example"}, kTypeAaaa);
    const uint64_t localHits = state.stats.localHits.load();
    auto start = dns_peer::Clock::now();
    EXPECT_EQ(Ask(query), mx) << "no forwarder";
    EXPECT_LT(dns_peer::SecondsSince(start), 1.0);
    EXPECT_TRUE(Ask(dns_peer::MakeQuery(0x1234, {"other", "example"}, kTypeAaaa), 300).empty());

    ServerConfig config;
    config.records[0] = {1, "host.example", "192.168.1.10", 60, true};
    config.forwarding.dns1 = "127.0.0.1";
    SetLiveConfig(config);
    start = dns_peer::Clock::now();
    EXPECT_EQ(Ask(aaaaQuery), aaaa) << "AAAA, forwarder set";
    EXPECT_LT(dns_peer::SecondsSince(start), 1.0);
    start = dns_peer::Clock::now();
    EXPECT_EQ(Ask(query), mx) << "silent forwarder";
    EXPECT_GE(dns_peer::SecondsSince(start), 1.4);
    Bytes asked;
    UdpEndpoint from;
    ASSERT_TRUE(silent.Receive(asked, from));
    EXPECT_EQ(asked, query);  // the MX query, and before it nothing
    EXPECT_EQ(state.stats.localHits.load(), localHits + 3);
}

// Forwarders that name this machine, with the listening port as the upstream
// port as in real use (53): each attempt's copy lands on the listening socket
// once the attempt has timed out. It is counted and dropped like a datagram
// that does not parse, so the query is logged once, the second forwarder gets
// it exactly once, nothing goes round, and a local query is answered at once.
TEST_F(DnsServer, QueryForwardedToThisMachineIsNotTakenForANewOne) {
    ServerState& state = GetServerState();
    ServerConfig config;
    config.records[0] = {1, "host.example", "192.168.1.10", 60, true};
    config.forwarding = {"127.0.0.1", "127.0.0.2", ""};
    SetLiveConfig(config);
    StartAndWaitUntilBound();
    SetUpstreamPortForTesting(port_);
    const uint64_t requests = state.stats.requests.load();
    Peer client(Endpoint(127, 0, 0, 1, 0), 300);
    ASSERT_TRUE(client.SendTo(dns_peer::MakeQuery(5, {"far", "example"}, 1), Endpoint(127, 0, 0, 1, port_)));
    // The query, then the copies sent to 127.0.0.1 and 127.0.0.2, each
    // followed by the health check its silence called for.
    ASSERT_TRUE(dns_peer::WaitFor([&] { return state.stats.requests.load() >= requests + 5; }));
    // At once, not after another attempt of 1.5 s.
    const auto start = dns_peer::Clock::now();
    EXPECT_EQ(Ask(dns_peer::MakeQuery(0x1234, {"Host", "Example"}, 1)), kHostAnswer);
    EXPECT_LT(dns_peer::SecondsSince(start), 1.0);
    Bytes reply;
    UdpEndpoint from;
    EXPECT_FALSE(client.Receive(reply, from)) << dns_peer::Hex(reply);
    StopServer();
    const std::vector<std::string> expected = {kStarted, "Q from 127.0.0.1 name=far.example type=1",
                                               "Q from 127.0.0.1 name=Host.Example type=1", kStopped};
    EXPECT_EQ(dns_peer::LogMessages(LogPath()), expected);
}

// A StopServer that hangs shows as the test program's time-out.
TEST_F(DnsServer, StopWhileIdleReturnsAndLogs) {
    for (int round = 0; round < 3; ++round) {
        StartAndWaitUntilBound();
        StopServer();
        EXPECT_FALSE(GetServerState().worker.joinable());
    }
    EXPECT_EQ(dns_peer::CountMessages(LogPath(), kStopped), 3);
    EXPECT_EQ(dns_peer::CountMessages(LogPath(), kStarted), 3);
}

// A stop waits for the attempt in progress and nothing after it: no other
// forwarder is asked, no health check is sent, and whatever the upstream
// answers late, the client gets no reply.
TEST_F(DnsServer, StopWaitsForTheAttemptInProgressOnlyThenSendsNothing) {
    ServerState& state = GetServerState();
    Peer upstream(Endpoint(127, 0, 0, 1, 0), 1000);
    ASSERT_TRUE(upstream.bound());
    SetUpstreamPortForTesting(upstream.local().port);
    struct Case {
        const char* otherForwarders;  // dns2 and dns3 beside dns1 127.0.0.1, all this upstream
        bool upstreamAnswersLate;
    };
    for (const Case& c : {Case{"", false}, Case{"", true}, Case{"127.0.0.1", false}}) {
        ServerConfig config;
        config.forwarding = {"127.0.0.1", c.otherForwarders, c.otherForwarders};
        SetLiveConfig(config);
        StartAndWaitUntilBound();
        const uint64_t forwarded = state.stats.forwarded.load();
        Peer client(Endpoint(127, 0, 0, 1, 0), 300);
        const Bytes query = dns_peer::MakeQuery(5, {"far", "example"}, 1);
        ASSERT_TRUE(client.SendTo(query, Endpoint(127, 0, 0, 1, port_)));
        Bytes relayed;
        UdpEndpoint worker;
        ASSERT_TRUE(upstream.Receive(relayed, worker));
        ASSERT_EQ(relayed, query);  // the worker now waits for the upstream
        auto stopping = std::async(std::launch::async, [] { StopServer(); });
        ASSERT_TRUE(dns_peer::WaitFor([&] { return state.socket.load() == kInvalidSocket; }));
        if (c.upstreamAnswersLate) {
            upstream.SendTo(Bytes{0, 5, 0x81, 0x80}, worker);
        }
        stopping.get();
        EXPECT_EQ(state.stats.forwarded.load(), forwarded + (c.upstreamAnswersLate ? 1 : 0));
        Bytes reply;
        UdpEndpoint from;
        EXPECT_FALSE(client.Receive(reply, from));
        EXPECT_FALSE(upstream.Receive(relayed, worker)) << "sent after the stop: " << dns_peer::Hex(relayed);
    }
    EXPECT_EQ(dns_peer::CountMessages(LogPath(), kStopped), 3);
}

TEST_F(DnsServer, RestartKeepsCountersAndLogsEachStart) {
    ServerState& state = GetServerState();
    const uint64_t requests = state.stats.requests.load();
    const uint64_t localHits = state.stats.localHits.load();
    for (int round = 0; round < 2; ++round) {
        StartAndWaitUntilBound();
        EXPECT_FALSE(Ask(dns_peer::MakeQuery(9, {"mail", "example"}, 15)).empty());
        StopServer();
    }
    EXPECT_EQ(state.stats.requests.load(), requests + 2);
    EXPECT_EQ(state.stats.localHits.load(), localHits + 2);
    EXPECT_EQ(dns_peer::CountMessages(LogPath(), kStarted), 2);
    EXPECT_EQ(dns_peer::CountMessages(LogPath(), kStopped), 2);
}

TEST_F(DnsServer, FailedBindLeavesTheErrorAndAFinishedWorkerThatIsJoined) {
    ServerState& state = GetServerState();
    const int references = SocketLayerReferences();
    {
        Peer holder(Endpoint(0, 0, 0, 0, 0));
        ASSERT_TRUE(holder.bound());
        SetServerPortsForTesting(holder.local().port, 0);
        refreshCalls = 0;
        StartServer();
        ASSERT_TRUE(dns_peer::WaitFor([&] { return !state.running.load(); }));
        EXPECT_EQ(state.lastSocketError.load(), kAddressInUse);
        EXPECT_EQ(state.socket.load(), kInvalidSocket);
        EXPECT_EQ(refreshCalls.load(), 1);
        // Failed: the finished thread is still held until someone joins it.
        EXPECT_TRUE(state.worker.joinable());
        StopServer();  // nothing to stop, but the finished worker is joined
        EXPECT_FALSE(state.worker.joinable());
        EXPECT_EQ(refreshCalls.load(), 1);

        StartServer();  // fails again; StartServer joins it next time
        ASSERT_TRUE(dns_peer::WaitFor([&] { return !state.running.load(); }));
        EXPECT_EQ(state.lastSocketError.load(), kAddressInUse);
        // Each failed worker told the window side itself, from its own thread
        // and once running was false.
        ASSERT_TRUE(dns_peer::WaitFor([&] { return failureCalls.load() == 2; }));
        EXPECT_EQ(failureCallsWhileRunning.load(), 0);
        EXPECT_EQ(failureCallsOnTestThread.load(), 0);
    }
    EXPECT_EQ(dns_peer::CountMessages(LogPath(), kStarted), 0);
    UseAnyListenPortForTesting();
    StartAndWaitUntilBound();  // a port that can be bound works again
    EXPECT_EQ(state.lastSocketError.load(), 0);
    EXPECT_EQ(Ask(dns_peer::MakeQuery(0x1234, {"Host", "Example"}, 1)), kHostAnswer);
    StopServer();
    // A run that bound its socket and was stopped is no failure.
    EXPECT_EQ(failureCalls.load(), 2);
    // Each failed run keeps its socket layer reference, as a failed run is
    // never stopped; the successful run released its own.
    EXPECT_EQ(SocketLayerReferences(), references + 2);
    while (SocketLayerReferences() > references) StopSocketLayer();
}

TEST_F(DnsServer, WithoutIpv6ItListensOnIpv4AloneAndTheLogSaysWhy) {
    FailDualStackSocketForTesting(true);
    StartAndWaitUntilBound();
    FailDualStackSocketForTesting(false);
    EXPECT_EQ(Ask(dns_peer::MakeQuery(0x1234, {"Host", "Example"}, 1)), kHostAnswer);
    StopServer();
    const std::vector<std::string> expected = {
        kStarted, "IPv6 not available (error " + std::to_string(kAddressNotAvailable) + "): serving IPv4 only",
        "Q from 127.0.0.1 name=Host.Example type=1", kStopped};
    EXPECT_EQ(dns_peer::LogMessages(LogPath()), expected);
}

TEST_F(DnsServer, WorkerThatCannotBeCreatedLeavesTheServerStopped) {
    ServerState& state = GetServerState();
    const int references = SocketLayerReferences();
    FailNextWorkerLaunchForTesting();
    StartServer();
    EXPECT_FALSE(state.running.load());
    EXPECT_FALSE(state.worker.joinable());
    EXPECT_EQ(SocketLayerReferences(), references);
    StopServer();
    // The next start works as usual.
    StartAndWaitUntilBound();
    EXPECT_EQ(Ask(dns_peer::MakeQuery(0x1234, {"Host", "Example"}, 1)), kHostAnswer);
}

// Records and forwarders are replaced and the log is appended from other
// threads while queries are being answered; every answer must come whole
// from one version of the table. Each slot's value names its slot and the
// parity of its version (10.<parity>.<slot>.1); even versions enable every
// slot, odd ones only the last. A table read in one piece therefore answers
// from slot 0 of an even version or from the last slot of an odd one; a
// table put together from two versions answers from any other slot, or from
// slot 0 or the last slot with the other version's parity.
TEST_F(DnsServer, QueriesInFlightWhileConfigAndLogChange) {
    ServerState& state = GetServerState();
    StartAndWaitUntilBound();
    const uint64_t requests = state.stats.requests.load();
    const uint64_t localHits = state.stats.localHits.load();
    constexpr uint8_t kLastSlot = kRecordSlotCount - 1;
    const auto tableVersion = [](int version) {
        const int parity = version % 2;
        ServerConfig config;
        config.forwarding = {parity ? "" : "not an address", "", ""};
        for (size_t slot = 0; slot < kRecordSlotCount; ++slot) {
            DnsRecord& record = config.records[slot];
            record.name = "busy.example";
            record.value = "10." + std::to_string(parity) + "." + std::to_string(slot) + ".1";
            record.enabled = parity == 0 || slot == kLastSlot;
        }
        return config;
    };
    SetLiveConfig(tableVersion(0));
    std::atomic<bool> done{false};
    std::thread editor([&] {
        for (int version = 1; version < 2000000 && !done.load(); ++version) {
            SetLiveConfig(tableVersion(version));
            std::this_thread::yield();
        }
    });
    std::thread logger([&] {
        for (int i = 0; i < 20000 && !done.load(); ++i) AppendLogLine("Settings saved (records)");
    });
    // The replies are judged once both threads are joined, so that a failed
    // check reports instead of ending the test program.
    constexpr int kQueries = 150;
    std::vector<Bytes> replies;
    for (int i = 0; i < kQueries; ++i) {
        replies.push_back(Ask(dns_peer::MakeQuery(static_cast<uint16_t>(i), {"busy", "example"}, 1)));
    }
    // No MX record: the forwarders are copied while they are being
    // replaced; neither version is usable, so the name, known in every
    // version of the table, gets the empty answer.
    constexpr int kForwardedQueries = 5;
    std::vector<Bytes> emptyAnswers;
    for (int i = 0; i < kForwardedQueries; ++i) {
        emptyAnswers.push_back(Ask(dns_peer::MakeQuery(static_cast<uint16_t>(i), {"busy", "example"}, kTypeMx)));
    }
    done = true;
    editor.join();
    logger.join();
    StopServer();

    int whole = 0;
    for (size_t i = 0; i < replies.size(); ++i) {
        const Bytes& reply = replies[i];
        if (reply.size() != 46u) {
            ADD_FAILURE() << "query " << i << " got " << dns_peer::Hex(reply);
            continue;
        }
        EXPECT_EQ(reply[0], static_cast<uint8_t>(i >> 8));
        EXPECT_EQ(reply[1], static_cast<uint8_t>(i));
        const Bytes address(reply.end() - 4, reply.end());
        const bool fromEvenVersion = address == Bytes{10, 0, 0, 1};
        const bool fromOddVersion = address == Bytes{10, 1, kLastSlot, 1};
        EXPECT_TRUE(fromEvenVersion || fromOddVersion) << "an answer from a mixed table: " << dns_peer::Hex(reply);
        whole += fromEvenVersion || fromOddVersion ? 1 : 0;
    }
    EXPECT_EQ(whole, kQueries);
    for (size_t i = 0; i < emptyAnswers.size(); ++i) {
        const Bytes& reply = emptyAnswers[i];
        if (reply.size() != 12u + 14 + 4) {
            ADD_FAILURE() << "MX query " << i << " got " << dns_peer::Hex(reply);
            continue;
        }
        EXPECT_EQ(reply[1], static_cast<uint8_t>(i));
        EXPECT_EQ(reply[7], 0) << "ANCOUNT";
    }
    EXPECT_EQ(state.stats.requests.load(), requests + kQueries + kForwardedQueries);
    EXPECT_EQ(state.stats.localHits.load(), localHits + kQueries + kForwardedQueries);
    EXPECT_EQ(dns_peer::CountMessages(LogPath(), "Q from 127.0.0.1 name=busy.example type=1"), kQueries);
}

// The product port. Another program may hold it for a moment, so the bind is
// retried for a while; only outside CI may a missing right or a busy port
// skip the test.
TEST_F(DnsServer, ServesOnPort53) {
    ServerState& state = GetServerState();
    SetServerPortsForTesting(0, 0);
    const auto deadline = dns_peer::Clock::now() + 20s;
    for (;;) {
        StartServer();
        ASSERT_TRUE(dns_peer::WaitFor(
            [&] { return dns_peer::CountMessages(LogPath(), kStarted) > 0 || !state.running.load(); }));
        if (state.running.load()) {
            break;
        }
        const int error = state.lastSocketError.load();
        if (error == kAccessDenied && !InCi()) {
            GTEST_SKIP() << "no right to bind port 53";
        }
        ASSERT_EQ(error, kAddressInUse);
        if (dns_peer::Clock::now() > deadline) {
            if (!InCi()) {
                GTEST_SKIP() << "port 53 stayed busy";
            }
            FAIL() << "port 53 stayed busy";
        }
        std::this_thread::sleep_for(250ms);
    }
    EXPECT_EQ(AskAt(53, dns_peer::MakeQuery(0x1234, {"Host", "Example"}, 1)), kHostAnswer);
    StopServer();
}

}  // namespace
