#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>
#include <cstring>

#include "dns/udp_socket.h"

namespace {

std::atomic<int> socketLayerReferences{0};

sockaddr_in ToSockaddr(const UdpEndpoint& endpoint) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(endpoint.port);
    std::memcpy(&address.sin_addr, endpoint.address, 4);
    return address;
}

void FromSockaddr(const sockaddr_in& address, UdpEndpoint& endpoint) {
    std::memcpy(endpoint.address, &address.sin_addr, 4);
    endpoint.port = ntohs(address.sin_port);
}

SOCKET Native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

int ClampLength(size_t length) {
    return length > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(length);
}

}  // namespace

bool StartSocketLayer() {
    WSADATA data{};
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) {
        return false;
    }
    socketLayerReferences.fetch_add(1);
    return true;
}

void StopSocketLayer() {
    socketLayerReferences.fetch_sub(1);
    WSACleanup();
}

int SocketLayerReferences() {
    return socketLayerReferences.load();
}

SocketHandle OpenUdpSocket() {
    const SOCKET socket = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    return socket == INVALID_SOCKET ? kInvalidSocket : static_cast<SocketHandle>(socket);
}

bool BindUdpSocket(SocketHandle socket, const UdpEndpoint& local) {
    const sockaddr_in address = ToSockaddr(local);
    return ::bind(Native(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool ConnectUdpSocket(SocketHandle socket, const UdpEndpoint& peer) {
    const sockaddr_in address = ToSockaddr(peer);
    return ::connect(Native(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool SetReceiveTimeout(SocketHandle socket, uint32_t milliseconds) {
    // Winsock takes the time-out as a DWORD of milliseconds.
    const DWORD timeout = milliseconds;
    return ::setsockopt(Native(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                        sizeof timeout) == 0;
}

bool LocalEndpoint(SocketHandle socket, UdpEndpoint& local) {
    sockaddr_in address{};
    int length = sizeof address;
    if (::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return false;
    }
    FromSockaddr(address, local);
    return true;
}

// Winsock fails a receive whose datagram does not fit (WSAEMSGSIZE) by itself.
int ReceiveFrom(SocketHandle socket, uint8_t* buffer, size_t capacity, UdpEndpoint& from) {
    sockaddr_in address{};
    int length = sizeof address;
    const int received = ::recvfrom(Native(socket), reinterpret_cast<char*>(buffer), ClampLength(capacity), 0,
                                    reinterpret_cast<sockaddr*>(&address), &length);
    FromSockaddr(address, from);
    return received < 0 ? -1 : received;
}

int SendTo(SocketHandle socket, const uint8_t* data, size_t length, const UdpEndpoint& to) {
    const sockaddr_in address = ToSockaddr(to);
    const int sent = ::sendto(Native(socket), reinterpret_cast<const char*>(data), ClampLength(length), 0,
                              reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return sent < 0 ? -1 : sent;
}

void CloseUdpSocket(SocketHandle socket) {
    ::closesocket(Native(socket));
}

bool InterruptUdpSocket(SocketHandle socket) {
    // closesocket is the documented way to end a blocking recvfrom that
    // another thread is in; shutdown does not wake it on a datagram socket.
    ::closesocket(Native(socket));
    return true;
}

int LastSocketError() {
    return WSAGetLastError();
}
