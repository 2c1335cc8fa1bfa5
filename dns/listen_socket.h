#pragma once

#include <cstddef>
#include <cstdint>

#include "core/socket_handle.h"
#include "dns/client_address.h"

// The server's listening socket: UDP on every local address, IPv6 and IPv4
// on one dual-stack socket where the machine allows it. Each datagram comes
// with the address it was sent to, and the reply leaves from that address,
// as clients expect (a machine has several addresses, and the system would
// pick another, such as a temporary IPv6 one, for the reply).

// Who sent a query and to which of this machine's addresses.
struct QueryOrigin {
    ClientAddress client;
    uint16_t port = 0;
    bool viaIpv6Socket = false;  // the client is addressed in IPv6 form, even an IPv4 one
    ClientAddress destination;
    bool destinationKnown = false;
    // The destination came as IPv4 packet information (IP_PKTINFO); the
    // reply says it the same way.
    bool destinationAsIpv4 = false;
};

// A bound socket on port (0: one the system picks). bindAddress is an IPv6
// address in network order (all zero: every address) for a dual-stack
// socket that also takes IPv4 clients, mapped, or null for an IPv4 socket on
// 0.0.0.0. On failure, kInvalidSocket and the error code of the step that
// failed.
SocketHandle OpenListeningSocket(const uint8_t* bindAddress, uint16_t port, int& error);

// The port the socket is bound to, or 0.
uint16_t ListeningSocketPort(SocketHandle socket);

// Receives one datagram, like ReceiveFrom (udp_socket.h), with its origin.
int ReceiveQuery(SocketHandle socket, uint8_t* buffer, size_t capacity, QueryOrigin& origin);

// Sends the reply to the query's client, from the address the query was sent
// to where that is known. Returns the bytes sent or -1.
int SendReply(SocketHandle socket, const uint8_t* data, size_t length, const QueryOrigin& origin);
