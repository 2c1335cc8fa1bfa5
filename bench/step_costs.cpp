// Times each step of the local-answer path on its own, in this process, so
// that the native build and the Windows build under Wine can be compared step
// by step. Every step runs a fixed number of times (and at most a few seconds).
// The data folder is the real one of the environment (XDG_DATA_HOME natively,
// AppData\Local in a Wine prefix); the log lines land in its dns.log.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "config/data_folder.h"
#include "core/file_io.h"
#include "core/server_state.h"
#include "dns/client_address.h"
#include "dns/codec.h"
#include "dns/datagram.h"
#include "dns/resolve.h"
#include "dns/udp_socket.h"
#include "log/event_log.h"

namespace {

constexpr double kStepSecondsLimit = 3.0;

// A query for the last of 20 records, so the look-up scans the whole table.
const std::vector<uint8_t> kQuery = {
    0x12, 0x34, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,          // header, RD, one question
    6,    'h',  'o',  's',  't',  '2',  '0',  5,    'b',  'e',  'n',  'c',  'h', 0,  // host20.bench
    0x00, 0x01, 0x00, 0x01,                                                          // A, IN
};

void FillRecords() {
    ServerState& state = GetServerState();
    std::lock_guard<std::mutex> hold(state.stateLock);
    for (size_t i = 0; i < kRecordSlotCount; ++i) {
        DnsRecord& record = state.config.records[i];
        record.enabled = true;
        record.type = kTypeA;
        record.name = "host" + std::to_string(i + 1) + ".bench";
        record.value = "10.0.0." + std::to_string(i + 1);
        record.ttl = 300;
    }
}

void Time(const char* step, long iterations, const std::function<void()>& body) {
    const auto start = std::chrono::steady_clock::now();
    long done = 0;
    double elapsed = 0;
    while (done < iterations) {
        body();
        ++done;
        if ((done & 63) == 0) {
            elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (elapsed > kStepSecondsLimit) {
                break;
            }
        }
    }
    elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-44s %10.2f us  (%ld calls)\n", step, elapsed * 1e6 / static_cast<double>(done), done);
    std::fflush(stdout);
}

void NoLog(std::string_view) {}

}  // namespace

int main(int argc, char** argv) {
    const long iterations = argc > 1 ? std::max(1L, std::min(std::atol(argv[1]), 1000000L)) : 5000;
    FillRecords();
    if (!StartSocketLayer()) {
        std::fprintf(stderr, "socket layer did not start\n");
        return 1;
    }

    DnsQuestion question;
    std::vector<uint8_t> reply;
    UpstreamBuffer upstream;
    const std::wstring folder = DataFolderPath();
    const std::wstring logPath = LogFilePath();
    const std::string line = FormatLogTimestamp() + " Q from 127.0.0.1 name=host20.bench type=1\r\n";
    Time("  the user's application-data folder", iterations, [] { PlatformDataFolderBase(); });
    Time("  create the existing data folder", iterations, [&] { CreateFolder(folder); });
    Time("DataFolderPath (find and create the folder)", iterations, [] { DataFolderPath(); });
    Time("LogFilePath", iterations, [] { LogFilePath(); });
    Time("FormatLogTimestamp (local time and text)", iterations, [] { FormatLogTimestamp(); });
    Time("  open, write one line, close", iterations, [&] { AppendToFile(logPath, line); });
    Time("AppendLogLine (all of the above)", iterations,
         [] { AppendLogLine("Q from 127.0.0.1 name=host20.bench type=1"); });
    Time("FormatIpv4Address + FormatQueryLogLine", iterations, [&] {
        const uint8_t address[4] = {127, 0, 0, 1};
        ParseQuestion(kQuery.data(), kQuery.size(), question);
        FormatQueryLogLine(FormatIpv4Address(address), question);
    });
    Time("ParseQuestion", iterations, [&] { ParseQuestion(kQuery.data(), kQuery.size(), question); });
    Time("ResolveQuery (scan 20 slots, build the answer)", iterations,
         [&] { ResolveQuery(kQuery.data(), kQuery.size(), question, reply, upstream); });
    Time("HandleQueryDatagram without the log write", iterations,
         [&] { HandleQueryDatagram(kQuery.data(), kQuery.size(), "127.0.0.1", &NoLog, reply, upstream); });
    // The worker's sender check for a client of the home network (IPv4, as
    // the dual-stack socket gives it), with this machine's networks read once.
    ClientGate gate{ReadLocalNetworks(), std::chrono::steady_clock::now(), {}};
    const uint8_t homeClient[4] = {192, 168, 1, 20};
    const ClientAddress sender = MapIpv4(homeClient);
    Time("AdmitClient (a client of the home network)", iterations,
         [&] { AdmitClient(gate, sender, 40000, std::chrono::steady_clock::now(), &ReadLocalNetworks, &NoLog); });

    // One query's traffic: the client sends, the server receives and sends
    // back, the client receives. The server's share is one receive and one
    // send.
    const SocketHandle server = OpenUdpSocket();
    const SocketHandle client = OpenUdpSocket();
    UdpEndpoint loopback;
    loopback.address[0] = 127;
    loopback.address[3] = 1;
    UdpEndpoint serverEnd;
    UdpEndpoint clientEnd;
    if (server == kInvalidSocket || client == kInvalidSocket || !BindUdpSocket(server, loopback) ||
        !BindUdpSocket(client, loopback) || !LocalEndpoint(server, serverEnd) || !LocalEndpoint(client, clientEnd)) {
        std::fprintf(stderr, "loopback sockets failed\n");
        return 1;
    }
    SetReceiveTimeout(server, 1000);
    SetReceiveTimeout(client, 1000);
    uint8_t buffer[2048];
    Time("UDP loopback round trip (2 sends, 2 receives)", iterations, [&] {
        UdpEndpoint from;
        SendTo(client, kQuery.data(), kQuery.size(), serverEnd);
        ReceiveFrom(server, buffer, sizeof buffer, from);
        SendTo(server, kQuery.data(), kQuery.size(), from);
        ReceiveFrom(client, buffer, sizeof buffer, from);
    });
    CloseUdpSocket(server);
    CloseUdpSocket(client);
    StopSocketLayer();
    return 0;
}
