#include <winsock2.h>
#include <ws2tcpip.h>

#include <atomic>

#include "dns/socket_address.h"
#include "dns/udp_socket.h"

static_assert(HasIpv4SocketAddressLayout<sockaddr_in>() && AF_INET == kIpv4AddressFamily);

namespace {

std::atomic<int> socketLayerReferences{0};

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
    const Ipv4SocketAddress address = ToSocketAddress(local);
    return ::bind(Native(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool ConnectUdpSocket(SocketHandle socket, const UdpEndpoint& peer) {
    const Ipv4SocketAddress address = ToSocketAddress(peer);
    return ::connect(Native(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool SetReceiveTimeout(SocketHandle socket, uint32_t milliseconds) {
    // Winsock takes the time-out as a DWORD of milliseconds.
    const DWORD timeout = milliseconds;
    return ::setsockopt(Native(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                        sizeof timeout) == 0;
}

bool LocalEndpoint(SocketHandle socket, UdpEndpoint& local) {
    Ipv4SocketAddress address{};
    int length = sizeof address;
    if (::getsockname(Native(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return false;
    }
    local = FromSocketAddress(address);
    return true;
}

// Winsock fails a receive whose datagram does not fit (WSAEMSGSIZE) by itself.
int ReceiveFrom(SocketHandle socket, uint8_t* buffer, size_t capacity, UdpEndpoint& from) {
    Ipv4SocketAddress address{};
    int length = sizeof address;
    const int received = ::recvfrom(Native(socket), reinterpret_cast<char*>(buffer), ClampLength(capacity), 0,
                                    reinterpret_cast<sockaddr*>(&address), &length);
    from = FromSocketAddress(address);
    return received < 0 ? -1 : received;
}

bool DatagramWaiting(SocketHandle socket) {
    // An error that the next receive would report counts as waiting too.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(Native(socket), &readable);
    timeval noWait{};
    return ::select(0, &readable, nullptr, nullptr, &noWait) > 0;
}

int SendTo(SocketHandle socket, const uint8_t* data, size_t length, const UdpEndpoint& to) {
    const Ipv4SocketAddress address = ToSocketAddress(to);
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
