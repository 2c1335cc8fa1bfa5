#include <cstdlib>
#include <fstream>
#include <string>

#include "bench/headless_platform.h"
#include "core/path_bytes.h"

void WatchForStopRequests(void (*)()) {}

std::wstring PathArgument(const char* argument) {
    return PathFromBytes(argument);
}

uint64_t PeakResidentKilobytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::strtoull(line.c_str() + 6, nullptr, 10);
        }
    }
    return 0;
}
