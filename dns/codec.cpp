#include "dns/codec.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "dns/ipv4_text.h"

namespace {

constexpr size_t kHeaderSize = 12;
constexpr size_t kResponseReserve = 512;
constexpr uint16_t kClassIn = 1;
constexpr uint16_t kMxPreference = 10;
constexpr size_t kMaxLabelWritten = 63;

// Every read is checked against the end of the message; a failed read leaves
// the position where it was.
struct ByteCursor {
    const uint8_t* data;
    size_t size;
    size_t position;

    bool AtEnd() const { return position >= size; }
    bool HasBytes(size_t count) const { return position <= size && count <= size - position; }

    bool ReadByte(uint8_t& value) {
        if (!HasBytes(1)) {
            return false;
        }
        value = data[position++];
        return true;
    }

    bool ReadUint16(uint16_t& value) {
        if (!HasBytes(2)) {
            return false;
        }
        value = static_cast<uint16_t>((data[position] << 8) | data[position + 1]);
        position += 2;
        return true;
    }

    bool ReadText(size_t count, std::string& out) {
        if (!HasBytes(count)) {
            return false;
        }
        out.append(reinterpret_cast<const char*>(data + position), count);
        position += count;
        return true;
    }
};

// The offsets a name's compression pointers have jumped to. A 14-bit pointer
// reaches at most 16384 offsets, so one bit each covers every message.
constexpr size_t kPointerReach = 0x4000;

struct JumpTargets {
    std::array<uint64_t, kPointerReach / 64> bits;
    size_t messageLength;
    bool cleared = false;

    // False when offset was a target before. The bits are cleared on the first
    // jump only: most names have no pointer and never pay for it.
    bool MarkFirstVisit(size_t offset) {
        if (!cleared) {
            const size_t words = (std::min(messageLength, kPointerReach) + 63) / 64;
            std::fill(bits.begin(), bits.begin() + static_cast<std::ptrdiff_t>(words), 0);
            cleared = true;
        }
        const uint64_t mask = uint64_t{1} << (offset % 64);
        uint64_t& word = bits[offset / 64];
        if (word & mask) {
            return false;
        }
        word |= mask;
        return true;
    }
};

void AppendUint16(std::vector<uint8_t>& buffer, uint16_t value) {
    buffer.push_back(static_cast<uint8_t>(value >> 8));
    buffer.push_back(static_cast<uint8_t>(value & 0xFF));
}

void AppendUint32(std::vector<uint8_t>& buffer, uint32_t value) {
    AppendUint16(buffer, static_cast<uint16_t>(value >> 16));
    AppendUint16(buffer, static_cast<uint16_t>(value & 0xFFFF));
}

// Header and question of a response: ID copied, QR and RA set, RD echoed from
// the query, everything else zero; the question name written uncompressed and
// class IN whatever the query asked for.
void WriteHeaderAndQuestion(const uint8_t* query,
                            const std::string& questionName,
                            uint16_t qtype,
                            uint16_t answerCount,
                            std::vector<uint8_t>& buffer) {
    buffer.clear();
    buffer.reserve(kResponseReserve);
    buffer.push_back(query[0]);
    buffer.push_back(query[1]);
    buffer.push_back(static_cast<uint8_t>(0x80 | (query[2] & 0x01)));
    buffer.push_back(0x80);
    AppendUint16(buffer, 1);  // QDCOUNT
    AppendUint16(buffer, answerCount);
    AppendUint16(buffer, 0);  // NSCOUNT
    AppendUint16(buffer, 0);  // ARCOUNT
    EncodeName(questionName, buffer);
    AppendUint16(buffer, qtype);
    AppendUint16(buffer, kClassIn);
}

// A name's walk through the message: where it reads, the pointer targets it
// has jumped to, and where the name ends in the message once it has jumped.
struct NameWalk {
    ByteCursor cursor;
    JumpTargets targets;
    std::optional<size_t> endAfterFirstJump;
};

// A compression pointer whose first byte was high. A walk that ends never
// lands on one offset twice, so a repeated jump target is exactly a loop.
bool FollowPointer(NameWalk& walk, uint8_t high) {
    uint8_t low = 0;
    if (!walk.cursor.ReadByte(low)) {
        return false;
    }
    const size_t target = (static_cast<size_t>(high & 0x3F) << 8) | low;
    if (target >= walk.cursor.size || !walk.targets.MarkFirstVisit(target)) {
        return false;
    }
    if (!walk.endAfterFirstJump) {
        walk.endAfterFirstJump = walk.cursor.position;
    }
    walk.cursor.position = target;
    return true;
}

// The whole name is bounded by the message length: a name that reads each
// byte at most once always fits, while pointers that re-enter the same label
// bytes at different offsets could otherwise make a 2 KB datagram decode to
// tens of kilobytes (and write them to the log).
bool AppendLabel(ByteCursor& cursor, uint8_t labelLength, std::string& name) {
    const size_t separator = name.empty() ? 0 : 1;
    if (name.size() + separator + labelLength > cursor.size) {
        return false;
    }
    if (separator != 0) {
        name.push_back('.');
    }
    return cursor.ReadText(labelLength, name);
}

}  // namespace

