#include "dns/resolve.h"

#include <array>
#include <mutex>

#include "core/server_state.h"
#include "dns/forward.h"
#include "dns/forwarder_health.h"
#include "dns/ipv4_text.h"
#include "dns/udp_socket.h"

namespace {

char FoldAsciiLetter(char byte) {
    return (byte >= 'A' && byte <= 'Z') ? static_cast<char>(byte - 'A' + 'a') : byte;
}

// Compared as zero-terminated strings, like the C runtime's case-insensitive
// comparison: a NUL inside either name ends it there. Only A-Z fold; bytes
// above 0x7F compare by value whatever the locale.
bool NamesMatch(const std::string& recordName, const std::string& questionName) {
    const char* left = recordName.c_str();
    const char* right = questionName.c_str();
    for (;; ++left, ++right) {
        if (FoldAsciiLetter(*left) != FoldAsciiLetter(*right)) {
            return false;
        }
        if (*left == '\0') {
            return true;
        }
    }
}

bool TypeFits(int32_t recordType, uint16_t qtype) {
    switch (qtype) {
        case kTypeA:
            return recordType == kTypeA;
        case kTypeMx:
            return recordType == kTypeMx;
        case kTypeAny:
            return recordType == kTypeA || recordType == kTypeMx;
        default:
            return false;
    }
}

// Whether the A query for name is answered here: the first enabled A record
// of that name holds an address.
bool HasLocalAddress(const std::string& name) {
    const std::optional<DnsRecord> record = FindLocalRecord(name, kTypeA);
    uint8_t address[4];
    return record && ParseIpv4Text(record->value, address);
}

bool HasEnabledRecordNamed(const ServerConfig& config, const std::string& name) {
    for (const DnsRecord& record : config.records) {
        if (record.enabled && NamesMatch(record.name, name)) {
            return true;
        }
    }
    return false;
}

// What the worker knows about the forwarders, kept across queries, with their
// open health checks. Only the worker resolves while the server runs; the
// lock covers StartServer's reset on the window thread and tests that resolve
// on their own thread. It is held only to plan, to note an outcome and to send
// or look at a check, never across an attempt.
std::mutex healthLock;
ForwarderStates forwarderStates;

void CloseCheck(ForwarderState& forwarder) {
    if (forwarder.check) {
        CloseUdpSocket(forwarder.check->socket);
        forwarder.check.reset();
    }
}

// A check that cannot be sent has failed. Once the server is stopping none is
// sent: nobody would wait for its reply.
void OpenCheck(ForwarderState& forwarder, ForwarderClock::duration wait, ForwarderClock::time_point now) {
    if (GetServerState().stopping.load()) {
        return;
    }
    forwarder.check = SendHealthCheck(forwarder.address);
    forwarder.check->sent = now;
    forwarder.check->deadline = now + wait;
    if (forwarder.check->socket == kInvalidSocket) {
        JudgeHealthCheck(forwarder, HealthCheckReply::kFailed, now);
        forwarder.check.reset();
    }
}

// Slots whose address text changed start afresh; open checks are judged by
// what their sockets hold; outage probes are sent.
ForwardPlan PlanForwardingNow(const ForwarderSettings& settings, UpstreamBuffer& buffer) {
    std::lock_guard<std::mutex> hold(healthLock);
    const ForwarderClock::time_point now = ForwarderClock::now();
    for (size_t i = 0; i < kForwarderCount; ++i) {
        ForwarderState& forwarder = forwarderStates[i];
        if (forwarder.address != ForwarderAddress(settings, i)) {
            CloseCheck(forwarder);
            forwarder = ForwarderState{};
            forwarder.address = ForwarderAddress(settings, i);
        }
        if (forwarder.check && JudgeHealthCheck(forwarder, PollHealthCheck(*forwarder.check, buffer), now)) {
            CloseCheck(forwarder);
        }
    }
    const ForwardPlan plan = PlanForwarding(forwarderStates, now);
    for (size_t i = 0; i < kForwarderCount; ++i) {
        if (plan.probe[i]) {
            OpenCheck(forwarderStates[i], kOutageProbeInterval, now);
        }
    }
    return plan;
}

void NoteForwardingOutcomeNow(size_t forwarder, bool answered, ForwarderClock::duration roundTrip) {
    std::lock_guard<std::mutex> hold(healthLock);
    const ForwarderClock::time_point now = ForwarderClock::now();
    if (const auto wait = NoteForwardingOutcome(forwarderStates[forwarder], answered, roundTrip, now)) {
        OpenCheck(forwarderStates[forwarder], *wait, now);
    }
}

// Built outside the lock from the record's copy, so a change to the table
// during this query cannot alter its answer.
bool AnswerLocally(const uint8_t* query, size_t length, const DnsQuestion& question, std::vector<uint8_t>& reply) {
    if (const std::optional<DnsRecord> record = FindLocalRecord(question.name, question.qtype)) {
        if (BuildLocalAnswer(query, length, question.name, question.qtype, *record, reply)) {
            return true;
        }
        // A matched A record with an unusable address: later slots are not
        // tried, the query goes to the forwarders.
    }
    // A name whose address the user holds here keeps its other addresses to
    // itself: the upstream's IPv6 address, or the address hints of its HTTPS
    // record, would lead clients past the user's record to the public site.
    // Its other types (mail, text) still come from upstream.
    return (question.qtype == kTypeAaaa || question.qtype == kTypeHttps) && HasLocalAddress(question.name) &&
           BuildEmptyAnswer(query, length, question.name, question.qtype, reply);
}

// Forwarders that did not answer lately are asked last, and while none of
// them answers at all, none is waited for: a silent one must not hold up this
// query and every one queued behind it. Once the server is stopping no
// further forwarder is asked, so a stop waits for one attempt at most.
bool AskForwarders(const uint8_t* query,
                   size_t length,
                   const ForwarderSettings& forwarders,
                   std::vector<uint8_t>& reply,
                   UpstreamBuffer& buffer) {
    const ForwardPlan plan = PlanForwardingNow(forwarders, buffer);
    for (size_t i = 0; i < plan.count && !GetServerState().stopping.load(); ++i) {
        const size_t forwarder = plan.forwarders[i];
        const ForwarderClock::time_point started = ForwarderClock::now();
        const bool answered = ForwardQuery(query, length, ForwarderAddress(forwarders, forwarder), reply, buffer);
        NoteForwardingOutcomeNow(forwarder, answered, ForwarderClock::now() - started);
        if (answered) {
            return true;
        }
    }
    return false;
}

}  // namespace

