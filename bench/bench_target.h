#pragma once

// What the load generators share about their target: the command line
// ("--key value" pairs, the ones every tool has and each tool's own), the
// names to ask and the socket connected to the server.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include "bench/bench_query.h"

namespace bench {

// What every load generator is told: the server, the names file, how long it
// may send and how long it waits for a reply.
struct TargetOptions {
    std::string server;
    int port = 53;
    std::string namesFile;
    double seconds = 5;
    int timeoutMs = 1000;
};

// One option of a tool's own: its key and the field its value goes to.
struct ExtraOption {
    const char* key;
    std::variant<int*, long*> field;
};

// Reads the "--key value" pairs into target and the extras. An unknown key, a
// key without a value or target options out of range print the usage and exit;
// the tool checks its own options' ranges itself.
inline void ParseOptions(int argc,
                         char** argv,
                         TargetOptions& target,
                         std::initializer_list<ExtraOption> extras,
                         const char* usage) {
    if (argc % 2 == 0) {
        Usage(usage);
    }
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--server") {
            target.server = value;
        } else if (key == "--port") {
            target.port = std::atoi(value);
        } else if (key == "--names") {
            target.namesFile = value;
        } else if (key == "--seconds") {
            target.seconds = std::atof(value);
        } else if (key == "--timeout-ms") {
            target.timeoutMs = std::atoi(value);
        } else {
            bool known = false;
            for (const ExtraOption& extra : extras) {
                if (key == extra.key) {
                    known = true;
                    std::visit(
                        [value](auto* field) {
                            *field = static_cast<std::remove_pointer_t<decltype(field)>>(std::atol(value));
                        },
                        extra.field);
                }
            }
            if (!known) {
                Usage(usage);
            }
        }
    }
    if (target.server.empty() || target.namesFile.empty() || target.port <= 0 || target.port > 65535 ||
        target.seconds <= 0 || target.seconds > 600 || target.timeoutMs <= 0) {
        Usage(usage);
    }
}

// The names of the target's names file; exits when there are none.
inline std::vector<std::string> ReadTargetNames(const TargetOptions& target) {
    std::vector<std::string> names = ReadNames(target.namesFile.c_str());
    if (names.empty()) {
        std::fprintf(stderr, "no names in %s\n", target.namesFile.c_str());
        std::exit(66);
    }
    return names;
}

// A UDP socket connected to the target server, so that send and recv need no
// address and replies from anyone else are not delivered; exits on failure.
inline int ConnectToTarget(const TargetOptions& target) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in server{};
    server.sin_family = AF_INET;
    server.sin_port = htons(static_cast<uint16_t>(target.port));
    if (fd < 0 || ::inet_pton(AF_INET, target.server.c_str(), &server.sin_addr) != 1 ||
        ::connect(fd, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0) {
        std::fprintf(stderr, "cannot reach %s\n", target.server.c_str());
        std::exit(69);
    }
    return fd;
}

}  // namespace bench
