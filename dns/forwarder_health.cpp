#include "dns/forwarder_health.h"

#include <algorithm>

#include "dns/ipv4_text.h"

namespace {

bool IsUsable(const ForwarderState& forwarder) {
    uint8_t bytes[4];
    return !forwarder.address.empty() && ParseIpv4Text(forwarder.address, bytes);
}

bool IsDown(const ForwarderState& forwarder) {
    return forwarder.failuresInRow >= kOutageFailuresInRow;
}

bool IsAskedLast(const ForwarderState& forwarder, ForwarderClock::time_point now) {
    return now < forwarder.askedLastUntil;
}

// A resolver answers the root's NS records from its cache at once, so a check
// that waits several of its usual round trips has had its chance; an unknown
// or slow forwarder gets as long as a query's attempt.
ForwarderClock::duration CheckWait(const ForwarderState& forwarder) {
    if (forwarder.roundTrip == ForwarderClock::duration::zero()) {
        return kHealthCheckLongestWait;
    }
    return std::clamp<ForwarderClock::duration>(forwarder.roundTrip * kHealthCheckRoundTrips, kHealthCheckShortestWait,
                                                kHealthCheckLongestWait);
}

}  // namespace

const std::string& ForwarderAddress(const ForwarderSettings& settings, size_t forwarder) {
    return forwarder == 0 ? settings.dns1 : forwarder == 1 ? settings.dns2 : settings.dns3;
}

ForwardPlan PlanForwarding(const ForwarderStates& forwarders, ForwarderClock::time_point now) {
    ForwardPlan plan;
    bool everyUsableIsDown = true;
    for (size_t i = 0; i < kForwarderCount; ++i) {
        if (IsUsable(forwarders[i])) {
            plan.forwarders[plan.count++] = i;
            everyUsableIsDown = everyUsableIsDown && IsDown(forwarders[i]);
        }
    }
    if (plan.count > 0 && everyUsableIsDown) {
        // Waiting 1.5 s for each of them would hold up every query behind
        // this one, the local names included. A forwarder that is down was
        // last found silent kSilentForwarderTriedLastFor before the end of
        // its time asked last; it gets a probe once that is the probe interval
        // ago, and an unanswered probe is such a silence.
        for (size_t i = 0; i < plan.count; ++i) {
            const ForwarderState& forwarder = forwarders[plan.forwarders[i]];
            plan.probe[plan.forwarders[i]] =
                !forwarder.check &&
                now - (forwarder.askedLastUntil - kSilentForwarderTriedLastFor) >= kOutageProbeInterval;
        }
        plan.count = 0;
        return plan;
    }
    // Those asked last come after the others, the one heard from most
    // recently first: when an outage ends, the forwarder whose probe was
    // answered goes before those still silent.
    std::stable_sort(plan.forwarders.begin(), plan.forwarders.begin() + static_cast<std::ptrdiff_t>(plan.count),
                     [&](size_t left, size_t right) {
                         const bool leftLast = IsAskedLast(forwarders[left], now);
                         if (leftLast != IsAskedLast(forwarders[right], now)) {
                             return !leftLast;
                         }
                         return leftLast && forwarders[left].lastHeardFrom > forwarders[right].lastHeardFrom;
                     });
    return plan;
}

std::optional<ForwarderClock::duration> NoteForwardingOutcome(ForwarderState& forwarder,
                                                              bool answered,
                                                              ForwarderClock::duration roundTrip,
                                                              ForwarderClock::time_point now) {
    if (answered) {
        forwarder.failuresInRow = 0;
        forwarder.askedLastUntil = std::min(forwarder.askedLastUntil, now);
        forwarder.lastHeardFrom = now;
        forwarder.roundTrip = forwarder.roundTrip == ForwarderClock::duration::zero()
                                  ? roundTrip
                                  : (forwarder.roundTrip * 7 + roundTrip) / 8;
        return std::nullopt;
    }
    // A resolver may take longer than one attempt for a single name (its
    // domain's servers are dead, say), so silence about one query says
    // nothing yet about the forwarder: it is asked last while a check is
    // open, and a check it answers puts it back in its place. One that is
    // silent again within 30 s of being asked last (a lossy link, or names
    // it cannot resolve in time) stays last for 30 s whatever its check
    // shows: each such query costs the whole worker an attempt.
    const bool again = forwarder.askedLastUntil != ForwarderClock::time_point{} &&
                       now < forwarder.askedLastUntil + kSilentForwarderTriedLastFor;
    const ForwarderClock::duration wait = CheckWait(forwarder);
    forwarder.askedLastUntil = std::max(forwarder.askedLastUntil, now + (again ? kSilentForwarderTriedLastFor : wait));
    if (forwarder.check) {
        return std::nullopt;
    }
    return wait;
}

bool JudgeHealthCheck(ForwarderState& forwarder, HealthCheckReply reply, ForwarderClock::time_point now) {
    const HealthCheck& check = *forwarder.check;
    if (reply == HealthCheckReply::kAnswered) {
        forwarder.failuresInRow = 0;
        forwarder.lastHeardFrom = now;
        if (forwarder.askedLastUntil <= check.deadline) {
            forwarder.askedLastUntil = std::min(forwarder.askedLastUntil, now);
        }
        return true;
    }
    if (reply == HealthCheckReply::kNothingYet && now < check.deadline) {
        return false;
    }
    forwarder.failuresInRow = std::min(forwarder.failuresInRow + 1, kOutageFailuresInRow);
    forwarder.askedLastUntil = std::max(forwarder.askedLastUntil, check.sent + kSilentForwarderTriedLastFor);
    return true;
}
