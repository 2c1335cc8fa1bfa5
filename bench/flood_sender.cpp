// A mixed flood: every good query is preceded by one malformed datagram (in
// turn a 5-byte stub, a name that is a compression pointer to itself, and a
// well-formed question with the QR bit set). Up to --window good queries are
// outstanding at once. Stops after --good good queries or --seconds, then
// waits at most the time-out for the last replies, and prints one line:
// how many good queries were sent, answered and lost, and how many replies
// the QR-set datagrams drew.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_query.h"
#include "bench/bench_target.h"

namespace {

constexpr const char* kUsage =
    "flood_sender --server IPV4 --port N --names FILE [--good N] [--seconds S] [--window W] [--timeout-ms MS]";

// Good queries use IDs 0 to kMaxGood - 1; the malformed ones use IDs above.
constexpr long kMaxGood = 60000;
constexpr uint16_t kQrSetId = 0xFFFF;

struct Options {
    bench::TargetOptions target;
    long good = 20000;
    int window = 10;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    bench::ParseOptions(argc, argv, options.target, {{"--good", &options.good}, {"--window", &options.window}}, kUsage);
    if (options.good <= 0 || options.good > kMaxGood || options.window <= 0 || options.window > 1000) {
        bench::Usage(kUsage);
    }
    return options;
}

std::vector<std::vector<uint8_t>> MalformedDatagrams(const std::string& localName) {
    const std::vector<uint8_t> stub = {0xEE, 0xEE, 0x01, 0x00, 0x00};
    const std::vector<uint8_t> pointerLoop = {
        0xEE, 0xEF, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // header, one question
        0xC0, 0x0C,              // name: a pointer to offset 12, which is this pointer
        0x00, 0x01, 0x00, 0x01,  // QTYPE A, QCLASS IN
    };
    // QR set on an otherwise good question for a local name.
    const std::vector<uint8_t> qrSet = bench::BuildQuery(kQrSetId, 0x8100, localName, 1);
    return {stub, pointerLoop, qrSet};
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    const std::vector<std::string> names = bench::ReadTargetNames(options.target);
    const int fd = bench::ConnectToTarget(options.target);

    const std::vector<std::vector<uint8_t>> malformed = MalformedDatagrams(names[0]);
    using Clock = std::chrono::steady_clock;
    std::vector<Clock::time_point> sentAt(static_cast<size_t>(options.good));
    // 0 not sent, 1 outstanding, 2 answered, 3 lost
    std::vector<uint8_t> status(static_cast<size_t>(options.good), 0);
    long goodSent = 0;
    long answered = 0;
    long lost = 0;
    long malformedSent = 0;
    long qrSetReplies = 0;
    long outstanding = 0;
    long oldest = 0;  // every good query before this one is settled
    const auto timeout = std::chrono::milliseconds(options.target.timeoutMs);
    const auto start = Clock::now();
    const auto sendingEnds =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.target.seconds));
    const auto hardEnd = sendingEnds + timeout;
    uint8_t reply[4096];

    while (Clock::now() < hardEnd) {
        const bool maySend = goodSent < options.good && Clock::now() < sendingEnds;
        if (!maySend && outstanding == 0) {
            break;
        }
        while (maySend && outstanding < options.window && goodSent < options.good) {
            const std::vector<uint8_t>& bad = malformed[static_cast<size_t>(malformedSent) % malformed.size()];
            if (::send(fd, bad.data(), bad.size(), 0) == static_cast<ssize_t>(bad.size())) {
                ++malformedSent;
            }
            const uint16_t id = static_cast<uint16_t>(goodSent);
            const std::vector<uint8_t> query =
                bench::BuildQuery(id, 0x0100, names[static_cast<size_t>(goodSent) % names.size()], 1);
            sentAt[static_cast<size_t>(goodSent)] = Clock::now();
            status[static_cast<size_t>(goodSent)] = 1;
            ++goodSent;
            ++outstanding;
            if (::send(fd, query.data(), query.size(), 0) != static_cast<ssize_t>(query.size())) {
                status[static_cast<size_t>(goodSent - 1)] = 3;
                --outstanding;
                ++lost;
            }
        }
        pollfd ready{fd, POLLIN, 0};
        if (::poll(&ready, 1, 20) > 0) {
            // Drain whatever has arrived.
            for (;;) {
                const ssize_t n = ::recv(fd, reply, sizeof reply, MSG_DONTWAIT);
                if (n < 0) {
                    break;
                }
                if (n < 12 || (reply[2] & 0x80) == 0) {
                    continue;
                }
                const long id = (static_cast<long>(reply[0]) << 8) | reply[1];
                if (id == kQrSetId) {
                    ++qrSetReplies;
                } else if (id < goodSent && status[static_cast<size_t>(id)] == 1) {
                    status[static_cast<size_t>(id)] = 2;
                    ++answered;
                    --outstanding;
                }
            }
        }
        // Give up on good queries that waited longer than the time-out.
        const auto now = Clock::now();
        while (oldest < goodSent) {
            uint8_t& state = status[static_cast<size_t>(oldest)];
            if (state == 1) {
                if (now - sentAt[static_cast<size_t>(oldest)] < timeout) {
                    break;
                }
                state = 3;
                ++lost;
                --outstanding;
            }
            ++oldest;
        }
    }
    const double elapsed = bench::SecondsSince(start);
    ::close(fd);
    lost += outstanding;  // still waiting at the hard end
    std::printf(
        "good_sent=%ld good_answered=%ld good_lost=%ld malformed_sent=%ld qr_set_replies=%ld seconds=%.3f "
        "good_qps=%.1f\n",
        goodSent, answered, lost, malformedSent, qrSetReplies, elapsed, static_cast<double>(answered) / elapsed);
    return 0;
}
