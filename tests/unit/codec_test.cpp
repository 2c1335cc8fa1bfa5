#include "dns/codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;
using test_support::Record;

std::string HexDump(const Bytes& bytes) {
    std::string out;
    char cell[32];
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i % 16 == 0) {
            std::snprintf(cell, sizeof cell, "%s%04x:", i == 0 ? "" : "\n", static_cast<unsigned>(i));
            out += cell;
        }
        std::snprintf(cell, sizeof cell, " %02x", static_cast<unsigned>(bytes[i]));
        out += cell;
    }
    return out;
}

::testing::AssertionResult SameBytes(const Bytes& actual, const Bytes& expected) {
    if (actual == expected) {
        return ::testing::AssertionSuccess();
    }
    size_t firstDifference = 0;
    while (firstDifference < actual.size() && firstDifference < expected.size() &&
           actual[firstDifference] == expected[firstDifference]) {
        ++firstDifference;
    }
    return ::testing::AssertionFailure() << "first difference at offset " << firstDifference << "\nactual ("
                                         << actual.size() << " bytes):\n"
                                         << HexDump(actual) << "\nexpected (" << expected.size() << " bytes):\n"
                                         << HexDump(expected);
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

Bytes Label(const std::string& text) {
    Bytes out(text.size() + 1);
    out[0] = static_cast<uint8_t>(text.size());
    std::copy(text.begin(), text.end(), out.begin() + 1);
    return out;
}

// A query header with one question: ID, flags, QDCOUNT 1, the other counts 0.
Bytes Header(uint8_t id0, uint8_t id1, uint8_t flags0, uint8_t flags1) {
    return {id0, id1, flags0, flags1, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
}

Bytes TypeAndClass(uint16_t qtype, uint16_t qclass) {
    return {static_cast<uint8_t>(qtype >> 8), static_cast<uint8_t>(qtype & 0xFF), static_cast<uint8_t>(qclass >> 8),
            static_cast<uint8_t>(qclass & 0xFF)};
}

// Parses query and answers it from record, the way the worker does.
::testing::AssertionResult Answer(const Bytes& query, const DnsRecord& record, Bytes& response) {
    DnsQuestion question;
    if (!ParseQuestion(query.data(), query.size(), question)) {
        return ::testing::AssertionFailure() << "query does not parse:\n" << HexDump(query);
    }
    if (!BuildLocalAnswer(query.data(), query.size(), question.name, question.qtype, record, response)) {
        return ::testing::AssertionFailure() << "no answer built for:\n" << HexDump(query);
    }
    return ::testing::AssertionSuccess();
}

struct GoldenCase {
    const char* what;
    Bytes query;
    DnsRecord record;
    std::string name;
    uint16_t qtype;
    size_t responseSize;  // header, question, answer
    Bytes response;
};

std::vector<GoldenCase> GoldenCases() {
    return {
        {"A record, mixed case kept",
         {
             0x12, 0x34,                                            // ID
             0x01, 0x00,                                            // flags: RD
             0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // QDCOUNT 1
             0x04, 'H',  'o',  's',  't',                           // "Host"
             0x07, 'E',  'x',  'a',  'm',  'p',  'l',  'e',  0x00,  // "Example", root
             0x00, 0x01,                                            // QTYPE A
             0x00, 0x01,                                            // QCLASS IN
         },
         Record(1, "host.example", "192.168.1.10", 60),
         "Host.Example",
         1,
         12 + 18 + 16,
         {
             0x12, 0x34,                                            // ID copied
             0x81, 0x80,                                            // flags: QR RD RA
             0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,        // QDCOUNT 1, ANCOUNT 1
             0x04, 0x48, 0x6f, 0x73, 0x74,                          // "Host"
             0x07, 0x45, 0x78, 0x61, 0x6d, 0x70, 0x6c, 0x65, 0x00,  // "Example", root
             0x00, 0x01, 0x00, 0x01,                                // QTYPE A, QCLASS IN
             0xc0, 0x0c,                                            // answer name: pointer to 12
             0x00, 0x01, 0x00, 0x01,                                // TYPE A, CLASS IN
             0x00, 0x00, 0x00, 0x3c,                                // TTL 60
             0x00, 0x04, 0xc0, 0xa8, 0x01, 0x0a,                    // RDLENGTH 4, 192.168.1.10
         }},
        {"MX record with empty value names mail.<question>",
         {
             0xab, 0xcd,                                      // ID
             0x01, 0x00,                                      // flags: RD
             0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // QDCOUNT 1
             0x07, 'e',  'x',  'a',  'm',  'p',  'l',  'e',   // "example"
             0x04, 't',  'e',  's',  't',  0x00,              // "test", root
             0x00, 0x0f, 0x00, 0x01,                          // QTYPE MX, QCLASS IN
         },
         Record(15, "example.test", "", 300),
         "example.test",
         15,
         12 + 18 + 33,
         {
             0xab, 0xcd,                                      // ID copied
             0x81, 0x80,                                      // flags: QR RD RA
             0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,  // QDCOUNT 1, ANCOUNT 1
             0x07, 0x65, 0x78, 0x61, 0x6d, 0x70, 0x6c, 0x65,  // "example"
             0x04, 0x74, 0x65, 0x73, 0x74, 0x00,              // "test", root
             0x00, 0x0f, 0x00, 0x01,                          // QTYPE MX, QCLASS IN
             0xc0, 0x0c,                                      // answer name: pointer to 12
             0x00, 0x0f, 0x00, 0x01,                          // TYPE MX, CLASS IN
             0x00, 0x00, 0x01, 0x2c,                          // TTL 300
             0x00, 0x15,                                      // RDLENGTH 21
             0x00, 0x0a,                                      // preference 10
             0x04, 0x6d, 0x61, 0x69, 0x6c,                    // "mail"
             0x07, 0x65, 0x78, 0x61, 0x6d, 0x70, 0x6c, 0x65,  // "example"
             0x04, 0x74, 0x65, 0x73, 0x74, 0x00,              // "test", root
         }},
        {"root question without RD",
         {
             0x00, 0x01,                                      // ID
             0x00, 0x00,                                      // flags: none
             0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // QDCOUNT 1
             0x00,                                            // root name
             0x00, 0x01, 0x00, 0x01,                          // QTYPE A, QCLASS IN
         },
         Record(1, "", "10.0.0.1", 60),
         "",
         1,
         12 + 5 + 16,
         {
             0x00, 0x01,                                      // ID copied
             0x80, 0x80,                                      // flags: QR RA
             0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,  // QDCOUNT 1, ANCOUNT 1
             0x00,                                            // root name
             0x00, 0x01, 0x00, 0x01,                          // QTYPE A, QCLASS IN
             0xc0, 0x0c,                                      // answer name: pointer to 12
             0x00, 0x01, 0x00, 0x01,                          // TYPE A, CLASS IN
             0x00, 0x00, 0x00, 0x3c,                          // TTL 60
             0x00, 0x04, 0x0a, 0x00, 0x00, 0x01,              // RDLENGTH 4, 10.0.0.1
         }},
    };
}

TEST(DnsCodecGolden, ParsesQueriesAndBuildsExactResponses) {
    for (const GoldenCase& golden : GoldenCases()) {
        SCOPED_TRACE(golden.what);
        DnsQuestion question;
        ASSERT_TRUE(ParseQuestion(golden.query.data(), golden.query.size(), question));
        EXPECT_EQ(question.name, golden.name);
        EXPECT_EQ(question.qtype, golden.qtype);

        Bytes response{0xEE, 0xEE, 0xEE};  // stale contents must be dropped
        ASSERT_TRUE(BuildLocalAnswer(golden.query.data(), golden.query.size(), question.name, question.qtype,
                                     golden.record, response));
        EXPECT_EQ(response.size(), golden.responseSize);
        EXPECT_TRUE(SameBytes(response, golden.response));

        // The response's own question reads back the same way.
        DnsQuestion echoed;
        ASSERT_TRUE(ParseQuestion(response.data(), response.size(), echoed));
        EXPECT_EQ(echoed.name, golden.name);
        EXPECT_EQ(echoed.qtype, golden.qtype);
    }
}

TEST(DnsCodecAnswer, AnyQuestionGetsTheRecordsTypeAndClassIn) {
    // Type 255 in class 3 (CH), answered by an MX record.
    const Bytes query =
        Concat({Header(0x55, 0x66, 0x01, 0x00), Label("mx"), Label("test"), {0x00}, TypeAndClass(255, 3)});
    Bytes response;
    ASSERT_TRUE(Answer(query, Record(15, "mx.test", "mx.example.test.", 120), response));
    const Bytes expected = Concat({
        {0x55, 0x66, 0x81, 0x80, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00},  // header
        Label("mx"),
        Label("test"),
        {0x00},                                // question name
        {0x00, 0xff, 0x00, 0x01},              // QTYPE 255, QCLASS IN (not CH)
        {0xc0, 0x0c, 0x00, 0x0f, 0x00, 0x01},  // pointer, TYPE MX, CLASS IN
        {0x00, 0x00, 0x00, 0x78},              // TTL 120
        {0x00, 0x13, 0x00, 0x0a},              // RDLENGTH 19, preference 10
        Label("mx"),
        Label("example"),
        Label("test"),
        {0x00},  // trailing dot dropped
    });
    EXPECT_TRUE(SameBytes(response, expected));
}

TEST(DnsCodecAnswer, MxExchangeFormsAndTtlBytes) {
    struct Case {
        std::string question;
        std::string value;
        uint32_t ttl;
        Bytes exchange;
    };
    const Case cases[] = {
        {"", "", 60, Concat({Label("mail"), {0x00}})},
        {"a.b", "mx.example.test", 0xDEADBEEF, Concat({Label("mx"), Label("example"), Label("test"), {0x00}})},
        {"a.b", "mx.example.test...", 7, Concat({Label("mx"), Label("example"), Label("test"), {0x00}})},
        {"Mixed.CASE", "", 7, Concat({Label("mail"), Label("Mixed"), Label("CASE"), {0x00}})},
        {"x", "...", 7, {0x00}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("question '" + c.question + "' value '" + c.value + "'");
        Bytes query = Header(1, 2, 0, 0);
        EncodeName(c.question, query);
        query.insert(query.end(), {0x00, 0x0f, 0x00, 0x01});
        Bytes response;
        ASSERT_TRUE(Answer(query, Record(15, c.question, c.value, c.ttl), response));
        Bytes question;
        EncodeName(c.question, question);
        const size_t answer = 12 + question.size() + 4;
        ASSERT_EQ(response.size(), answer + 12 + 2 + c.exchange.size());
        const Bytes ttl(response.begin() + static_cast<std::ptrdiff_t>(answer + 6),
                        response.begin() + static_cast<std::ptrdiff_t>(answer + 10));
        EXPECT_TRUE(SameBytes(ttl, {static_cast<uint8_t>(c.ttl >> 24), static_cast<uint8_t>(c.ttl >> 16),
                                    static_cast<uint8_t>(c.ttl >> 8), static_cast<uint8_t>(c.ttl)}));
        const size_t rdlength = (response[answer + 10] << 8) | response[answer + 11];
        EXPECT_EQ(rdlength, 2 + c.exchange.size());
        const Bytes rdata(response.begin() + static_cast<std::ptrdiff_t>(answer + 12), response.end());
        EXPECT_TRUE(SameBytes(rdata, Concat({{0x00, 0x0a}, c.exchange})));
    }
}

TEST(DnsCodecAnswer, FlagsEchoOnlyRecursionDesired) {
    struct Case {
        uint8_t flags0, flags1, expected0;
    };
    const Case cases[] = {
        {0x01, 0x00, 0x81},  // RD
        {0x00, 0x00, 0x80},  // nothing
        {0xff, 0xff, 0x81},  // QR, opcode, AA, TC, RD, RA, Z, RCODE: only RD survives
        {0xfe, 0xff, 0x80},  // everything but RD
    };
    for (const Case& c : cases) {
        const Bytes query = Concat({Header(9, 9, c.flags0, c.flags1), {0x00}, TypeAndClass(1, 1)});
        Bytes response;
        ASSERT_TRUE(Answer(query, Record(1, "", "1.2.3.4", 60), response));
        EXPECT_EQ(response[2], c.expected0) << "query flags " << int{c.flags0} << " " << int{c.flags1};
        EXPECT_EQ(response[3], 0x80);
    }
}

TEST(DnsCodecAnswer, ARecordNeedsADottedQuad) {
    const Bytes query = Concat({Header(1, 1, 1, 0), Label("h"), {0x00}, TypeAndClass(1, 1)});
    const char* invalid[] = {"",    "1.2.3",    "1.2.3.4.5",  "256.0.0.1", "host.example",
                             "::1", " 1.2.3.4", "1.2.3.4/24", "1.2.3.-4",  "1..2.3"};
    for (const char* value : invalid) {
        Bytes response;
        DnsQuestion question;
        ASSERT_TRUE(ParseQuestion(query.data(), query.size(), question));
        EXPECT_FALSE(
            BuildLocalAnswer(query.data(), query.size(), question.name, 1, Record(1, "h", value, 60), response))
            << "value '" << value << "'";
    }
    struct Valid {
        const char* value;
        Bytes address;
    };
    const Valid valid[] = {
        {"0.0.0.0", {0, 0, 0, 0}}, {"255.255.255.255", {255, 255, 255, 255}}, {"127.0.0.1", {127, 0, 0, 1}}};
    for (const Valid& v : valid) {
        Bytes response;
        ASSERT_TRUE(Answer(query, Record(1, "h", v.value, 60), response)) << v.value;
        EXPECT_TRUE(SameBytes(Bytes(response.end() - 6, response.end()), Concat({{0x00, 0x04}, v.address})));
    }
    // Any type other than 1 answers as MX, so an address-like value is a host name there.
    Bytes response;
    ASSERT_TRUE(Answer(query, Record(28, "h", "1.2.3.4", 60), response));
    EXPECT_EQ(response[12 + 3 + 4 + 3], 15);
}

TEST(DnsCodecAnswer, ShortQueryGetsNoAnswer) {
    const Bytes query = Header(1, 2, 1, 0);
    Bytes response;
    for (size_t length = 0; length < 12; ++length) {
        EXPECT_FALSE(BuildLocalAnswer(query.data(), length, "x", 1, Record(1, "x", "1.2.3.4", 60), response)) << length;
    }
    EXPECT_TRUE(BuildLocalAnswer(query.data(), 12, "x", 1, Record(1, "x", "1.2.3.4", 60), response));
}

// NODATA: the local answer's header and question, no answer record.
TEST(DnsCodecAnswer, EmptyAnswerIsHeaderAndQuestionOnly) {
    struct Case {
        const char* what;
        Bytes query;
        Bytes response;
    };
    const Case cases[] = {
        {"AAAA with RD, letter case kept",
         Concat({Header(0x12, 0x34, 0x01, 0x00), Label("Host"), Label("Example"), {0x00}, TypeAndClass(28, 1)}),
         {
             0x12, 0x34,                                      // ID copied
             0x81, 0x80,                                      // flags: QR RD RA
             0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // QDCOUNT 1, ANCOUNT/NSCOUNT/ARCOUNT 0
             0x04, 'H',  'o',  's',  't',  0x07, 'E',  'x',  'a', 'm', 'p', 'l', 'e', 0x00,  // name as asked
             0x00, 0x1c, 0x00, 0x01,                                                         // QTYPE AAAA, QCLASS IN
         }},
        {"MX without RD in class CH, name through a pointer",
         Concat(
             {Header(0xab, 0xcd, 0x00, 0x00), {0xc0, 0x12}, TypeAndClass(15, 3), Label("mx"), Label("test"), {0x00}}),
         {
             0xab, 0xcd,                                            // ID copied
             0x80, 0x80,                                            // flags: QR RA
             0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,        // QDCOUNT 1, no records
             0x02, 'm',  'x',  0x04, 't',  'e',  's',  't',  0x00,  // written uncompressed
             0x00, 0x0f, 0x00, 0x01,                                // QTYPE MX, QCLASS IN (not CH)
         }},
        {"every flag set in the query",
         Concat({Header(0x00, 0x07, 0xff, 0xff), {0x00}, TypeAndClass(16, 1)}),
         {0x00, 0x07, 0x81, 0x80, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x01}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        DnsQuestion question;
        ASSERT_TRUE(ParseQuestion(c.query.data(), c.query.size(), question));
        Bytes response{0xEE, 0xEE};  // stale contents must be dropped
        ASSERT_TRUE(BuildEmptyAnswer(c.query.data(), c.query.size(), question.name, question.qtype, response));
        EXPECT_TRUE(SameBytes(response, c.response));
        DnsQuestion echoed;
        ASSERT_TRUE(ParseQuestion(response.data(), response.size(), echoed));
        EXPECT_EQ(echoed.name, question.name);
        EXPECT_EQ(echoed.qtype, question.qtype);
    }
    const Bytes header = Header(1, 2, 1, 0);
    Bytes response;
    EXPECT_FALSE(BuildEmptyAnswer(header.data(), 11, "x", 28, response));
}

TEST(DnsCodecQuestion, CompressedNameIsWrittenBackUncompressed) {
    // The question's name is a pointer to "mail.example" placed after the question.
    const Bytes query =
        Concat({Header(7, 7, 1, 0), {0xc0, 0x12}, TypeAndClass(1, 1), Label("mail"), Label("example"), {0x00}});
    DnsQuestion question;
    ASSERT_TRUE(ParseQuestion(query.data(), query.size(), question));
    EXPECT_EQ(question.name, "mail.example");
    EXPECT_EQ(question.qtype, 1);
    Bytes response;
    ASSERT_TRUE(Answer(query, Record(1, "mail.example", "10.1.2.3", 60), response));
    const Bytes expected = Concat({{0x07, 0x07, 0x81, 0x80, 0, 1, 0, 1, 0, 0, 0, 0},  // header
                                   Label("mail"),
                                   Label("example"),
                                   {0x00},  // no pointer here
                                   {0, 1, 0, 1, 0xc0, 0x0c, 0, 1, 0, 1, 0, 0, 0, 60, 0, 4, 10, 1, 2, 3}});
    EXPECT_TRUE(SameBytes(response, expected));
}

TEST(DnsCodecQuestion, LongLabelsAndDotsInLabels) {
    const std::string seventy(70, 'q');
    const Bytes query = Concat({Header(1, 1, 0, 0), Label(seventy), Label("a.b"), {0x00}, TypeAndClass(1, 1)});
    DnsQuestion question;
    ASSERT_TRUE(ParseQuestion(query.data(), query.size(), question));
    EXPECT_EQ(question.name, seventy + ".a.b");
    Bytes response;
    ASSERT_TRUE(Answer(query, Record(1, "", "1.1.1.1", 60), response));
    const Bytes writtenName(response.begin() + 12, response.begin() + 12 + 64 + 2 + 2 + 1);
    EXPECT_TRUE(SameBytes(writtenName, Concat({Label(std::string(63, 'q')), Label("a"), Label("b"), {0x00}})));
    EXPECT_EQ(response.size(), 12 + writtenName.size() + 4 + 16u);
}

TEST(DnsCodecQuestion, ReadsOnlyTheFirstQuestionWhateverTheHeaderSays) {
    Bytes query = Concat({Header(1, 1, 0x87, 0xff),
                          Label("one"),
                          {0x00},
                          TypeAndClass(28, 1),
                          Label("two"),
                          {0x00},
                          TypeAndClass(1, 1)});
    query[4] = 0x00;  // QDCOUNT 0
    query[5] = 0x00;
    DnsQuestion question;
    ASSERT_TRUE(ParseQuestion(query.data(), query.size(), question));
    EXPECT_EQ(question.name, "one");
    EXPECT_EQ(question.qtype, 28);
}

TEST(DnsCodecQuestion, LabelLengthsUpTo191AreLengths) {
    for (size_t length : {63u, 64u, 127u, 128u, 191u}) {
        const Bytes query = Concat({Header(1, 1, 0, 0), Label(std::string(length, 'z')), {0x00}, TypeAndClass(1, 1)});
        DnsQuestion question;
        ASSERT_TRUE(ParseQuestion(query.data(), query.size(), question)) << length;
        EXPECT_EQ(question.name, std::string(length, 'z'));
    }
}

TEST(DnsCodecQuestion, NamesLongerThan255BytesDecodeWhole) {
    // 31 labels of 63 bytes: a 1,983-byte name in a 2,001-byte datagram.
    Bytes query = Header(1, 1, 0, 0);
    std::string expected;
    for (int i = 0; i < 31; ++i) {
        const std::string label(63, static_cast<char>('a' + i % 26));
        query = Concat({query, Label(label)});
        expected += (i == 0 ? "" : ".") + label;
    }
    query = Concat({query, {0x00}, TypeAndClass(15, 1)});
    DnsQuestion question;
    ASSERT_TRUE(ParseQuestion(query.data(), query.size(), question));
    EXPECT_EQ(question.name, expected);
    Bytes response;
    ASSERT_TRUE(Answer(query, Record(15, "", "", 60), response));
    // The question is written back as it came; the exchange repeats it after "mail".
    EXPECT_TRUE(
        SameBytes(Bytes(response.begin(), response.begin() + static_cast<std::ptrdiff_t>(query.size())),
                  Concat({{0x01, 0x01, 0x80, 0x80, 0, 1, 0, 1, 0, 0, 0, 0}, Bytes(query.begin() + 12, query.end())})));
    EXPECT_EQ(response.size(), query.size() + 12 + 2 + 5 + (query.size() - 16));
}

// A good query and the ways of breaking it. Each broken datagram is the good
// one edited, so the case says what it breaks.
Bytes GoodQuery() {
    return Concat({Header(0x12, 0x34, 0x01, 0x00), Label("www"), Label("example"), {0x00}, TypeAndClass(1, 1)});
}

TEST(DnsCodecMustFail, EveryTruncationOfAGoodQuery) {
    const Bytes good = GoodQuery();
    DnsQuestion question;
    ASSERT_TRUE(ParseQuestion(good.data(), good.size(), question));
    for (size_t length = 0; length < good.size(); ++length) {
        const Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_FALSE(ParseQuestion(cut.data(), cut.size(), question)) << "cut to " << length << ":\n" << HexDump(cut);
    }
}

TEST(DnsCodecMustFail, EditedQueries) {
    struct Case {
        const char* what;
        Bytes datagram;
    };
    const Bytes good = GoodQuery();  // 12 header, 13 name (12..24), type 25..26, class 27..28
    auto edit = [&good](std::initializer_list<std::pair<size_t, uint8_t>> changes, size_t length) {
        Bytes out = good;
        for (const auto& [offset, value] : changes) out[offset] = value;
        out.resize(length);
        return out;
    };
    const Case cases[] = {
        {"header only", edit({}, 12)},
        {"name ends exactly at the end", edit({}, 25)},
        {"name runs to the end without its zero", edit({}, 24)},
        {"class cut short", edit({}, 28)},
        {"label longer than the rest", edit({{16, 40}}, good.size())},
        {"label of 191 past the end", edit({{12, 191}}, good.size())},
        {"pointer second byte missing", edit({{12, 0xc0}}, 13)},
        {"pointer to the end", edit({{12, 0xc0}, {13, 29}}, good.size())},
        {"pointer past the end", edit({{12, 0xc0}, {13, 0xff}}, good.size())},
        {"pointer with high bits past the end", edit({{12, 0xff}, {13, 0x0c}}, good.size())},
        {"pointer to itself", edit({{12, 0xc0}, {13, 12}}, good.size())},
        {"pointer to itself after a label", edit({{16, 0xc0}, {17, 16}}, good.size())},
        {"label then pointer back to the name's start", edit({{16, 0xc0}, {17, 12}}, good.size())},
        {"A to B to A", edit({{12, 0xc0}, {13, 20}, {20, 0xc0}, {21, 12}}, good.size())},
        {"A to B to C to B", edit({{12, 0xc0}, {13, 16}, {16, 0xc0}, {17, 20}, {20, 0xc0}, {21, 16}}, good.size())},
        {"pointer into the header that loops", edit({{0, 0xc0}, {1, 0}, {12, 0xc0}, {13, 0}}, good.size())},
        {"pointer to a label the end cuts", edit({{12, 0xc0}, {13, 16}}, 20)},
        {"type cut after a compressed name", edit({{0, 0x00}, {12, 0xc0}, {13, 0x00}}, 17)},
    };
    for (const Case& c : cases) {
        DnsQuestion question;
        EXPECT_FALSE(ParseQuestion(c.datagram.data(), c.datagram.size(), question)) << c.what << ":\n"
                                                                                    << HexDump(c.datagram);
    }
}

TEST(DnsCodecDecodeName, OffsetAndNameRules) {
    struct Case {
        const char* what;
        Bytes message;
        size_t start;
        bool ok;
        std::string name;
        size_t end;
    };
    const Case cases[] = {
        {"plain name", Concat({Label("ab"), Label("c"), {0x00, 0xff}}), 0, true, "ab.c", 6},
        {"at the end already", {0x01, 'a'}, 2, true, "", 2},
        {"past the end", {0x01, 'a'}, 5, true, "", 5},
        {"runs to the end unterminated", Concat({Label("ab"), Label("c")}), 0, true, "ab.c", 5},
        {"offset stops past the first pointer",
         Concat({Label("x"), {0xc0, 0x05, 0xee}, {0xc0, 0x07}, Label("y"), {0x00}}), 0, true, "x.y", 4},
        {"pointer to an unterminated tail", Concat({{0xc0, 0x02}, Label("t")}), 0, true, "t", 2},
        {"pointer backwards", Concat({Label("a"), {0x00}, Label("b"), {0xc0, 0x00}}), 3, true, "b.a", 7},
        {"a name may jump into the header", Concat({Label("hi"), {0x00}, {0xc0, 0x00}}), 4, true, "hi", 6},
        {"bytes kept as sent", Concat({{0x03, 'A', 0x00, 0xff}, {0x00}}), 0, true, std::string("A\0\xff", 3), 5},
        {"leading empty label ends the name", {0x00, 0x01, 'a', 0x00}, 0, true, "", 1},
        {"label cut", {0x03, 'a', 'b'}, 0, false, "", 0},
        {"pointer byte alone", Concat({Label("a"), {0xc0}}), 0, false, "", 0},
        {"two pointers to one target", Concat({{0xc0, 0x02}, {0xc0, 0x04}, {0xc0, 0x02}}), 0, false, "", 0},
    };
    for (const Case& c : cases) {
        size_t offset = c.start;
        std::string name = "stale";
        const bool ok = DecodeName(c.message.data(), c.message.size(), offset, name);
        EXPECT_EQ(ok, c.ok) << c.what;
        if (ok && c.ok) {
            EXPECT_EQ(name, c.name) << c.what;
            EXPECT_EQ(offset, c.end) << c.what;
        }
    }
}

TEST(DnsCodecEncodeName, WireForms) {
    struct Case {
        std::string name;
        Bytes wire;
    };
    const Case cases[] = {
        {"", {0x00}},
        {"a", {0x01, 'a', 0x00}},
        {"a.", {0x01, 'a', 0x00}},
        {"a.b.", {0x01, 'a', 0x01, 'b', 0x00}},
        {".a", {0x00, 0x01, 'a', 0x00}},
        {"a..b", {0x01, 'a', 0x00, 0x01, 'b', 0x00}},
        {".", {0x00, 0x00}},
        {std::string(63, 'm'), Concat({Label(std::string(63, 'm')), {0x00}})},
        {std::string(64, 'm') + ".x", Concat({Label(std::string(63, 'm')), Label("x"), {0x00}})},
        {std::string(300, 'm'), Concat({Label(std::string(63, 'm')), {0x00}})},
    };
    for (const Case& c : cases) {
        Bytes buffer{0xaa};  // appended to, not replaced
        EncodeName(c.name, buffer);
        EXPECT_TRUE(SameBytes(buffer, Concat({{0xaa}, c.wire}))) << "name '" << c.name << "'";
    }
}

// A loop-free chain of pointers filling a 2,048-byte datagram, from the
// question at 12 to the label "end". Most pointers sit side by side (2 bytes
// each), but pointers may also overlap: the second byte of a pointer at a can
// be the first byte of one at a + 1 when a's target ends in 0xc0..0xc7. Using
// that, the chain holds more pointers than the datagram has byte pairs, so a
// limit of length / 2 jumps would refuse a valid name.
struct PointerChain {
    Bytes datagram;
    std::vector<size_t> pointers;  // in the order they are followed
    size_t end = 0;                // where the label "end" sits
};

PointerChain LongestChain() {
    constexpr size_t kSize = 2048;
    constexpr size_t kPairsPerBlock = 4;
    PointerChain chain;
    chain.datagram.assign(kSize, 0x00);

    // Each 256-byte block u has four pointers at u:c0, u:c2, u:c4, u:c6 (the
    // overlapping pointers' targets) and, just before them, four overlapping
    // pairs of 3 bytes. Everything else holds side-by-side pointers, sorted by
    // block, and the last 5 bytes hold "end".
    std::vector<size_t> targets, pairs;
    std::vector<std::vector<size_t>> singlesByBlock(kSize / 256);
    chain.end = kSize - 5;
    size_t freeStart = 0;
    for (size_t block = 0; block <= kSize / 256; ++block) {
        const size_t zone = block * 256 + 0xc0;
        const size_t freeEnd = block < kSize / 256 ? zone - 3 * kPairsPerBlock : chain.end;
        for (size_t at = freeStart; at + 2 <= freeEnd; at += 2) {
            if (at != 12)
                singlesByBlock[at / 256].push_back(at);
        }
        if (block == kSize / 256)
            break;
        for (size_t k = 0; k < kPairsPerBlock; ++k) {
            pairs.push_back(freeEnd + 3 * k);
            targets.push_back(zone + 2 * k);
        }
        freeStart = zone + 8;
    }

    // Pair i: its first pointer jumps to target i, which jumps to the pair's
    // second pointer, whose high byte is fixed by target i's low byte, so it
    // must go on to a pointer in block (target i & 0xff) - 0xc0.
    std::vector<size_t> next(singlesByBlock.size(), 0);
    chain.pointers.push_back(12);
    for (size_t i = 0; i < pairs.size(); ++i) {
        const size_t block = (targets[i] & 0xff) - 0xc0;
        chain.pointers.insert(chain.pointers.end(), {pairs[i], targets[i], pairs[i] + 1});
        chain.pointers.push_back(singlesByBlock[block][next[block]++]);
    }
    for (size_t block = 0; block < singlesByBlock.size(); ++block) {
        for (size_t i = next[block]; i < singlesByBlock[block].size(); ++i) {
            chain.pointers.push_back(singlesByBlock[block][i]);
        }
    }

    // Write every pointer; a byte written twice must agree, or the layout is wrong.
    std::vector<bool> written(kSize, false);
    auto put = [&](size_t at, uint8_t value) {
        if (written[at] && chain.datagram[at] != value) {
            ADD_FAILURE() << "pointer bytes disagree at " << at;
        }
        written[at] = true;
        chain.datagram[at] = value;
    };
    for (size_t i = 0; i < chain.pointers.size(); ++i) {
        const size_t target = i + 1 < chain.pointers.size() ? chain.pointers[i + 1] : chain.end;
        put(chain.pointers[i], static_cast<uint8_t>(0xc0 | (target >> 8)));
        put(chain.pointers[i] + 1, static_cast<uint8_t>(target & 0xff));
    }
    const Bytes end = Concat({Label("end"), {0x00}});
    for (size_t i = 0; i < end.size(); ++i) put(chain.end + i, end[i]);
    return chain;
}

TEST(DnsCodecPointerLoops, LongestChainInAFullDatagramDecodes) {
    const PointerChain chain = LongestChain();
    ASSERT_GT(chain.pointers.size(), chain.datagram.size() / 2);
    std::vector<size_t> sorted = chain.pointers;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end()) << "a pointer is used twice";
    size_t offset = 12;
    std::string name;
    ASSERT_TRUE(DecodeName(chain.datagram.data(), chain.datagram.size(), offset, name));
    EXPECT_EQ(name, "end");
    EXPECT_EQ(offset, 14u);
    DnsQuestion question;
    ASSERT_TRUE(ParseQuestion(chain.datagram.data(), chain.datagram.size(), question));
    EXPECT_EQ(question.name, "end");
}

TEST(DnsCodecPointerLoops, EveryCycleThroughTheChainFails) {
    const PointerChain chain = LongestChain();
    // Bend the last pointer back to each pointer of the chain in turn.
    const size_t last = chain.pointers.back();
    for (size_t target : chain.pointers) {
        Bytes looped = chain.datagram;
        looped[last] = static_cast<uint8_t>(0xc0 | (target >> 8));
        looped[last + 1] = static_cast<uint8_t>(target & 0xff);
        size_t offset = 12;
        std::string name;
        ASSERT_FALSE(DecodeName(looped.data(), looped.size(), offset, name)) << "loop back to " << target;
        DnsQuestion question;
        ASSERT_FALSE(ParseQuestion(looped.data(), looped.size(), question)) << "loop back to " << target;
    }
}

TEST(DnsCodecPointerLoops, LabelsInsideALoopDoNotHideIt) {
    // Every pointer jumps to a fresh label first, then on to the next pointer;
    // the last one returns to the first label.
    Bytes message;
    for (int i = 0; i < 100; ++i) {
        const size_t next = message.size() + 4;
        message.insert(message.end(), {0x01, static_cast<uint8_t>('a' + i % 26),
                                       static_cast<uint8_t>(0xc0 | (next >> 8)), static_cast<uint8_t>(next & 0xff)});
    }
    message.insert(message.end(), {0x00});
    size_t offset = 0;
    std::string name;
    ASSERT_TRUE(DecodeName(message.data(), message.size(), offset, name));
    EXPECT_EQ(name.size(), 199u);
    message[message.size() - 3] = 0xc0;
    message[message.size() - 2] = 0x00;
    offset = 0;
    EXPECT_FALSE(DecodeName(message.data(), message.size(), offset, name));
}

// A question whose name re-reads the same bytes along several interleaved
// walks. The datagram after the question is filled with 0x3f, so a walk that
// enters at any offset reads 63-byte labels every 64 bytes. Walk k enters at
// 18 + k and reads (steps - k) labels; where it stops, a pointer sends the
// name on to the next walk (the last one ends in a zero byte). Each walk stops
// one label before the byte the previous walk's pointer takes from its path.
Bytes ReenteringName(size_t walks, size_t steps, size_t size) {
    Bytes datagram(size, 0x3f);
    const Bytes header = Header(0x0b, 0xad, 0x01, 0x00);
    std::copy(header.begin(), header.end(), datagram.begin());
    const Bytes typeAndClass = TypeAndClass(1, 1);
    std::copy(typeAndClass.begin(), typeAndClass.end(), datagram.begin() + 14);
    auto pointTo = [&datagram](size_t at, size_t target) {
        datagram[at] = static_cast<uint8_t>(0xc0 | (target >> 8));
        datagram[at + 1] = static_cast<uint8_t>(target & 0xff);
    };
    pointTo(12, 18);
    for (size_t walk = 0; walk < walks; ++walk) {
        const size_t stop = 18 + walk + 64 * (steps - walk);
        if (walk + 1 < walks) {
            pointTo(stop, 18 + walk + 1);
        } else {
            datagram[stop] = 0x00;
        }
    }
    return datagram;
}

TEST(DnsCodecNameLength, NameMayReReadBytesButNeverOutgrowTheMessage) {
    struct Case {
        const char* what;
        size_t walks, steps;
        size_t nameLength;  // 0: must fail
    };
    const Case cases[] = {
        {"two walks, 16 + 15 labels: 1,983 bytes", 2, 16, 31 * 64 - 1},
        {"two walks, 17 + 16 labels: 2,111 bytes", 2, 17, 0},
        // The worst this layout makes of 2,000 bytes: about 30 KB.
        {"30 walks, 30 + 29 + ... + 1 labels: 29,759 bytes", 30, 30, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Bytes datagram = ReenteringName(c.walks, c.steps, 2000);
        DnsQuestion question;
        if (c.nameLength == 0) {
            EXPECT_FALSE(ParseQuestion(datagram.data(), datagram.size(), question));
            continue;
        }
        ASSERT_TRUE(ParseQuestion(datagram.data(), datagram.size(), question));
        EXPECT_EQ(question.name.size(), c.nameLength);
        EXPECT_EQ(std::count(question.name.begin(), question.name.end(), '.'), 30);
    }
}

}  // namespace
