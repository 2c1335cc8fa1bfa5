#pragma once

// Shared by the load generators: query building and the names file.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

// A standard query: the given ID and flags, one question of class IN.
inline std::vector<uint8_t> BuildQuery(uint16_t id, uint16_t flags, const std::string& name, uint16_t qtype) {
    std::vector<uint8_t> query = {
        static_cast<uint8_t>(id >> 8),
        static_cast<uint8_t>(id),  // ID
        static_cast<uint8_t>(flags >> 8),
        static_cast<uint8_t>(flags),  // flags
        0,
        1,
        0,
        0,
        0,
        0,
        0,
        0,  // QDCOUNT 1, no other records
    };
    size_t start = 0;
    while (start < name.size()) {
        size_t dot = name.find('.', start);
        if (dot == std::string::npos) {
            dot = name.size();
        }
        const size_t length = std::min<size_t>(dot - start, 63);
        query.push_back(static_cast<uint8_t>(length));
        query.insert(query.end(), name.begin() + static_cast<long>(start),
                     name.begin() + static_cast<long>(start + length));
        start = dot + 1;
    }
    query.push_back(0);
    query.push_back(static_cast<uint8_t>(qtype >> 8));
    query.push_back(static_cast<uint8_t>(qtype));
    query.push_back(0);  // QCLASS IN
    query.push_back(1);
    return query;
}

// One name per line; a dnsperf data file works too (the type column is
// ignored, every query asks for A).
inline std::vector<std::string> ReadNames(const char* path) {
    std::vector<std::string> names;
    std::ifstream file(path);
    std::string line;
    while (std::getline(file, line)) {
        const size_t end = line.find_first_of(" \t\r");
        line = line.substr(0, end);
        if (!line.empty() && line[0] != '#') {
            names.push_back(line);
        }
    }
    return names;
}

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

[[noreturn]] inline void Usage(const char* text) {
    std::fprintf(stderr, "usage: %s\n", text);
    std::exit(64);
}

}  // namespace bench
