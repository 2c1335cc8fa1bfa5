#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "core/records.h"

using ForwarderClock = std::chrono::steady_clock;

// A forwarder that gave no reply is asked after the others for this long, or
// until it is heard from again.
constexpr std::chrono::seconds kSilentForwarderTriedLastFor{30};
// When every usable forwarder has failed this many times in a row, the
// connection to them is taken to be down and queries no longer wait for them.
constexpr uint32_t kOutageFailuresInRow = 2;
// During an outage one health check at most is sent in this time, to each
// forwarder in turn, and its reply is taken whenever it comes until the next.
constexpr std::chrono::seconds kOutageProbeInterval{10};
// A health check after a timed-out query is waited for this many of the
// forwarder's recent round trips, within the bounds below.
constexpr uint32_t kHealthCheckRoundTrips = 4;
constexpr std::chrono::milliseconds kHealthCheckShortestWait{250};
constexpr std::chrono::milliseconds kHealthCheckLongestWait{1500};

constexpr size_t kForwarderCount = 3;

// What the worker knows about the forwarders between queries. Each slot's
// knowledge belongs to its address text: another text starts afresh.
struct ForwarderHealth {
    struct Slot {
        std::string address;
        // Failures of the forwarder itself: a query that got no reply and a
        // health check that got none either.
        uint32_t failuresInRow = 0;
        bool silent = false;  // nothing heard from it since its last silence
        ForwarderClock::time_point lastSilence{};
        ForwarderClock::duration roundTrip{};  // smoothed; zero until timed
        // The health check sent to it and not judged yet.
        bool checkOpen = false;
        ForwarderClock::time_point checkSent{};
        ForwarderClock::duration checkWait{};
    };
    std::array<Slot, kForwarderCount> slots;
    size_t nextProbe = 0;  // the forwarder the next outage probe goes to
};

// The address text of dns1, dns2 or dns3 (forwarder 0, 1 or 2).
const std::string& ForwarderAddress(const ForwarderSettings& settings, size_t forwarder);

// The forwarders one query is sent to, in order, each at most once, and the
// forwarder to send an outage probe to, if any.
struct ForwardPlan {
    std::array<size_t, kForwarderCount> forwarders{};
    size_t count = 0;
    std::optional<size_t> probe;
};

// Step one of every query: slots whose address text changed start afresh
// (an open check of theirs is dropped).
void MatchForwarderSettings(ForwarderHealth& health, const ForwarderSettings& settings);

// What the socket of a slot's open health check has shown so far.
enum class HealthCheckReply { kNothingYet, kAnswered, kFailed };

// Step two, for every slot with an open check: any reply shows the forwarder
// works; none within the check's wait (or an error) is a failure of it.
void JudgeHealthCheck(ForwarderHealth& health,
                      size_t forwarder,
                      HealthCheckReply reply,
                      ForwarderClock::time_point now);

// Step three: usable forwarders (an IPv4 address) in their order, silent ones
// after the others; during an outage no forwarder at all, and now and then a
// probe (whose check is then open).
ForwardPlan PlanForwarding(ForwarderHealth& health, ForwarderClock::time_point now);

// Records how a query's attempt to one forwarder ended (roundTrip: how long
// an answered one took). True when a health check is to be sent to it now;
// its check is then open.
bool NoteForwardingOutcome(ForwarderHealth& health,
                           size_t forwarder,
                           bool answered,
                           ForwarderClock::duration roundTrip,
                           ForwarderClock::time_point now);
