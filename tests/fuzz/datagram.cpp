// Whole datagrams through the worker's per-datagram path: parse, drop
// responses, log, answer from the local table. No forwarder is set, so nothing
// leaves the process.
#include "dns/datagram.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "core/server_state.h"
#include "dns/codec.h"
#include "tests/test_support.h"

namespace {

int logLines = 0;

size_t datagramSize = 0;

void CheckLogLine(std::string_view line) {
    ++logLines;
    constexpr std::string_view kPrefix = "Q from 127.0.0.1 name=";
    if (line.substr(0, kPrefix.size()) != kPrefix) {
        std::abort();
    }
    // The name is at most as long as the datagram, and an escape writes four
    // bytes for one, so one datagram can never write much more than itself.
    constexpr std::string_view kLongestType = " type=65535";
    if (line.size() > kPrefix.size() + 4 * datagramSize + kLongestType.size()) {
        std::abort();
    }
    for (const char byte : line) {
        const auto value = static_cast<unsigned char>(byte);
        if (value < 0x20 || value == 0x7F) {
            std::abort();  // a name could split or cut the log line
        }
    }
}

// The first six slots: A and MX records, a value that is no address, an MX
// host with trailing dots, an empty name and a one-letter one.
void SeedTable() {
    using test_support::Record;
    const DnsRecord seeds[] = {Record(1, "host.example", "192.168.1.10"),
                               Record(15, "host.example", ""),
                               Record(1, "bad.example", "not-an-address"),
                               Record(15, "mx.example", "exchange.example..."),
                               Record(1, "", "10.0.0.1"),
                               Record(15, "a", "")};
    ServerConfig config;
    std::copy(std::begin(seeds), std::end(seeds), config.records.begin());
    test_support::SetLiveConfig(config);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool seeded = (SeedTable(), true);
    (void)seeded;
    ServerState& state = GetServerState();
    const uint64_t localHits = state.stats.localHits.load();
    const uint64_t forwarded = state.stats.forwarded.load();
    logLines = 0;
    datagramSize = size;

    std::vector<uint8_t> reply;
    static UpstreamBuffer upstream;
    const bool answered = HandleQueryDatagram(data, size, "127.0.0.1", &CheckLogLine, reply, upstream);

    const bool isResponse = size >= 3 && (data[2] & 0x80) != 0;
    if (isResponse && (answered || logLines != 0)) {
        std::abort();  // responses are never logged or answered
    }
    if (logLines > 1 || (answered && logLines != 1)) {
        std::abort();
    }
    if (state.stats.forwarded.load() != forwarded) {
        std::abort();
    }
    if (answered) {
        // A local answer to this very query: same ID, QR set, one question and
        // one answer, or no answer record at all (a known name without a
        // record of that type: the header and the question alone), counted once.
        const bool oneAnswer = reply.size() >= 12 + 1 + 4 + 16 && reply[7] == 1;
        DnsQuestion question;
        const size_t end = reply.size();
        const bool empty = end >= 12 + 1 + 4 && reply[7] == 0 && reply[9] == 0 && reply[11] == 0 &&
                           ParseQuestion(data, size, question) && reply[end - 5] == 0 &&
                           reply[end - 4] == (question.qtype >> 8) && reply[end - 3] == (question.qtype & 0xff) &&
                           reply[end - 2] == 0 && reply[end - 1] == 1;
        if ((!oneAnswer && !empty) || reply[0] != data[0] || reply[1] != data[1] || (reply[2] & 0x80) == 0 ||
            reply[5] != 1 || state.stats.localHits.load() != localHits + 1) {
            std::abort();
        }
    } else if (!reply.empty() || state.stats.localHits.load() != localHits) {
        std::abort();
    }
    return 0;
}
