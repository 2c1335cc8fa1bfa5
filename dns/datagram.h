#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dns/codec.h"
#include "dns/forward.h"

// Dotted-decimal text of an IPv4 address, as inet_ntop writes it.
std::string FormatIpv4Address(const uint8_t address[4]);

// "Q from <address> name=<name> type=<qtype>". Bytes of the name below 0x20
// and 0x7F are written as a backslash and three decimal digits, so a name
// cannot break the line, forge another one or cut the log short with a NUL.
std::string FormatQueryLogLine(const std::string& clientAddress, const DnsQuestion& question);

// What the worker does with one datagram after counting it: parse the
// question, drop responses (QR set) like unparsable datagrams, log the query
// through logLine and resolve it (buffer as for ResolveQuery). True when reply
// holds the datagram to send back to the client.
bool HandleQueryDatagram(const uint8_t* datagram,
                         size_t length,
                         const std::string& clientAddress,
                         void (*logLine)(std::string_view),
                         std::vector<uint8_t>& reply,
                         UpstreamBuffer& buffer);
