#include "dns/forwarder_health.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "dns/forward.h"

namespace {

// One query: when it comes (seconds from the start), which forwarders answer
// ("2": dns2 does), and the attempts expected for it, in order ("2 1": dns2,
// then dns1; "probe 3": dns3 alone, briefly). newDns1 replaces dns1's text
// first, when set.
struct Query {
    double at;
    std::string answering;
    std::string expected;
    const char* newDns1 = nullptr;
};

struct Scenario {
    const char* what;
    ForwarderSettings forwarders;
    std::vector<Query> queries;
};

std::string Describe(const ForwardPlan& plan) {
    std::string text;
    for (size_t i = 0; i < plan.count; ++i) {
        const ForwardAttempt& attempt = plan.attempts[i];
        text += text.empty() ? "" : " ";
        if (attempt.timeoutMs == kOutageProbeTimeoutMs) {
            text += "probe ";
        } else if (attempt.timeoutMs != kUpstreamReceiveTimeoutMs) {
            text += "timeout " + std::to_string(attempt.timeoutMs) + " ";
        }
        text += std::to_string(attempt.forwarder + 1);
    }
    return text;
}

// The times in the tables are the product's own intervals.
constexpr double kTriedLast = std::chrono::duration<double>(kSilentForwarderTriedLastFor).count();
constexpr double kProbe = std::chrono::duration<double>(kOutageProbeInterval).count();

TEST(ForwarderHealth, OrderOutageProbesAndRecovery) {
    const Scenario scenarios[] = {
        {"dns1 silent, dns2 answers: dns1 is asked last for a while, then in its place again",
         {"10.0.0.1", "10.0.0.2", ""},
         {{0, "2", "1 2"},
          {1, "2", "2 1"},
          {kTriedLast - 0.1, "2", "2 1"},
          {kTriedLast, "2", "1 2"},  // still silent: costs this one query its time-out
          {kTriedLast + 1, "2", "2 1"},
          {2 * kTriedLast + 1, "1 2", "1 2"},  // it answers again: back in its place at once
          {2 * kTriedLast + 2, "1 2", "1 2"}}},
        {"every forwarder silent: two failures each make an outage, probed in turn until one answers",
         {"10.0.0.1", "10.0.0.2", "10.0.0.3"},
         {{0, "", "1 2 3"},
          {5, "", "1 2 3"},  // all three tried last: in their order
          {6, "", ""},       // the outage: nothing is waited for
          {5 + kProbe - 0.1, "", ""},
          {5 + kProbe, "", "probe 1"},
          {5 + kProbe + 1, "", ""},
          {5 + 2 * kProbe, "", "probe 2"},
          {5 + 3 * kProbe, "3", "probe 3"},  // a reply ends the outage
          {5 + 3 * kProbe + 1, "3", "3 1 2"},
          // dns1's last failure was at 5 + kProbe; once 30 s have passed it is
          // asked first again.
          {5 + kProbe + kTriedLast, "3", "1 3 2"},
          {5 + 2 * kProbe + kTriedLast, "3", "2 3 1"}}},
        {"one forwarder that loses every third reply is never given up",
         {"10.0.0.1", "", ""},
         {{0, "1", "1"},
          {1, "1", "1"},
          {2, "", "1"},
          {3, "1", "1"},  // asked last, but it is the only one
          {4, "1", "1"},
          {5, "", "1"},
          {6, "1", "1"}}},
        {"two losses in a row are an outage; another address starts afresh",
         {"not.an.address", "10.0.0.2", " 10.0.0.3"},
         {{0, "", "2"},
          {1, "", "2"},
          {2, "", ""},
          {1 + kProbe, "", "probe 2"},
          {1 + kProbe + 1, "", ""},
          {1 + kProbe + 2, "", "1 2", "10.0.0.9"}}},
        {"nothing usable: no attempt at all",
         {"", "10.0.0.1:53", "host.example"},
         {{0, "", ""}, {kProbe + kTriedLast, "", ""}}},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.what);
        ForwarderHealth health;
        ForwarderSettings forwarders = scenario.forwarders;
        const ForwarderClock::time_point start{std::chrono::hours(1000)};
        for (const Query& query : scenario.queries) {
            if (query.newDns1 != nullptr) {
                forwarders.dns1 = query.newDns1;
            }
            const ForwarderClock::time_point now =
                start + std::chrono::duration_cast<ForwarderClock::duration>(std::chrono::duration<double>(query.at));
            const ForwardPlan plan = PlanForwarding(health, forwarders, now);
            EXPECT_EQ(Describe(plan), query.expected) << "query at " << query.at << " s";
            // Each attempt ends at once here; the first reply ends the query.
            for (size_t i = 0; i < plan.count; ++i) {
                const size_t forwarder = plan.attempts[i].forwarder;
                const bool answered = query.answering.find(std::to_string(forwarder + 1)) != std::string::npos;
                NoteForwardingOutcome(health, forwarder, answered, now);
                if (answered) {
                    break;
                }
            }
        }
    }
}

}  // namespace
