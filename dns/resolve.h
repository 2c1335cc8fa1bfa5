#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/records.h"
#include "dns/codec.h"
#include "dns/forward.h"

// A copy of the first enabled slot whose name equals name (ASCII letters
// compared without case) and whose type fits qtype: kTypeA and kTypeMx match
// their own type, kTypeAny either, anything else none. Takes stateLock itself.
std::optional<DnsRecord> FindLocalRecord(const std::string& name, uint16_t qtype);

// Answers one parsed query from a local record; an AAAA or HTTPS query for a
// name whose first enabled A record holds an address gets an empty answer
// (NODATA), as the upstream's addresses for it would lead past that record.
// Otherwise the query goes through the forwarders in order (those that did
// not answer lately last, and none while every one of them has failed its
// health checks), until one answers or the server is stopping; when none
// answered and an enabled record has the question's name (any type), it gets
// an empty answer. True when reply holds the datagram for the client; then
// exactly one of localHits and forwarded has been counted. buffer receives
// the forwarders' datagrams. Call without stateLock held.
bool ResolveQuery(const uint8_t* query,
                  size_t length,
                  const DnsQuestion& question,
                  std::vector<uint8_t>& reply,
                  UpstreamBuffer& buffer);

// Forgets what was learnt about the forwarders and closes the sockets of open
// health checks; the next query tries them in their order again. StartServer
// and the worker's end call it.
void ForgetForwarderHealth();
