// Strictly one query outstanding: send, wait for the matching reply (or the
// time-out), then send the next. dnsperf cannot do this, since with -q 1 it
// sleeps between sends. Stops after --count queries or --seconds, whichever
// comes first, and prints one line of figures.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_query.h"
#include "bench/bench_target.h"

namespace {

constexpr const char* kUsage =
    "serial_client --server IPV4 --port N --names FILE [--count N] [--seconds S] [--timeout-ms MS]";

struct Options {
    bench::TargetOptions target;
    long count = 100000;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    bench::ParseOptions(argc, argv, options.target, {{"--count", &options.count}}, kUsage);
    if (options.count <= 0) {
        bench::Usage(kUsage);
    }
    return options;
}

double Percentile(std::vector<double> sorted, double fraction) {
    if (sorted.empty()) {
        return 0;
    }
    const size_t index =
        std::min(sorted.size() - 1, static_cast<size_t>(fraction * static_cast<double>(sorted.size())));
    return sorted[index];
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    const std::vector<std::string> names = bench::ReadTargetNames(options.target);
    const int fd = bench::ConnectToTarget(options.target);

    std::vector<double> latenciesUs;
    latenciesUs.reserve(static_cast<size_t>(std::min(options.count, 1000000L)));
    long sent = 0;
    long lost = 0;
    uint8_t reply[4096];
    const auto start = std::chrono::steady_clock::now();
    while (sent < options.count && bench::SecondsSince(start) < options.target.seconds) {
        const uint16_t id = static_cast<uint16_t>(sent);
        const std::vector<uint8_t> query =
            bench::BuildQuery(id, 0x0100, names[static_cast<size_t>(sent) % names.size()], 1);
        const auto sentAt = std::chrono::steady_clock::now();
        ++sent;
        if (::send(fd, query.data(), query.size(), 0) != static_cast<ssize_t>(query.size())) {
            ++lost;
            continue;
        }
        bool answered = false;
        for (;;) {
            const double waitedMs = bench::SecondsSince(sentAt) * 1000;
            if (waitedMs >= options.target.timeoutMs) {
                break;
            }
            pollfd ready{fd, POLLIN, 0};
            if (::poll(&ready, 1, static_cast<int>(options.target.timeoutMs - waitedMs) + 1) <= 0) {
                continue;
            }
            const ssize_t n = ::recv(fd, reply, sizeof reply, 0);
            // A late reply to an earlier query, or a refused port, is skipped.
            if (n >= 12 && reply[0] == (id >> 8) && reply[1] == (id & 0xFF) && (reply[2] & 0x80) != 0) {
                answered = true;
                break;
            }
        }
        if (answered) {
            latenciesUs.push_back(bench::SecondsSince(sentAt) * 1e6);
        } else {
            ++lost;
        }
    }
    const double elapsed = bench::SecondsSince(start);
    ::close(fd);

    std::vector<double> sorted = latenciesUs;
    std::sort(sorted.begin(), sorted.end());
    double sum = 0;
    for (double value : sorted) {
        sum += value;
    }
    const double average = sorted.empty() ? 0 : sum / static_cast<double>(sorted.size());
    std::printf(
        "sent=%ld answered=%zu lost=%ld seconds=%.3f qps=%.1f avg_us=%.1f p50_us=%.1f p99_us=%.1f max_us=%.1f\n", sent,
        sorted.size(), lost, elapsed, static_cast<double>(sorted.size()) / elapsed, average, Percentile(sorted, 0.50),
        Percentile(sorted, 0.99), sorted.empty() ? 0 : sorted.back());
    return 0;
}
