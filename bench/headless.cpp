// Runs the DNS service without any window: takes the configuration from the
// command line, or from config.xml in the data folder when no record and no
// forwarder is given, starts the server and stops it again when standard
// input closes, SIGTERM/SIGINT arrives or, on Windows, the named event
// "TarnwickHeadlessStop" is set.
//
//   tarnwick_headless [--listen-port N] [--upstream-port N]
//                     [--forwarders DNS1,DNS2,DNS3] [--record A|MX,NAME,VALUE,TTL]...
//                     [--data-folder-base PATH] [--fail-ipv6-socket]
//
// Ports default to 53; --listen-port 0 takes a port that the system picks.
// --fail-ipv6-socket makes the dual-stack socket fail as on a machine without
// IPv6, so that the server listens on IPv4 alone.
// Once the server has bound its socket, "port=N" and "started" are printed,
// and one command per line is obeyed on standard input:
//   stats   prints the three counters and the run state
//   memory  prints the peak resident memory of the process
//   stop    stops the server (as every other way of stopping does), prints
//           how long StopServer took, and exits
// Exit status 0 after a clean stop, 2 when the socket could not be bound (the
// error code is printed), 1 for bad arguments.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "bench/headless_platform.h"
#include "config/config_storage.h"
#include "config/data_folder.h"
#include "core/server_state.h"
#include "dns/server.h"

namespace {

volatile std::sig_atomic_t stopSignalled = 0;

void OnStopSignal(int) {
    stopSignalled = 1;
}

std::mutex commandLock;
std::condition_variable commandArrived;
std::deque<std::string> commands;

void PostCommand(std::string command) {
    {
        std::lock_guard<std::mutex> hold(commandLock);
        commands.push_back(std::move(command));
    }
    commandArrived.notify_one();
}

void PostStop() {
    PostCommand("stop");
}

// The next command, or none after a short wait, so that the caller can look at
// the signal flag and the run state in between.
std::optional<std::string> NextCommand() {
    std::unique_lock<std::mutex> hold(commandLock);
    if (!commandArrived.wait_for(hold, std::chrono::milliseconds(50), [] { return !commands.empty(); })) {
        return std::nullopt;
    }
    std::string command = std::move(commands.front());
    commands.pop_front();
    return command;
}

// Reads standard input until it ends; runs detached, since a blocked read
// cannot be woken portably and the process exits around it.
void ReadCommands() {
    std::string line;
    while (std::getline(std::cin, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.pop_back();
        }
        if (!line.empty()) {
            PostCommand(line);
        }
    }
    PostStop();
}

// Every answer is one flushed line, since a controlling script waits for it.
__attribute__((format(printf, 1, 2))) void Say(const char* format, ...) {
    va_list values;
    va_start(values, format);
    std::vprintf(format, values);
    va_end(values);
    std::fflush(stdout);
}

void PrintStats() {
    ServerState& state = GetServerState();
    Say("requests=%llu localHits=%llu forwarded=%llu running=%d lastSocketError=%d\n",
        static_cast<unsigned long long>(state.stats.requests.load()),
        static_cast<unsigned long long>(state.stats.localHits.load()),
        static_cast<unsigned long long>(state.stats.forwarded.load()), state.running.load() ? 1 : 0,
        static_cast<int>(state.lastSocketError.load()));
}

int FailedToRun() {
    std::fprintf(stderr, "server not running, socket error %d\n",
                 static_cast<int>(GetServerState().lastSocketError.load()));
    JoinFinishedWorker();
    return 2;
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
                    std::optional<uint16_t>& listenPort,
                    uint16_t& upstreamPort) {
    size_t nextSlot = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--fail-ipv6-socket") {
            FailDualStackSocketForTesting(true);
            continue;
        }
        if (i + 1 >= argc) {
            return false;
        }
        const char* value = argv[++i];
        if (option == "--listen-port") {
            uint16_t port = 0;
            if (!ParsePort(value, port))
                return false;
            listenPort = port;
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
            record.type = fields[0] == "A" ? kTypeA : kTypeMx;
            record.name = fields[1];
            record.value = fields[2];
            record.ttl = static_cast<uint32_t>(std::strtoul(fields[3].c_str(), nullptr, 10));
            record.enabled = true;
        } else if (option == "--data-folder-base") {
            SetDataFolderBase(PathArgument(value));
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
    std::optional<uint16_t> listenPort;
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
    SetServerPortsForTesting(listenPort.value_or(0), upstreamPort);
    if (listenPort == 0) {
        UseAnyListenPortForTesting();
    }
    std::signal(SIGTERM, OnStopSignal);
    std::signal(SIGINT, OnStopSignal);

    StartServer();
    // The worker binds on its own thread: either its port shows, or running
    // falls back to false.
    while (state.running.load() && ListeningPort() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    if (!state.running.load()) {
        return FailedToRun();
    }
    Say("port=%u\n", static_cast<unsigned>(ListeningPort()));
    Say("started\n");

    WatchForStopRequests(PostStop);
    std::thread(ReadCommands).detach();
    for (;;) {
        std::optional<std::string> command = NextCommand();
        if (stopSignalled != 0) {
            command = "stop";
        }
        if (!state.running.load()) {
            return FailedToRun();
        }
        if (!command) {
            continue;
        }
        if (*command == "stats") {
            PrintStats();
        } else if (*command == "memory") {
            Say("peak_rss_kb=%llu\n", static_cast<unsigned long long>(PeakResidentKilobytes()));
        } else if (*command == "stop") {
            const auto started = std::chrono::steady_clock::now();
            StopServer();
            const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - started;
            JoinFinishedWorker();
            Say("stop_ms=%.3f\n", took.count());
            PrintStats();
            return 0;
        } else {
            Say("unknown command: %s\n", command->c_str());
        }
    }
}
