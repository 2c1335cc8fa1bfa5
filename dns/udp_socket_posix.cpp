#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "dns/socket_address.h"
#include "dns/udp_socket.h"

static_assert(HasIpv4SocketAddressLayout<sockaddr_in>() && AF_INET == kIpv4AddressFamily);

namespace {

std::atomic<int> socketLayerReferences{0};

int Descriptor(SocketHandle socket) {
    return static_cast<int>(socket);
}

// MSG_TRUNC makes Linux report the datagram's real length, so one that did not
// fit is refused here the way Winsock refuses it with WSAEMSGSIZE.
int CheckedLength(ssize_t received, size_t capacity) {
    if (received < 0) {
        return -1;
    }
    if (static_cast<size_t>(received) > capacity) {
        errno = EMSGSIZE;
        return -1;
    }
    return static_cast<int>(received);
}

}  // namespace

bool StartSocketLayer() {
    socketLayerReferences.fetch_add(1);
    return true;
}

void StopSocketLayer() {
    socketLayerReferences.fetch_sub(1);
}

int SocketLayerReferences() {
    return socketLayerReferences.load();
}

SocketHandle OpenUdpSocket() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    return fd < 0 ? kInvalidSocket : static_cast<SocketHandle>(fd);
}

bool BindUdpSocket(SocketHandle socket, const UdpEndpoint& local) {
    const Ipv4SocketAddress address = ToSocketAddress(local);
    return ::bind(Descriptor(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool ConnectUdpSocket(SocketHandle socket, const UdpEndpoint& peer) {
    const Ipv4SocketAddress address = ToSocketAddress(peer);
    return ::connect(Descriptor(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool SetReceiveTimeout(SocketHandle socket, uint32_t milliseconds) {
    timeval timeout{};
    timeout.tv_sec = static_cast<time_t>(milliseconds / 1000);
    timeout.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
    return ::setsockopt(Descriptor(socket), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0;
}

bool LocalEndpoint(SocketHandle socket, UdpEndpoint& local) {
    Ipv4SocketAddress address{};
    socklen_t length = sizeof address;
    if (::getsockname(Descriptor(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return false;
    }
    local = FromSocketAddress(address);
    return true;
}

int ReceiveFrom(SocketHandle socket, uint8_t* buffer, size_t capacity, UdpEndpoint& from) {
    Ipv4SocketAddress address{};
    socklen_t length = sizeof address;
    const ssize_t received =
        ::recvfrom(Descriptor(socket), buffer, capacity, MSG_TRUNC, reinterpret_cast<sockaddr*>(&address), &length);
    from = FromSocketAddress(address);
    return CheckedLength(received, capacity);
}

bool DatagramWaiting(SocketHandle socket) {
    pollfd ready{Descriptor(socket), POLLIN, 0};
    return ::poll(&ready, 1, 0) > 0 && ready.revents != 0;
}

int SendTo(SocketHandle socket, const uint8_t* data, size_t length, const UdpEndpoint& to) {
    const Ipv4SocketAddress address = ToSocketAddress(to);
    const ssize_t sent = ::sendto(Descriptor(socket), data, length, MSG_NOSIGNAL,
                                  reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return sent < 0 ? -1 : static_cast<int>(sent);
}

void CloseUdpSocket(SocketHandle socket) {
    ::close(Descriptor(socket));
}

bool InterruptUdpSocket(SocketHandle socket) {
    // Wakes a thread blocked in recvfrom, whose call then returns 0, and
    // makes later receives return at once, even on an unconnected datagram
    // socket where the call itself reports ENOTCONN.
    ::shutdown(Descriptor(socket), SHUT_RDWR);
    return false;
}

int LastSocketError() {
    return errno;
}
