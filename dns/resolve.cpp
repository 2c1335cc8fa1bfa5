#include "dns/resolve.h"

#include <mutex>

#include "core/server_state.h"
#include "dns/forward.h"
#include "dns/forwarder_health.h"

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

bool HasEnabledRecordNamed(const ServerConfig& config, const std::string& name) {
    for (const DnsRecord& record : config.records) {
        if (record.enabled && NamesMatch(record.name, name)) {
            return true;
        }
    }
    return false;
}

// What the worker learnt about the forwarders, kept across queries. Only the
// worker resolves while the server runs; the lock covers a reset from the
// window thread and tests that resolve on their own thread.
struct RememberedHealth {
    std::mutex lock;
    ForwarderHealth health;
    uint16_t upstreamPort = 0;  // what health was learnt against
};

RememberedHealth& Remembered() {
    static RememberedHealth remembered;
    return remembered;
}

ForwardPlan PlanForwardingNow(const ForwarderSettings& forwarders) {
    RememberedHealth& remembered = Remembered();
    std::lock_guard<std::mutex> hold(remembered.lock);
    if (remembered.upstreamPort != UpstreamPort()) {
        remembered.health = ForwarderHealth{};
        remembered.upstreamPort = UpstreamPort();
    }
    return PlanForwarding(remembered.health, forwarders, ForwarderClock::now());
}

void NoteForwardingOutcomeNow(size_t forwarder, bool answered) {
    RememberedHealth& remembered = Remembered();
    std::lock_guard<std::mutex> hold(remembered.lock);
    NoteForwardingOutcome(remembered.health, forwarder, answered, ForwarderClock::now());
}

}  // namespace

void ForgetForwarderHealth() {
    RememberedHealth& remembered = Remembered();
    std::lock_guard<std::mutex> hold(remembered.lock);
    remembered.health = ForwarderHealth{};
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

bool ResolveQuery(const uint8_t* query, size_t length, const DnsQuestion& question, std::vector<uint8_t>& reply) {
    ServerState& state = GetServerState();
    // Built outside the lock from the copy, so a change to the table during
    // this query cannot alter its answer.
    if (const std::optional<DnsRecord> record = FindLocalRecord(question.name, question.qtype)) {
        if (BuildLocalAnswer(query, length, question.name, question.qtype, *record, reply)) {
            state.stats.localHits.fetch_add(1);
            return true;
        }
        // A matched A record with an unusable address: later slots are not
        // tried, the query goes to the forwarders.
    }
    reply.clear();

    ForwarderSettings forwarders;
    bool nameIsLocal = false;
    {
        std::lock_guard<std::mutex> hold(state.stateLock);
        forwarders = state.config.forwarding;
        nameIsLocal = HasEnabledRecordNamed(state.config, question.name);
    }
    // Forwarders that did not answer lately are asked last, and while none of
    // them answers at all, at most a short probe now and then: a silent one
    // must not hold up this query and every one queued behind it.
    const ForwardPlan plan = PlanForwardingNow(forwarders);
    for (size_t i = 0; i < plan.count; ++i) {
        const ForwardAttempt& attempt = plan.attempts[i];
        const bool answered =
            ForwardQuery(query, length, ForwarderAddress(forwarders, attempt.forwarder), reply, attempt.timeoutMs);
        NoteForwardingOutcomeNow(attempt.forwarder, answered);
        if (answered) {
            state.stats.forwarded.fetch_add(1);
            return true;
        }
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
