#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/records.h"
#include "dns/codec.h"

// A copy of the first enabled slot whose name equals name (ASCII letters
// compared without case) and whose type fits qtype: kTypeA and kTypeMx match
// their own type, kTypeAny either, anything else none. Takes stateLock itself.
std::optional<DnsRecord> FindLocalRecord(const std::string& name, uint16_t qtype);

// Answers one parsed query from a local record or, failing that, through the
// forwarders in order (those that did not answer lately last, and none while
// every one of them has failed its health checks); when none of them answers
// and an enabled record has the question's name (any type), with an empty
// answer (NODATA, counted as a local hit). True when reply holds the datagram for the client; then exactly one of
// localHits and forwarded has been counted. Call without stateLock held.
bool ResolveQuery(const uint8_t* query, size_t length, const DnsQuestion& question, std::vector<uint8_t>& reply);

// Forgets what was learnt about the forwarders and closes the sockets of open
// health checks; the next query tries them in their order again. StartServer
// and the worker's end call it.
void ForgetForwarderHealth();