bool ParseQuestion(const uint8_t* query, size_t length, DnsQuestion& question) {
    if (length < kHeaderSize) {
        return false;
    }
    size_t offset = kHeaderSize;
    std::string name;
    if (!DecodeName(query, length, offset, name)) {
        return false;
    }
    // The class must be present but is not kept; nothing else is looked at.
    ByteCursor cursor{query, length, offset};
    uint16_t qtype = 0;
    if (!cursor.HasBytes(4) || !cursor.ReadUint16(qtype)) {
        return false;
    }
    question.name = std::move(name);
    question.qtype = qtype;
    return true;
}

// Label sequences and compression pointers as in RFC 1035 section 4.1.4, with
// labels of any length up to 191.
bool DecodeName(const uint8_t* message, size_t length, size_t& offset, std::string& name) {
    name.clear();
    NameWalk walk;  // the jump targets are cleared only if the name has a pointer
    walk.cursor = ByteCursor{message, length, offset};
    walk.targets.messageLength = length;
    // A pointer's target lies inside the message, so only a label can end the
    // walk at the message's end.
    while (!walk.cursor.AtEnd()) {
        uint8_t labelLength = 0;
        walk.cursor.ReadByte(labelLength);
        if (labelLength == 0) {
            break;
        }
        if (labelLength >= 0xC0 ? !FollowPointer(walk, labelLength) : !AppendLabel(walk.cursor, labelLength, name)) {
            return false;
        }
    }
    offset = walk.endAfterFirstJump.value_or(walk.cursor.position);
    return true;
}

void EncodeName(const std::string& name, std::vector<uint8_t>& buffer) {
    size_t start = 0;
    while (start < name.size()) {
        size_t dot = name.find('.', start);
        if (dot == std::string::npos) {
            dot = name.size();
        }
        const size_t labelLength = std::min(dot - start, kMaxLabelWritten);
        buffer.push_back(static_cast<uint8_t>(labelLength));
        buffer.insert(buffer.end(), name.begin() + static_cast<std::ptrdiff_t>(start),
                      name.begin() + static_cast<std::ptrdiff_t>(start + labelLength));
        start = dot + 1;
    }
    buffer.push_back(0);
}

bool BuildLocalAnswer(const uint8_t* query,
                      size_t length,
                      const std::string& questionName,
                      uint16_t qtype,
                      const DnsRecord& record,
                      std::vector<uint8_t>& buffer) {
    if (length < kHeaderSize) {
        return false;
    }
    WriteHeaderAndQuestion(query, questionName, qtype, 1, buffer);

    const bool isA = record.type == kTypeA;
    buffer.push_back(0xC0);  // the answer's name points back at the question
    buffer.push_back(static_cast<uint8_t>(kHeaderSize));
    AppendUint16(buffer, isA ? kTypeA : kTypeMx);
    AppendUint16(buffer, kClassIn);
    AppendUint32(buffer, record.ttl);

    if (isA) {
        uint8_t address[4];
        if (!ParseIpv4Text(record.value, address)) {
            return false;
        }
        AppendUint16(buffer, 4);
        buffer.insert(buffer.end(), address, address + 4);
        return true;
    }

    std::string exchange = record.value.empty() ? "mail." + questionName : record.value;
    while (!exchange.empty() && exchange.back() == '.') {
        exchange.pop_back();
    }
    std::vector<uint8_t> encodedExchange;
    EncodeName(exchange, encodedExchange);
    AppendUint16(buffer, static_cast<uint16_t>(2 + encodedExchange.size()));
    AppendUint16(buffer, kMxPreference);
    buffer.insert(buffer.end(), encodedExchange.begin(), encodedExchange.end());
    return true;
}

bool BuildEmptyAnswer(const uint8_t* query,
                      size_t length,
                      const std::string& questionName,
                      uint16_t qtype,
                      std::vector<uint8_t>& buffer) {
    if (length < kHeaderSize) {
        return false;
    }
    WriteHeaderAndQuestion(query, questionName, qtype, 0, buffer);
    return true;
}