void ForgetForwarderHealth() {
    std::lock_guard<std::mutex> hold(healthLock);
    for (ForwarderState& forwarder : forwarderStates) {
        CloseCheck(forwarder);
        forwarder = ForwarderState{};
    }
}

std::optional<DnsRecord> FindLocalRecord(const std::string& name, uint16_t qtype) {
    ServerState& state = GetServerState();
    std::lock_guard<std::mutex> hold(state.stateLock);
    for (const DnsRecord& record : state.config.records) {
        if (record.enabled && TypeFits(record.type, qtype) && NamesMatch(record.name, name)) {
            return record;
        }
    }
    return std::nullopt;
}

bool ResolveQuery(const uint8_t* query,
                  size_t length,
                  const DnsQuestion& question,
                  std::vector<uint8_t>& reply,
                  UpstreamBuffer& buffer) {
    ServerState& state = GetServerState();
    if (AnswerLocally(query, length, question, reply)) {
        state.stats.localHits.fetch_add(1);
        return true;
    }
    reply.clear();
    ForwarderSettings forwarders;
    bool nameIsLocal = false;
    {
        std::lock_guard<std::mutex> hold(state.stateLock);
        forwarders = state.config.forwarding;
        nameIsLocal = HasEnabledRecordNamed(state.config, question.name);
    }
    if (AskForwarders(query, length, forwarders, reply, buffer)) {
        state.stats.forwarded.fetch_add(1);
        return true;
    }
    // Resolvers ask for A and AAAA together and wait out their own time-outs
    // (5 s a try) for a type that gets no reply, so a name that answers A and
    // nothing else would take 10-15 s to look up. When no forwarder answered,
    // a name this table knows gets an empty answer (NODATA) instead; any other
    // name still gets nothing, as no error is ever made up here.
    if (nameIsLocal && BuildEmptyAnswer(query, length, question.name, question.qtype, reply)) {
        state.stats.localHits.fetch_add(1);
        return true;
    }
    reply.clear();
    return false;
}
