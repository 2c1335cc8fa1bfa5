#include "dns/forwarder_health.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

// One query: when it comes (seconds from the start), which forwarders answer
// it ("2": dns2 does), and what is expected for it: the plan's forwarders in
// order, each marked "?" when its attempt sent a health check ("1? 2": dns1
// timed out and was checked, then dns2), and "probe N M" for outage probes.
// checks: the forwarders whose open check has its reply when the query comes;
// newDns1 replaces dns1's text first, when set.
struct Query {
    double at;
    std::string answering;
    std::string expected;
    std::string checks = "";
    const char* newDns1 = nullptr;
};

struct Scenario {
    const char* what;
    ForwarderSettings forwarders;
    std::vector<Query> queries;
};

bool Names(const std::string& forwarders, size_t forwarder) {
    return forwarders.find(std::to_string(forwarder + 1)) != std::string::npos;
}

// The times in the tables are the product's own intervals.
constexpr double kTriedLast = std::chrono::duration<double>(kSilentForwarderTriedLastFor).count();
constexpr double kProbe = std::chrono::duration<double>(kOutageProbeInterval).count();
constexpr double kCheckWait = std::chrono::duration<double>(kHealthCheckLongestWait).count();

TEST(ForwarderHealth, ChecksOrderOutageProbesAndRecovery) {
    const Scenario scenarios[] = {
        {"dns1 silent, dns2 answers: dns1 is asked last while its checks go unanswered, then in its place again",
         {"10.0.0.1", "10.0.0.2", ""},
         {{0, "2", "1? 2"},
          {kCheckWait - 0.1, "2", "2 1"},  // its check still open: asked last already
          {kCheckWait, "2", "2 1"},        // unanswered: a failure
          {kTriedLast - 0.1, "2", "2 1"},
          {kTriedLast, "2", "1? 2"},  // still silent: costs this one query its time-out
          {kTriedLast + 1, "2", "2 1"},
          {2 * kTriedLast + 1, "1 2", "1 2"},  // it answers again: back in its place at once
          {2 * kTriedLast + 2, "1 2", "1 2"}}},
        {"a name that no forwarder resolves in time (A and AAAA at once, twice): checks answered, no outage, order "
         "kept",
         {"10.0.0.1", "10.0.0.2", ""},
         {{0, "", "1? 2?"},
          {0, "", "1 2"},  // one check each at a time
          {1, "1", "1 2", "12"},
          {5, "", "1? 2?"},
          {5, "", "1 2"},
          {6, "1", "1 2", "12"}}},
        {"dns1 loses a reply now and then beside dns2: back in its place after one, last for 30 s after two",
         {"10.0.0.1", "10.0.0.2", ""},
         {{0, "1", "1 2"},
          {1, "2", "1? 2"},
          {2, "1", "1 2", "1"},
          {3, "2", "1? 2"},
          {4, "2", "2 1", "1"},  // it works, but it has left two queries without a reply lately
          {3 + kTriedLast, "1", "1 2"}}},
        {"every forwarder silent: two failures each make an outage, each probed every 10 s; a reply ends it, and "
         "the one that answered is asked first",
         {"10.0.0.1", "10.0.0.2", "10.0.0.3"},
         {{0, "", "1? 2? 3?"},
          {2, "", "1? 2? 3?"},  // the checks failed: all three asked last, in their order
          {4, "", ""},          // the outage: nothing is waited for
          {2 + kProbe - 0.1, "", ""},
          {2 + kProbe, "", "probe 1 2 3"},  // 10 s after the checks that failed were sent
          {2 + kProbe + 1, "", ""},
          {2 + 2 * kProbe, "", "probe 1 2 3"},
          {2 + 3 * kProbe - 1, "3", "3 1 2", "3"},  // answered after 9 s: the outage is over
          // The other two probes failed; 30 s after they were sent those two
          // are asked first again, and are still silent.
          {2 + 2 * kProbe + kTriedLast, "3", "1? 2? 3"}}},
        {"one forwarder that loses every third datagram, checks included, is never given up",
         {"10.0.0.1", "", ""},
         {{0, "1", "1"},
          {1, "", "1?"},
          {2, "", "1?"},  // its check was lost too: one failure, and a new check
          {3, "1", "1", "1"},
          {4, "", "1?"},
          {5, "1", "1"}}},  // a lost check after a reset is the first failure again
        {"two failures in a row are an outage; another address starts afresh",
         {"not.an.address", "10.0.0.2", " 10.0.0.3"},
         {{0, "", "2?"},
          {2, "", "2?"},
          {4, "", ""},
          {2 + kProbe, "", "probe 2"},
          {2 + kProbe + 1, "", ""},
          {2 + kProbe + 2, "", "1? 2", "", "10.0.0.9"}}},
        {"nothing usable: no attempt at all",
         {"", "10.0.0.1:53", "host.example"},
         {{0, "", ""}, {kProbe + kTriedLast, "", ""}}},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.what);
        ForwarderStates health;
        for (size_t i = 0; i < kForwarderCount; ++i) {
            health[i].address = ForwarderAddress(scenario.forwarders, i);
        }
        const ForwarderClock::time_point start{std::chrono::hours(1000)};
        for (const Query& query : scenario.queries) {
            if (query.newDns1 != nullptr) {
                health[0] = ForwarderState{};
                health[0].address = query.newDns1;
            }
            const ForwarderClock::time_point now =
                start + std::chrono::duration_cast<ForwarderClock::duration>(std::chrono::duration<double>(query.at));
            const auto openCheck = [&](size_t i, ForwarderClock::duration wait) {
                health[i].check = HealthCheck{kInvalidSocket, 0, now, now + wait};
            };
            for (size_t i = 0; i < kForwarderCount; ++i) {
                const HealthCheckReply reply =
                    Names(query.checks, i) ? HealthCheckReply::kAnswered : HealthCheckReply::kNothingYet;
                if (health[i].check && JudgeHealthCheck(health[i], reply, now)) {
                    health[i].check.reset();
                }
            }
            const ForwardPlan plan = PlanForwarding(health, now);
            // Each attempt ends at once here; the first reply ends the query.
            std::string described;
            bool answered = false;
            for (size_t i = 0; i < plan.count; ++i) {
                const size_t forwarder = plan.forwarders[i];
                described += described.empty() ? "" : " ";
                described += std::to_string(forwarder + 1);
                if (!answered) {
                    answered = Names(query.answering, forwarder);
                    const auto wait =
                        NoteForwardingOutcome(health[forwarder], answered, std::chrono::milliseconds(10), now);
                    if (wait) {
                        openCheck(forwarder, *wait);
                        described += "?";
                    }
                }
            }
            for (size_t i = 0; i < kForwarderCount; ++i) {
                if (plan.probe[i]) {
                    openCheck(i, kOutageProbeInterval);
                    described += (described.empty() ? "probe " : " ") + std::to_string(i + 1);
                }
            }
            EXPECT_EQ(described, query.expected) << "query at " << query.at << " s";
        }
    }
}

}  // namespace
