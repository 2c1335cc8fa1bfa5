#include "ui/status_report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/server_state.h"
#include "dns/server.h"
#include "dns_peer.h"
#include "log/text_convert.h"
#include "test_support.h"

namespace {

// Puts chosen figures into the live state and restores the old ones after.
class StatusReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(StartSocketLayer());
        ServerState& state = GetServerState();
        savedRunning_ = state.running.load();
        savedError_ = state.lastSocketError.load();
        savedRequests_ = state.stats.requests.load();
        savedLocal_ = state.stats.localHits.load();
        savedForwarded_ = state.stats.forwarded.load();
    }
    void TearDown() override {
        StopServer();
        JoinFinishedWorker();
        SetServerPortsForTesting(0, 0);
        ServerState& state = GetServerState();
        test_support::SetLiveConfig(ServerConfig{});
        state.running = savedRunning_;
        state.lastSocketError = savedError_;
        state.stats.requests = savedRequests_;
        state.stats.localHits = savedLocal_;
        state.stats.forwarded = savedForwarded_;
        StopSocketLayer();
    }

    static void SetFigures(bool running, int32_t lastError, uint64_t requests, uint64_t localHits, uint64_t forwarded) {
        ServerState& state = GetServerState();
        state.running = running;
        state.lastSocketError = lastError;
        state.stats.requests = requests;
        state.stats.localHits = localHits;
        state.stats.forwarded = forwarded;
    }

    // Everything from the empty line before the counters to the end, which
    // only the counters and the folder change.
    std::string Tail(const std::string& requests, const std::string& localHits, const std::string& forwarded) const {
        const std::string folder = Utf16ToUtf8(test_support::WidePath(data_.folder()));
        return "\r\n"
               "Requests:       " +
               requests +
               "\r\n"
               "Local hits:       " +
               localHits +
               "\r\n"
               "Forwarded:     " +
               forwarded +
               "\r\n"
               "\r\n"
               "Config:\r\n"
               "    " +
               folder +
               "\\config.xml\r\n"
               "Log:\r\n"
               "    " +
               folder +
               "\\dns.log\r\n"
               "\r\n"
               "Developer:           The Tarnwick developers\r\n"
               "Developer URL:    https://tarnwick.example/\r\n";
    }

    test_support::ScopedDataFolder data_{"-r\xC3\xA9port"};  // a non-ASCII folder name travels as UTF-8

  private:
    bool savedRunning_ = false;
    int32_t savedError_ = 0;
    uint64_t savedRequests_ = 0;
    uint64_t savedLocal_ = 0;
    uint64_t savedForwarded_ = 0;
};

TEST_F(StatusReportTest, RunningServerReportIsExactBytes) {
    SetFigures(true, 0, 12, 3, 9);
    const std::string expected =
        "Server:           RUNNING\r\n"
        "Port:              53 UDP\r\n" +
        Tail("12", "3", "9");
    EXPECT_EQ(BuildStatusReport(), expected);
}

// The error a start really failed with is shown until the next start; a stop
// by the user shows none.
TEST_F(StatusReportTest, ErrorLineAfterAFailedStartAndNotAfterAStop) {
    const std::string port = "Port:              53 UDP\r\n";
    dns_peer::Peer holder(dns_peer::Endpoint(0, 0, 0, 0, 0));
    ASSERT_TRUE(holder.bound());
    SetServerPortsForTesting(holder.local().port, 0);
    StartServer();
    ASSERT_TRUE(dns_peer::WaitFor([] { return !GetServerState().running.load(); }));
    EXPECT_EQ(BuildStatusReport().rfind("Server:           STOPPED\r\n"
                                        "Last socket error: 10048 (bind UDP/53 often needs admin)\r\n" +
                                            port,
                                        0),
              0u)
        << BuildStatusReport();

    holder.Close();
    UseAnyListenPortForTesting();
    StartServer();
    ASSERT_TRUE(dns_peer::WaitFor([] { return ListeningPort() != 0; }));
    EXPECT_EQ(BuildStatusReport().rfind("Server:           RUNNING\r\n" + port, 0), 0u) << BuildStatusReport();
    StopServer();
    EXPECT_EQ(BuildStatusReport().rfind("Server:           STOPPED\r\n" + port, 0), 0u) << BuildStatusReport();
}

// States the server itself does not leave behind: an error is not shown while
// running, and it is a signed number.
TEST_F(StatusReportTest, ErrorLineOnlyWhenStoppedAndSigned) {
    SetFigures(true, 10048, 0, 0, 0);
    EXPECT_EQ(BuildStatusReport(), "Server:           RUNNING\r\nPort:              53 UDP\r\n" + Tail("0", "0", "0"));
    SetFigures(false, -5, 0, 0, 0);
    EXPECT_EQ(BuildStatusReport(),
              "Server:           STOPPED\r\n"
              "Last socket error: -5 (bind UDP/53 often needs admin)\r\n"
              "Port:              53 UDP\r\n" +
                  Tail("0", "0", "0"));
}

// The counters as the server itself counted them, past 32 bits: two local
// answers and a datagram that does not parse.
TEST_F(StatusReportTest, CountersShowWhatTheServerCounted) {
    SetFigures(false, 0, 4294967295ULL, 4294967295ULL, 7);
    ServerConfig config = test_support::LiveConfig();
    config.records[0] = test_support::Record(1, "host.example", "10.0.0.1", 60);
    test_support::SetLiveConfig(config);
    UseAnyListenPortForTesting();
    StartServer();
    ASSERT_TRUE(dns_peer::WaitFor([] { return ListeningPort() != 0; }));
    {
        dns_peer::Peer client(dns_peer::Endpoint(127, 0, 0, 1, 0));
        const UdpEndpoint server = dns_peer::Endpoint(127, 0, 0, 1, ListeningPort());
        EXPECT_TRUE(client.SendTo({1, 2, 3, 4, 5}, server));
        // Datagrams are handled in order: once the second answer is here, all
        // three have been counted.
        for (uint16_t id = 1; id <= 2; ++id) {
            EXPECT_TRUE(client.SendTo(dns_peer::MakeQuery(id, {"host", "example"}, 1), server));
            dns_peer::Bytes reply;
            UdpEndpoint from;
            EXPECT_TRUE(client.Receive(reply, from)) << "no answer to query " << id;
        }
    }
    StopServer();
    EXPECT_EQ(BuildStatusReport(),
              "Server:           STOPPED\r\n"
              "Port:              53 UDP\r\n" +
                  Tail("4294967298", "4294967297", "7"));
}

TEST_F(StatusReportTest, ReadsTheStateAtEachCall) {
    SetFigures(true, 0, 1, 1, 0);
    const std::string before = BuildStatusReport();
    GetServerState().stats.requests++;
    GetServerState().running = false;
    const std::string after = BuildStatusReport();
    EXPECT_NE(before.find("Requests:       1\r\n"), std::string::npos);
    EXPECT_NE(after.find("Requests:       2\r\n"), std::string::npos);
    EXPECT_EQ(after.rfind("Server:           STOPPED\r\n", 0), 0u);
}

}  // namespace
