// Feeds arbitrary datagrams to the question parser and, for those that parse,
// builds an A and an MX answer and checks them against what the parser read.
#include "dns/codec.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void Check(bool condition, int line) {
    if (!condition) {
        std::fprintf(stderr, "codec invariant broken at line %d\n", line);
        std::abort();
    }
}
#define Require(condition) Check((condition), __LINE__)

size_t EncodedSize(const std::string& name) {
    std::vector<uint8_t> encoded;
    EncodeName(name, encoded);
    return encoded.size();
}

// Names whose labels are 1 to 63 bytes without a '.' survive encoding intact.
bool EncodesLosslessly(const std::string& name) {
    if (name.empty()) {
        return true;
    }
    size_t labelLength = 0;
    for (char c : name) {
        if (c == '.') {
            if (labelLength == 0) {
                return false;
            }
            labelLength = 0;
        } else if (++labelLength > 63) {
            return false;
        }
    }
    return labelLength > 0;
}

uint32_t ReadUint32(const std::vector<uint8_t>& bytes, size_t at) {
    return (uint32_t{bytes[at]} << 24) | (uint32_t{bytes[at + 1]} << 16) | (uint32_t{bytes[at + 2]} << 8) |
           bytes[at + 3];
}

void CheckAnswer(const uint8_t* data,
                 size_t size,
                 const DnsQuestion& question,
                 const DnsRecord& record,
                 size_t rdataSize) {
    std::vector<uint8_t> response;
    Require(BuildLocalAnswer(data, size, question.name, question.qtype, record, response));
    const size_t nameSize = EncodedSize(question.name);
    Require(response.size() == 12 + nameSize + 4 + 16 - 4 + rdataSize);
    Require(response[0] == data[0] && response[1] == data[1]);
    Require(response[2] == (0x80 | (data[2] & 0x01)) && response[3] == 0x80);

    // A '.' inside a label can make an empty label, whose zero byte ends the
    // written name early; any other name reads back with the same type.
    DnsQuestion echoed;
    const bool hasEmptyLabel =
        !question.name.empty() && (question.name[0] == '.' || question.name.find("..") != std::string::npos);
    Require(ParseQuestion(response.data(), response.size(), echoed));
    if (!hasEmptyLabel) {
        Require(echoed.qtype == question.qtype);
    }
    if (EncodesLosslessly(question.name)) {
        Require(echoed.name == question.name);
    }

    const size_t answer = 12 + nameSize + 4;
    Require(response[answer] == 0xc0 && response[answer + 1] == 0x0c);
    Require(response[answer + 3] == (record.type == 1 ? 1 : 15));
    Require(ReadUint32(response, answer + 6) == record.ttl);
    Require(((response[answer + 10] << 8) | response[answer + 11]) == static_cast<int>(rdataSize));

    // The answer's name is the pointer back to the question.
    size_t offset = answer;
    std::string answerName;
    Require(DecodeName(response.data(), response.size(), offset, answerName));
    Require(answerName == echoed.name && offset == answer + 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 2048) {
        return 0;
    }
    DnsQuestion question;
    if (!ParseQuestion(data, size, question)) {
        return 0;
    }
    Require(size >= 16);
    // However its pointers re-enter the message, a name never outgrows it.
    Require(question.name.size() <= size);

    // An A record whose address comes from the last four bytes of the input.
    DnsRecord a;
    a.type = kTypeA;
    a.ttl = ReadUint32(std::vector<uint8_t>(data + size - 4, data + size), 0);
    a.value = std::to_string(data[size - 4]) + "." + std::to_string(data[size - 3]) + "." +
              std::to_string(data[size - 2]) + "." + std::to_string(data[size - 1]);
    CheckAnswer(data, size, question, a, 4);

    // An MX record naming either mail.<question> or a host cut from the name.
    DnsRecord mx;
    mx.type = data[2] & 0x80 ? kTypeMx : 28;
    mx.ttl = static_cast<uint32_t>(size);
    mx.value = (data[3] & 1) ? question.name.substr(question.name.size() / 2) : std::string();
    std::string exchange = mx.value.empty() ? "mail." + question.name : mx.value;
    while (!exchange.empty() && exchange.back() == '.') {
        exchange.pop_back();
    }
    const size_t exchangeSize = EncodedSize(exchange);
    if (exchangeSize + 2 <= 0xffff) {
        CheckAnswer(data, size, question, mx, 2 + exchangeSize);
    }
    return 0;
}
