#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/records.h"

using ForwarderClock = std::chrono::steady_clock;

// A forwarder whose last attempt got no reply is asked after the others for
// this long after that attempt.
constexpr std::chrono::seconds kSilentForwarderTriedLastFor{30};
// When every usable forwarder has failed this many attempts in a row, the
// connection to them is taken to be down and queries no longer wait for them.
constexpr uint32_t kOutageFailuresInRow = 2;
// During an outage one query at most is sent on in this time, to each
// forwarder in turn, and waited for only kOutageProbeTimeoutMs.
constexpr std::chrono::seconds kOutageProbeInterval{10};
constexpr uint32_t kOutageProbeTimeoutMs = 500;

constexpr size_t kForwarderCount = 3;

// What the worker remembers about one forwarder slot between queries. It
// belongs to the address text: another text in the slot starts afresh.
struct ForwarderMemory {
    std::string address;
    uint32_t failuresInRow = 0;
    ForwarderClock::time_point lastFailure{};
};

struct ForwarderHealth {
    std::array<ForwarderMemory, kForwarderCount> forwarders;
    size_t nextProbe = 0;  // the forwarder the next outage probe goes to
};

// The address text of dns1, dns2 or dns3 (forwarder 0, 1 or 2).
const std::string& ForwarderAddress(const ForwarderSettings& settings, size_t forwarder);

struct ForwardAttempt {
    size_t forwarder = 0;  // 0 for dns1, 1 for dns2, 2 for dns3
    uint32_t timeoutMs = 0;
};

struct ForwardPlan {
    std::array<ForwardAttempt, kForwarderCount> attempts;
    size_t count = 0;
};

// The forwarders one query is sent to, in order, each at most once: usable
// ones (an IPv4 address) in their order, those that failed their last attempt
// within kSilentForwarderTriedLastFor after the others. During an outage at
// most a single probe, or nothing. Brings health in line with settings first.
ForwardPlan PlanForwarding(ForwarderHealth& health, const ForwarderSettings& settings, ForwarderClock::time_point now);

// Records how the attempt to one forwarder ended.
void NoteForwardingOutcome(ForwarderHealth& health, size_t forwarder, bool answered, ForwarderClock::time_point now);
