#include "dns/forwarder_health.h"

#include <algorithm>

#include "dns/ipv4_text.h"

namespace {

using Slot = ForwarderHealth::Slot;

bool IsUsable(const Slot& slot) {
    uint8_t bytes[4];
    return !slot.address.empty() && ParseIpv4Text(slot.address, bytes);
}

bool IsDown(const Slot& slot) {
    return slot.failuresInRow >= kOutageFailuresInRow;
}

bool IsTriedLast(const Slot& slot, ForwarderClock::time_point now) {
    return slot.silent && now - slot.lastSilence < kSilentForwarderTriedLastFor;
}

void NoteSilence(Slot& slot, ForwarderClock::time_point at) {
    slot.silent = true;
    slot.lastSilence = std::max(slot.lastSilence, at);
}

void NoteHeardFrom(Slot& slot) {
    slot.failuresInRow = 0;
    slot.silent = false;
    slot.checkOpen = false;
}

// A resolver answers the root's NS records from its cache at once, so a check
// that waits several of its usual round trips has had its chance; an unknown
// or slow forwarder gets as long as a query's attempt.
ForwarderClock::duration CheckWait(const Slot& slot) {
    if (slot.roundTrip == ForwarderClock::duration::zero()) {
        return kHealthCheckLongestWait;
    }
    return std::clamp<ForwarderClock::duration>(slot.roundTrip * kHealthCheckRoundTrips, kHealthCheckShortestWait,
                                                kHealthCheckLongestWait);
}

void OpenCheck(Slot& slot, ForwarderClock::duration wait, ForwarderClock::time_point now) {
    slot.checkOpen = true;
    slot.checkSent = now;
    slot.checkWait = wait;
}

// During an outage no query waits for the forwarders; a check goes to one of
// them, in turn, once the last silence of any is kOutageProbeInterval old. An
// unanswered probe counts as a silence at the time it was sent, so the probes
// come one interval apart while queries keep coming.
void PlanProbe(ForwarderHealth& health,
               const std::array<bool, kForwarderCount>& usable,
               ForwardPlan& plan,
               ForwarderClock::time_point now) {
    ForwarderClock::time_point lastSilence{};
    for (size_t i = 0; i < kForwarderCount; ++i) {
        if (usable[i]) {
            if (health.slots[i].checkOpen) {
                return;
            }
            lastSilence = std::max(lastSilence, health.slots[i].lastSilence);
        }
    }
    if (now - lastSilence < kOutageProbeInterval) {
        return;
    }
    for (size_t step = 0; step < kForwarderCount; ++step) {
        const size_t forwarder = (health.nextProbe + step) % kForwarderCount;
        if (usable[forwarder]) {
            health.nextProbe = (forwarder + 1) % kForwarderCount;
            OpenCheck(health.slots[forwarder], kOutageProbeInterval, now);
            plan.probe = forwarder;
            return;
        }
    }
}

}  // namespace

const std::string& ForwarderAddress(const ForwarderSettings& settings, size_t forwarder) {
    return forwarder == 0 ? settings.dns1 : forwarder == 1 ? settings.dns2 : settings.dns3;
}

void MatchForwarderSettings(ForwarderHealth& health, const ForwarderSettings& settings) {
    for (size_t i = 0; i < kForwarderCount; ++i) {
        const std::string& address = ForwarderAddress(settings, i);
        if (health.slots[i].address != address) {
            health.slots[i] = Slot{address};
        }
    }
}

void JudgeHealthCheck(ForwarderHealth& health,
                      size_t forwarder,
                      HealthCheckReply reply,
                      ForwarderClock::time_point now) {
    Slot& slot = health.slots[forwarder];
    if (!slot.checkOpen) {
        return;
    }
    if (reply == HealthCheckReply::kAnswered) {
        NoteHeardFrom(slot);
        return;
    }
    if (reply == HealthCheckReply::kNothingYet && now - slot.checkSent < slot.checkWait) {
        return;
    }
    slot.checkOpen = false;
    if (slot.failuresInRow < kOutageFailuresInRow) {
        ++slot.failuresInRow;
    }
    NoteSilence(slot, slot.checkSent);
}

ForwardPlan PlanForwarding(ForwarderHealth& health, ForwarderClock::time_point now) {
    std::array<bool, kForwarderCount> usable{};
    bool anyUsable = false;
    bool everyUsableIsDown = true;
    for (size_t i = 0; i < kForwarderCount; ++i) {
        usable[i] = IsUsable(health.slots[i]);
        anyUsable = anyUsable || usable[i];
        everyUsableIsDown = everyUsableIsDown && (!usable[i] || IsDown(health.slots[i]));
    }
    ForwardPlan plan;
    if (!anyUsable) {
        return plan;
    }
    if (everyUsableIsDown) {
        // Waiting 1.5 s for each of them would hold up every query behind
        // this one, the local names included.
        PlanProbe(health, usable, plan, now);
        return plan;
    }
    for (const bool triedLast : {false, true}) {
        for (size_t i = 0; i < kForwarderCount; ++i) {
            if (usable[i] && IsTriedLast(health.slots[i], now) == triedLast) {
                plan.forwarders[plan.count++] = i;
            }
        }
    }
    return plan;
}

bool NoteForwardingOutcome(ForwarderHealth& health,
                           size_t forwarder,
                           bool answered,
                           ForwarderClock::duration roundTrip,
                           ForwarderClock::time_point now) {
    Slot& slot = health.slots[forwarder];
    if (answered) {
        NoteHeardFrom(slot);
        slot.roundTrip =
            slot.roundTrip == ForwarderClock::duration::zero() ? roundTrip : (slot.roundTrip * 7 + roundTrip) / 8;
        return false;
    }
    // A resolver may take longer than one attempt for a single name (its
    // domain's servers are dead, say), so silence about one query says
    // nothing yet about the forwarder: a check it answers at once does.
    NoteSilence(slot, now);
    if (slot.checkOpen) {
        return false;
    }
    OpenCheck(slot, CheckWait(slot), now);
    return true;
}
