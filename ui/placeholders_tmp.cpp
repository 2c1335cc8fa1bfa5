// TEMPORARY stand-ins for pieces that are built on other branches; each goes
// away as soon as the real one is merged.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <string>
#include <thread>

#include "core/server_state.h"
#include "dns/server.h"
#include "log/event_log.h"
#include "ui/ui_shared.h"

namespace {

LRESULT ToolWindowStandIn(ToolWindowKind kind, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        Ui().toolWindows[kind] = nullptr;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void (*refreshHook)() = nullptr;
uint16_t listenPort = 53;

void Refresh() {
    if (refreshHook != nullptr) {
        refreshHook();
    }
}

}  // namespace

LRESULT CALLBACK RecordsEditorProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ToolWindowStandIn(kRecordsEditorWindow, window, message, wParam, lParam);
}
LRESULT CALLBACK ForwardingWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ToolWindowStandIn(kForwardingWindow, window, message, wParam, lParam);
}
LRESULT CALLBACK LogWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return ToolWindowStandIn(kLogWindow, window, message, wParam, lParam);
}

void SetRefreshServerControlsHook(void (*hook)()) {
    refreshHook = hook;
}

void SetServerPortsForTesting(uint16_t listen, uint16_t) {
    listenPort = listen == 0 ? 53 : listen;
}

void ServerWorker() {
    ServerState& state = GetServerState();
    state.lastSocketError = 0;
    const SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (s == INVALID_SOCKET) {
        state.lastSocketError = WSAGetLastError();
        state.running = false;
        return;
    }
    state.socket = static_cast<SocketHandle>(s);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(listenPort);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        state.lastSocketError = WSAGetLastError();
        if (state.socket.exchange(kInvalidSocket) != kInvalidSocket) {
            closesocket(s);
        }
        state.running = false;
        return;
    }
    if (!state.running) {
        if (state.socket.exchange(kInvalidSocket) != kInvalidSocket) {
            closesocket(s);
        }
        return;
    }
    AppendLogLine("DNS server started on UDP/53");
    char buffer[2048];
    while (state.running) {
        sockaddr_in client{};
        int length = sizeof client;
        const int received = recvfrom(s, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&client), &length);
        if (!state.running) {
            break;
        }
        if (received > 0) {
            state.stats.requests++;
        }
    }
    AppendLogLine("DNS server stopped");
    const SocketHandle left = state.socket.exchange(kInvalidSocket);
    if (left != kInvalidSocket) {
        closesocket(static_cast<SOCKET>(left));
    }
}

void StartServer() {
    ServerState& state = GetServerState();
    if (state.running) {
        return;
    }
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        AppendLogLine("WSAStartup failed");
        return;
    }
    state.running = true;
    state.lastSocketError = 0;
    if (state.worker.joinable()) {
        state.worker.join();
    }
    state.worker = std::thread(ServerWorker);
    Refresh();
}

void StopServer() {
    ServerState& state = GetServerState();
    if (!state.running) {
        return;
    }
    state.running = false;
    const SocketHandle s = state.socket.exchange(kInvalidSocket);
    if (s != kInvalidSocket) {
        closesocket(static_cast<SOCKET>(s));
    }
    if (state.worker.joinable()) {
        state.worker.join();
    }
    WSACleanup();
    Refresh();
}
