#include "dns/forwarder_health.h"

#include <algorithm>

#include "dns/forward.h"
#include "dns/ipv4_text.h"

namespace {

bool IsUsable(const std::string& address) {
    uint8_t bytes[4];
    return !address.empty() && ParseIpv4Text(address, bytes);
}

bool IsDown(const ForwarderMemory& memory) {
    return memory.failuresInRow >= kOutageFailuresInRow;
}

bool IsTriedLast(const ForwarderMemory& memory, ForwarderClock::time_point now) {
    return memory.failuresInRow > 0 && now - memory.lastFailure < kSilentForwarderTriedLastFor;
}

void Add(ForwardPlan& plan, size_t forwarder, uint32_t timeoutMs) {
    plan.attempts[plan.count++] = ForwardAttempt{forwarder, timeoutMs};
}

}  // namespace

const std::string& ForwarderAddress(const ForwarderSettings& settings, size_t forwarder) {
    return forwarder == 0 ? settings.dns1 : forwarder == 1 ? settings.dns2 : settings.dns3;
}

ForwardPlan PlanForwarding(ForwarderHealth& health, const ForwarderSettings& settings, ForwarderClock::time_point now) {
    std::array<bool, kForwarderCount> usable{};
    bool anyUsable = false;
    bool everyUsableIsDown = true;
    ForwarderClock::time_point lastFailure{};
    for (size_t i = 0; i < kForwarderCount; ++i) {
        ForwarderMemory& memory = health.forwarders[i];
        const std::string& address = ForwarderAddress(settings, i);
        if (memory.address != address) {
            memory = ForwarderMemory{address};
        }
        usable[i] = IsUsable(memory.address);
        if (usable[i]) {
            anyUsable = true;
            everyUsableIsDown = everyUsableIsDown && IsDown(memory);
            lastFailure = std::max(lastFailure, memory.lastFailure);
        }
    }
    ForwardPlan plan;
    if (!anyUsable) {
        return plan;
    }
    if (everyUsableIsDown) {
        // Waiting 1.5 s for each of them would hold up every query behind this
        // one, the local names included. Every failed attempt, a probe's too,
        // starts the interval again, so the probes never come closer together.
        if (now - lastFailure < kOutageProbeInterval) {
            return plan;
        }
        for (size_t step = 0; step < kForwarderCount; ++step) {
            const size_t forwarder = (health.nextProbe + step) % kForwarderCount;
            if (usable[forwarder]) {
                health.nextProbe = (forwarder + 1) % kForwarderCount;
                Add(plan, forwarder, kOutageProbeTimeoutMs);
                break;
            }
        }
        return plan;
    }
    for (const bool triedLast : {false, true}) {
        for (size_t i = 0; i < kForwarderCount; ++i) {
            if (usable[i] && IsTriedLast(health.forwarders[i], now) == triedLast) {
                Add(plan, i, kUpstreamReceiveTimeoutMs);
            }
        }
    }
    return plan;
}

void NoteForwardingOutcome(ForwarderHealth& health, size_t forwarder, bool answered, ForwarderClock::time_point now) {
    ForwarderMemory& memory = health.forwarders[forwarder];
    if (answered) {
        memory.failuresInRow = 0;
        return;
    }
    if (memory.failuresInRow < kOutageFailuresInRow) {
        ++memory.failuresInRow;
    }
    memory.lastFailure = now;
}
