#include "ui/status_report.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "core/server_state.h"
#include "log/text_convert.h"
#include "test_support.h"

namespace {

// Puts chosen figures into the live state and restores the old ones after.
class StatusReportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ServerState& state = GetServerState();
        savedRunning_ = state.running.load();
        savedError_ = state.lastSocketError.load();
        savedRequests_ = state.stats.requests.load();
        savedLocal_ = state.stats.localHits.load();
        savedForwarded_ = state.stats.forwarded.load();
    }
    void TearDown() override {
        ServerState& state = GetServerState();
        state.running = savedRunning_;
        state.lastSocketError = savedError_;
        state.stats.requests = savedRequests_;
        state.stats.localHits = savedLocal_;
        state.stats.forwarded = savedForwarded_;
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

TEST_F(StatusReportTest, ErrorLineOnlyWhenStoppedWithNonZeroError) {
    struct Case {
        bool running;
        int32_t lastError;
        const char* head;
    };
    const Case cases[] = {
        {false, 10048,
         "Server:           STOPPED\r\n"
         "Last socket error: 10048 (bind UDP/53 often needs admin)\r\n"},
        {false, 10013,
         "Server:           STOPPED\r\n"
         "Last socket error: 10013 (bind UDP/53 often needs admin)\r\n"},
        {false, -5,
         "Server:           STOPPED\r\n"
         "Last socket error: -5 (bind UDP/53 often needs admin)\r\n"},
        {false, INT32_MIN,
         "Server:           STOPPED\r\n"
         "Last socket error: -2147483648 (bind UDP/53 often needs admin)\r\n"},
        // Stopped by the user or never failed: no error line.
        {false, 0, "Server:           STOPPED\r\n"},
        // A stale error while running is not shown.
        {true, 10048, "Server:           RUNNING\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "running=" << c.running << " error=" << c.lastError);
        SetFigures(c.running, c.lastError, 0, 0, 0);
        EXPECT_EQ(BuildStatusReport(), std::string(c.head) + "Port:              53 UDP\r\n" + Tail("0", "0", "0"));
    }
}

TEST_F(StatusReportTest, CountersAboveThirtyTwoBitsAreShownInFull) {
    SetFigures(true, 0, 4294967296ULL, 18446744073709551615ULL, 4294967295ULL + 7);
    const std::string report = BuildStatusReport();
    EXPECT_EQ(report,
              "Server:           RUNNING\r\n"
              "Port:              53 UDP\r\n" +
                  Tail("4294967296", "18446744073709551615", "4294967302"));
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
