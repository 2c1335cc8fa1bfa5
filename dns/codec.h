#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/records.h"

// The first question of a query: dotted name (no trailing dot, root is empty,
// letter case as sent) and its TYPE code.
struct DnsQuestion {
    std::string name;
    uint16_t qtype = 0;
};

bool ParseQuestion(const uint8_t* query, size_t length, DnsQuestion& question);

// Reads the (possibly compressed) name starting at offset; on success offset is
// left just past the name's bytes at that position. Fails on a pointer loop and
// on a name that would grow longer than the message.
bool DecodeName(const uint8_t* message, size_t length, size_t& offset, std::string& name);

// Appends the uncompressed wire form of a dotted name; labels are cut to 63.
void EncodeName(const std::string& name, std::vector<uint8_t>& buffer);

// Builds the one-answer response to query for record into buffer (emptied
// first). False when the query is shorter than a header or an A record's value
// is not an IPv4 address; the buffer must not be sent then.
bool BuildLocalAnswer(const uint8_t* query,
                      size_t length,
                      const std::string& questionName,
                      uint16_t qtype,
                      const DnsRecord& record,
                      std::vector<uint8_t>& buffer);

// Builds the response with no answer record (NODATA) to query into buffer
// (emptied first): the local answer's header and question with ANCOUNT 0.
// False when the query is shorter than a header.
bool BuildEmptyAnswer(const uint8_t* query,
                      size_t length,
                      const std::string& questionName,
                      uint16_t qtype,
                      std::vector<uint8_t>& buffer);
