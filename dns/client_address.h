#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// A client of the listening socket. The socket takes IPv4 and IPv6 alike, so
// every address is held in IPv6 form, an IPv4 client as ::ffff:a.b.c.d.
struct ClientAddress {
    uint8_t bytes[16] = {};
    uint32_t scopeId = 0;  // the interface of a link-local address
};

ClientAddress MapIpv4(const uint8_t ipv4[4]);
// True, with the four bytes, for an IPv4-mapped address.
bool UnmapToIpv4(const ClientAddress& address, uint8_t ipv4[4]);

// RFC 5952 text: lower case, the longest run of two or more zero groups (the
// first of equal runs) written "::", no dotted IPv4 tail. Written here rather
// than by inet_ntop, whose text differs between platforms.
std::string FormatIpv6Address(const uint8_t bytes[16]);
// How a client is named in the log: dotted decimal for an IPv4 client, the
// text above for an IPv6 one; never a port or a zone.
std::string FormatClientAddress(const ClientAddress& address);

// One of this machine's addresses with its on-link prefix length (IPv4 ones
// mapped, their length counted from the mapped form's start: 96 + n).
struct LocalNetwork {
    ClientAddress address;
    uint8_t prefixLength = 0;
};

enum class ClientVerdict {
    kAnswered,        // loopback, private or shared: always one of ours
    kAnsweredOnLink,  // inside the on-link prefix of one of this machine's addresses
    kRefused,
};

// Who gets an answer: loopback (127/8, ::1), private and shared ranges
// (10/8, 172.16/12, 192.168/16, 100.64/10, 169.254/16, fc00::/7, fe80::/10),
// and the subnets this machine is on itself. Never 0.0.0.0/8, :: or port 0.
ClientVerdict JudgeClient(const ClientAddress& address, uint16_t port, std::span<const LocalNetwork> networks);

// This machine's addresses and prefixes as the system reports them now.
std::vector<LocalNetwork> ReadLocalNetworks();

// The machine's networks are read again at most this often, and only when a
// query comes from outside them or is let in by an on-link prefix alone.
constexpr std::chrono::seconds kLocalNetworksRereadAfter{10};
// Refused senders named in the log in one run, each once.
constexpr size_t kRefusedSendersLogged = 10;

// What the worker knows of this machine's networks, and whom it named in
// the log as refused.
struct ClientGate {
    std::vector<LocalNetwork> networks;
    std::chrono::steady_clock::time_point readAt{};
    std::vector<ClientAddress> refusedLogged;
};

// Whether the query from address and port gets an answer (JudgeClient),
// after reading the networks again through read where they may be stale. A
// refused sender gets the log line "Refused queries from <address>: not on
// this machine's networks" the first time, through logLine.
bool AdmitClient(ClientGate& gate,
                 const ClientAddress& address,
                 uint16_t port,
                 std::chrono::steady_clock::time_point now,
                 std::vector<LocalNetwork> (*read)(),
                 void (*logLine)(std::string_view));
