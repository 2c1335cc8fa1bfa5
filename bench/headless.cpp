// Runs the DNS service without any window: takes the configuration from the
// command line, or from config.xml in the data folder when no record and no
// forwarder is given, starts the server and stops it again when standard
// input closes or SIGTERM/SIGINT arrives.
//
//   tarnwick_headless [--listen-port N] [--upstream-port N]
//                     [--forwarders DNS1,DNS2,DNS3] [--record A|MX,NAME,VALUE,TTL]...
//                     [--data-folder-base PATH]
//
// Ports default to 53. Exit status 0 after a clean stop, 2 when the socket
// could not be bound (the error code is printed), 1 for bad arguments.

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "config/config_storage.h"
#include "config/data_folder.h"
#include "core/server_state.h"
#include "dns/server.h"
#include "log/text_convert.h"

namespace {

volatile std::sig_atomic_t stopSignalled = 0;
std::atomic<bool> inputClosed{false};

void OnStopSignal(int) {
    stopSignalled = 1;
}

std::vector<std::string> SplitCommas(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        parts.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) {
            return parts;
        }
        start = comma + 1;
    }
}

bool ParsePort(const char* text, uint16_t& port) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0' || value > 65535) {
        return false;
    }
    port = static_cast<uint16_t>(value);
    return true;
}

bool ParseArguments(int argc,
                    char** argv,
                    ServerConfig& config,
                    bool& configGiven,
                    uint16_t& listenPort,
                    uint16_t& upstreamPort) {
    size_t nextSlot = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const char* value = argv[++i];
        if (option == "--listen-port") {
            if (!ParsePort(value, listenPort))
                return false;
        } else if (option == "--upstream-port") {
            if (!ParsePort(value, upstreamPort))
                return false;
        } else if (option == "--forwarders") {
            configGiven = true;
            std::vector<std::string> servers = SplitCommas(value);
            servers.resize(3);
            config.forwarding = {servers[0], servers[1], servers[2]};
        } else if (option == "--record") {
            configGiven = true;
            const std::vector<std::string> fields = SplitCommas(value);
            if (fields.size() != 4 || (fields[0] != "A" && fields[0] != "MX") || nextSlot >= kRecordSlotCount) {
                return false;
            }
            DnsRecord& record = config.records[nextSlot++];
            record.type = fields[0] == "A" ? 1 : 15;
            record.name = fields[1];
            record.value = fields[2];
            record.ttl = static_cast<uint32_t>(std::strtoul(fields[3].c_str(), nullptr, 10));
            record.enabled = true;
        } else if (option == "--data-folder-base") {
            SetDataFolderBaseForTesting(Utf8ToUtf16(value));
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    ServerConfig config;
    bool configGiven = false;
    uint16_t listenPort = 0;
    uint16_t upstreamPort = 0;
    if (!ParseArguments(argc, argv, config, configGiven, listenPort, upstreamPort)) {
        std::fprintf(stderr, "usage: see the comment at the top of bench/headless.cpp\n");
        return 1;
    }
    ServerState& state = GetServerState();
    if (configGiven) {
        std::lock_guard<std::mutex> hold(state.stateLock);
        state.config = config;
    } else {
        LoadConfigAtStartup();
    }
    SetServerPortsForTesting(listenPort, upstreamPort);
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGINT, OnStopSignal);

    // Standard input is read on a thread of its own so the main loop can also
    // notice signals and a failed bind.
    std::thread([] {
        while (std::fgetc(stdin) != EOF) {
        }
        inputClosed = true;
    }).detach();

    StartServer();
    while (!inputClosed.load() && stopSignalled == 0) {
        if (!state.running.load()) {
            std::fprintf(stderr, "server not running, socket error %d\n", static_cast<int>(state.lastSocketError));
            JoinFinishedWorker();
            return 2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    StopServer();
    JoinFinishedWorker();
    return 0;
}
