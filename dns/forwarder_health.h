#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/records.h"
#include "core/socket_handle.h"

using ForwarderClock = std::chrono::steady_clock;

// A forwarder that gave no reply twice within this time, or failed a health
// check, is asked after the others for this long.
constexpr std::chrono::seconds kSilentForwarderTriedLastFor{30};
// When every usable forwarder has failed this many times in a row, the
// connection to them is taken to be down and queries no longer wait for them.
constexpr uint32_t kOutageFailuresInRow = 2;
// During an outage each forwarder gets a health check (a probe) once it has
// been silent this long, and its reply is taken whenever it comes until the next.
constexpr std::chrono::seconds kOutageProbeInterval{10};
// A health check after a timed-out query is waited for this many of the
// forwarder's recent round trips, within the bounds below.
constexpr uint32_t kHealthCheckRoundTrips = 4;
constexpr std::chrono::milliseconds kHealthCheckShortestWait{250};
constexpr std::chrono::milliseconds kHealthCheckLongestWait{1500};

constexpr size_t kForwarderCount = 3;

// A health check sent and not judged yet, with the socket its reply comes to:
// whoever ends the check closes that socket.
struct HealthCheck {
    SocketHandle socket = kInvalidSocket;
    uint16_t id = 0;
    ForwarderClock::time_point sent{};
    ForwarderClock::time_point deadline{};
};

// What the worker knows about one forwarder between queries; it belongs to
// the address text, and another text starts afresh.
struct ForwarderState {
    std::string address;
    uint32_t failuresInRow = 0;                   // health checks it left unanswered, in a row
    ForwarderClock::time_point askedLastUntil{};  // after the others until then
    ForwarderClock::duration roundTrip{};         // smoothed; zero until timed
    ForwarderClock::time_point lastHeardFrom{};
    std::optional<HealthCheck> check;
};
using ForwarderStates = std::array<ForwarderState, kForwarderCount>;

// The address text of dns1, dns2 or dns3 (forwarder 0, 1 or 2).
const std::string& ForwarderAddress(const ForwarderSettings& settings, size_t forwarder);

// The forwarders one query is sent to, in order, each at most once, and those
// to send an outage probe to now.
struct ForwardPlan {
    std::array<size_t, kForwarderCount> forwarders{};
    size_t count = 0;
    std::array<bool, kForwarderCount> probe{};
};

// Usable forwarders (an IPv4 address) in their order, those asked last after
// the others; during an outage none, and a probe to each that is due one.
ForwardPlan PlanForwarding(const ForwarderStates& forwarders, ForwarderClock::time_point now);

// Records how a query's attempt to the forwarder ended (roundTrip: how long an
// answered one took). Returns how long to wait for a health check that is to
// be sent to it now, if one is.
std::optional<ForwarderClock::duration> NoteForwardingOutcome(ForwarderState& forwarder,
                                                              bool answered,
                                                              ForwarderClock::duration roundTrip,
                                                              ForwarderClock::time_point now);

// What the socket of an open health check has shown so far.
enum class HealthCheckReply { kNothingYet, kAnswered, kFailed };

// Judges the forwarder's open check by its reply; no reply by its deadline is
// a failure. True when the check is over, to be closed by the caller.
bool JudgeHealthCheck(ForwarderState& forwarder, HealthCheckReply reply, ForwarderClock::time_point now);
