#include "dns/server.h"

#include <array>
#include <atomic>
#include <chrono>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "core/server_state.h"
#include "dns/datagram.h"
#include "dns/forward.h"
#include "dns/listen_socket.h"
#include "dns/resolve.h"
#include "dns/udp_socket.h"
#include "log/event_log.h"

namespace {

constexpr uint16_t kDnsPort = 53;
constexpr size_t kReceiveCapacity = 2048;

std::atomic<uint16_t> listenPortOverride{0};
std::atomic<bool> anyListenPort{false};
std::atomic<uint16_t> boundListenPort{0};
std::atomic<void (*)()> refreshHook{nullptr};
std::atomic<void (*)()> workerFailedHook{nullptr};
std::atomic<bool> failNextWorkerLaunch{false};
std::atomic<bool> failDualStackSocket{false};

void RefreshServerControls() {
    if (void (*hook)() = refreshHook.load()) {
        hook();
    }
}

// The worker gave up after StartServer had already refreshed the window, so
// nothing else would tell the window that the server is not running.
void ReportWorkerFailure(ServerState& state, int error) {
    state.lastSocketError.store(error);
    state.running.store(false);
    if (void (*hook)() = workerFailedHook.load()) {
        hook();
    }
}

// Whoever takes the valid handle out of the state closes it, so the worker's
// own end and StopServer never close it twice.
void CloseListeningSocket(ServerState& state) {
    const SocketHandle socket = state.socket.exchange(kInvalidSocket);
    if (socket != kInvalidSocket) {
        CloseUdpSocket(socket);
    }
}

bool LaunchWorker(ServerState& state) {
    if (failNextWorkerLaunch.exchange(false)) {
        return false;
    }
    try {
        state.worker = std::thread(ServerWorker);
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

// The query's sender as the forwarding code names it: IPv4 alone.
bool SenderAsIpv4(const QueryOrigin& origin, UdpEndpoint& sender) {
    sender.port = origin.port;
    return UnmapToIpv4(origin.client, sender.address);
}

void ReceiveLoop(ServerState& state, SocketHandle socket) {
    std::array<uint8_t, kReceiveCapacity> buffer;
    std::vector<uint8_t> reply;
    UpstreamBuffer upstream;
    ClientGate gate{ReadLocalNetworks(), std::chrono::steady_clock::now(), {}};
    while (state.running.load()) {
        QueryOrigin origin;
        const int received = ReceiveQuery(socket, buffer.data(), buffer.size(), origin);
        if (!state.running.load()) {
            break;
        }
        // Errors (an oversized datagram, a reply that bounced off a closed
        // client port) and empty datagrams are not counted.
        if (received <= 0) {
            continue;
        }
        const size_t length = static_cast<size_t>(received);
        state.stats.requests.fetch_add(1);
        // A query this worker itself forwarded to this machine: dropped like
        // a datagram that does not parse, or it would go round for ever.
        UdpEndpoint ipv4Sender;
        if (SenderAsIpv4(origin, ipv4Sender) && IsOwnForwardedQuery(buffer.data(), length, ipv4Sender)) {
            continue;
        }
        // Nobody outside this machine's networks is answered, so that a
        // machine with a public address is no open resolver.
        if (!AdmitClient(gate, origin.client, origin.port, std::chrono::steady_clock::now(), &ReadLocalNetworks,
                         &AppendLogLine)) {
            continue;
        }
        if (HandleQueryDatagram(buffer.data(), length, FormatClientAddress(origin.client), &AppendLogLine, reply,
                                upstream) &&
            !state.stopping.load()) {
            // Once the socket is closed, its handle value may already name another socket.
            SendReply(socket, reply.data(), reply.size(), origin);
        }
    }
}

// One socket for IPv4 and IPv6 clients; where the machine has no IPv6 (or
// port 53 is held on IPv6 alone), the IPv4 socket every machine had before,
// with ipv6Error saying why. A test can make the IPv6 socket fail by binding
// it to an address that no machine has (100::, discard-only).
SocketHandle OpenServerSocket(uint16_t port, int& error, int& ipv6Error) {
    static constexpr uint8_t kEveryAddress[16] = {};
    static constexpr uint8_t kNoMachinesAddress[16] = {0x01, 0x00};
    const SocketHandle socket =
        OpenListeningSocket(failDualStackSocket.load() ? kNoMachinesAddress : kEveryAddress, port, ipv6Error);
    if (socket != kInvalidSocket) {
        return socket;
    }
    return OpenListeningSocket(nullptr, port, error);
}

}  // namespace

void SetRefreshServerControlsHook(void (*hook)()) {
    refreshHook.store(hook);
}

void SetWorkerFailedHook(void (*hook)()) {
    workerFailedHook.store(hook);
}

void SetServerPortsForTesting(uint16_t listenPort, uint16_t upstreamPort) {
    listenPortOverride.store(listenPort);
    anyListenPort.store(false);
    SetUpstreamPortForTesting(upstreamPort);
}

void UseAnyListenPortForTesting() {
    anyListenPort.store(true);
}

uint16_t ListeningPort() {
    return boundListenPort.load();
}

void FailNextWorkerLaunchForTesting() {
    failNextWorkerLaunch.store(true);
}

void FailDualStackSocketForTesting(bool fail) {
    failDualStackSocket.store(fail);
}

void ServerWorker() {
    ServerState& state = GetServerState();
    state.lastSocketError.store(0);
    const uint16_t portOverride = listenPortOverride.load();
    const uint16_t port = anyListenPort.load() ? 0 : portOverride != 0 ? portOverride : kDnsPort;
    int error = 0;
    int ipv6Error = 0;
    const SocketHandle socket = OpenServerSocket(port, error, ipv6Error);
    if (socket == kInvalidSocket) {
        ReportWorkerFailure(state, error);
        return;
    }
    state.socket.store(socket);
    const uint16_t bound = ListeningSocketPort(socket);
    boundListenPort.store(bound != 0 ? bound : port);
    AppendLogLine("DNS server started on UDP/53");
    if (ipv6Error != 0) {
        AppendLogLine("IPv6 not available (error " + std::to_string(ipv6Error) + "): serving IPv4 only");
    }
    ReceiveLoop(state, socket);
    ForgetForwarderHealth();  // closes open health checks while the socket layer is up
    AppendLogLine("DNS server stopped");
    boundListenPort.store(0);
    CloseListeningSocket(state);
}

void JoinFinishedWorker() {
    ServerState& state = GetServerState();
    // Only a worker that set running to false itself can be held while running
    // is false outside StopServer, and it is at its end or past it.
    if (!state.running.load() && state.worker.joinable()) {
        state.worker.join();
    }
}

void StartServer() {
    ServerState& state = GetServerState();
    if (state.running.load()) {
        return;
    }
    JoinFinishedWorker();
    if (!StartSocketLayer()) {
        AppendLogLine("WSAStartup failed");
        return;
    }
    state.running.store(true);
    state.stopping.store(false);
    state.lastSocketError.store(0);
    ForgetForwarderHealth();
    if (!LaunchWorker(state)) {
        // Without a worker nothing would ever set running back to false.
        state.running.store(false);
        StopSocketLayer();
    }
    RefreshServerControls();
}

void StopServer() {
    ServerState& state = GetServerState();
    if (!state.running.load()) {
        JoinFinishedWorker();
        return;
    }
    state.stopping.store(true);
    state.running.store(false);
    // Taking the handle out first means the worker's own end finds nothing
    // to close; on POSIX the descriptor is closed only after the worker has
    // been joined, since the worker may still be using it until then.
    const SocketHandle socket = state.socket.exchange(kInvalidSocket);
    const bool closed = socket != kInvalidSocket && InterruptUdpSocket(socket);
    if (state.worker.joinable()) {
        state.worker.join();
    }
    state.stopping.store(false);  // the stop is over: no worker is left to heed it
    if (socket != kInvalidSocket && !closed) {
        CloseUdpSocket(socket);
    }
    StopSocketLayer();
    RefreshServerControls();
}
