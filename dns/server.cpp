#include "dns/server.h"

#include <array>
#include <atomic>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "core/server_state.h"
#include "dns/datagram.h"
#include "dns/forward.h"
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

void ReceiveLoop(ServerState& state, SocketHandle socket) {
    std::array<uint8_t, kReceiveCapacity> buffer;
    std::vector<uint8_t> reply;
    UpstreamBuffer upstream;
    while (state.running.load()) {
        UdpEndpoint client;
        const int received = ReceiveFrom(socket, buffer.data(), buffer.size(), client);
        if (!state.running.load()) {
            break;
        }
        // Errors (an oversized datagram, a reply that bounced off a closed
        // client port) and empty datagrams are not counted.
        if (received <= 0) {
            continue;
        }
        state.stats.requests.fetch_add(1);
        // A query this worker itself forwarded to this machine: dropped like
        // a datagram that does not parse, or it would go round for ever.
        if (IsOwnForwardedQuery(buffer.data(), static_cast<size_t>(received), client)) {
            continue;
        }
        if (HandleQueryDatagram(buffer.data(), static_cast<size_t>(received), FormatIpv4Address(client.address),
                                &AppendLogLine, reply, upstream) &&
            !state.stopping.load()) {
            // Once the socket is closed, its handle value may already name another socket.
            SendTo(socket, reply.data(), reply.size(), client);
        }
    }
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

void ServerWorker() {
    ServerState& state = GetServerState();
    state.lastSocketError.store(0);
    const SocketHandle socket = OpenUdpSocket();
    if (socket == kInvalidSocket) {
        ReportWorkerFailure(state, LastSocketError());
        return;
    }
    state.socket.store(socket);
    const uint16_t portOverride = listenPortOverride.load();
    UdpEndpoint local;  // 0.0.0.0: every local IPv4 address, port 0: any port
    if (!anyListenPort.load()) {
        local.port = portOverride != 0 ? portOverride : kDnsPort;
    }
    if (!BindUdpSocket(socket, local)) {
        const int error = LastSocketError();
        CloseListeningSocket(state);
        ReportWorkerFailure(state, error);
        return;
    }
    UdpEndpoint bound;
    boundListenPort.store(LocalEndpoint(socket, bound) ? bound.port : local.port);
    AppendLogLine("DNS server started on UDP/53");
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
