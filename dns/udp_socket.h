#pragma once

#include <cstddef>
#include <cstdint>

#include "core/socket_handle.h"

// IPv4 UDP sockets over Winsock or BSD sockets. Handles are SocketHandle values
// (kInvalidSocket when none); error codes are Winsock codes on Windows and
// errno values elsewhere.

// An IPv4 address and port, both as plain host values.
struct UdpEndpoint {
    uint8_t address[4] = {0, 0, 0, 0};
    uint16_t port = 0;
};

// Winsock 2.2 start-up and its matching clean-up (no-ops on POSIX).
bool StartSocketLayer();
void StopSocketLayer();

// Starts minus clean-ups so far; lets tests see that every start was undone.
int SocketLayerReferences();

SocketHandle OpenUdpSocket();
bool BindUdpSocket(SocketHandle socket, const UdpEndpoint& local);
bool SetReceiveTimeout(SocketHandle socket, uint32_t milliseconds);
// Fixes the socket's peer: only that endpoint's datagrams are received, and a
// refusal from it (ICMP port unreachable) fails the next receive at once.
bool ConnectUdpSocket(SocketHandle socket, const UdpEndpoint& peer);
// The local address and port the system gave the socket.
bool LocalEndpoint(SocketHandle socket, UdpEndpoint& local);

// Receives one datagram. Returns its length (0 for an empty one, and on POSIX
// for every receive after InterruptUdpSocket), or -1 on an error, a time-out,
// a socket closed under the call, or a datagram longer than capacity (which is
// dropped whole on every platform). from is the sender, or 0.0.0.0:0 when the
// system named none.
int ReceiveFrom(SocketHandle socket, uint8_t* buffer, size_t capacity, UdpEndpoint& from);

// True when a receive on the socket would return at once (a datagram, or an
// error such as a refusal, is waiting); never waits.
bool DatagramWaiting(SocketHandle socket);

// Sends one datagram; returns the bytes sent or -1.
int SendTo(SocketHandle socket, const uint8_t* data, size_t length, const UdpEndpoint& to);

void CloseUdpSocket(SocketHandle socket);

// Ends a receive that another thread is blocked in on the socket, and every
// later one. True when that closed the socket as well (Winsock, where closing
// is what wakes the receiver); false when the socket is still open and must be
// closed with CloseUdpSocket once the receiving thread has let go of it
// (POSIX, where close() does not wake it and would free the descriptor number
// while that thread still uses it).
bool InterruptUdpSocket(SocketHandle socket);

// The error code of the calling thread's last failed socket call.
int LastSocketError();
