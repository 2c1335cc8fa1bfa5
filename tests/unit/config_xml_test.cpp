#include "config/config_xml.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "config_test_support.h"

namespace {

using config_test::DescribeDifference;
using config_test::WorkedExampleConfig;

// One record block as written for a slot, LF included on every line.
std::string SlotBlock(int index,
                      const std::string& enabled,
                      const std::string& type,
                      const std::string& name,
                      const std::string& value,
                      const std::string& ttl) {
    return "    <record index=\"" + std::to_string(index) + "\">\n" +  //
           "      <enabled>" + enabled + "</enabled>\n" +              //
           "      <type>" + type + "</type>\n" +                       //
           "      <name>" + name + "</name>\n" +                       //
           "      <value>" + value + "</value>\n" +                    //
           "      <ttl>" + ttl + "</ttl>\n" +                          //
           "    </record>\n";
}

const char kDocumentHead[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"  // line 1: declaration, no BOM
    "<config>\n"                                    // line 2
    "  <forwarding>\n";                             // line 3
const char kForwardersEndRecordsStart[] =
    "  </forwarding>\n"  // line 7
    "  <records>\n";     // line 8
const char kDocumentTail[] =
    "  </records>\n"  // line 149
    "</config>\n";    // line 150

size_t CountLines(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// Reports the first differing line, which is far easier to read than two
// 3 KB strings side by side.
::testing::AssertionResult SameDocument(const std::string& expected, const std::string& actual) {
    if (expected == actual) {
        return ::testing::AssertionSuccess();
    }
    size_t line = 1;
    size_t start = 0;
    for (;;) {
        const size_t expectedEnd = expected.find('\n', start);
        const size_t actualEnd = actual.find('\n', start);
        const std::string expectedLine = expected.substr(start, expectedEnd - start);
        const std::string actualLine = actual.substr(start, actualEnd - start);
        if (expectedLine != actualLine || expectedEnd == std::string::npos || actualEnd == std::string::npos) {
            return ::testing::AssertionFailure()
                   << "line " << line << " differs:\n  expected [" << expectedLine << "]\n  actual   [" << actualLine
                   << "]\n  sizes " << expected.size() << " vs " << actual.size();
        }
        start = expectedEnd + 1;
        ++line;
    }
}

TEST(ConfigXmlWrite, DefaultConfigurationIsTheFixedLayout) {
    std::string expected = kDocumentHead;
    expected += "    <dns1></dns1>\n";  // lines 4 to 6: empty forwarders
    expected += "    <dns2></dns2>\n";
    expected += "    <dns3></dns3>\n";
    expected += kForwardersEndRecordsStart;
    for (int slot = 0; slot < 20; ++slot) {
        expected += SlotBlock(slot, "0", "A", "", "", "60");  // lines 9 + 7i to 15 + 7i
    }
    expected += kDocumentTail;

    const std::string written = BuildConfigXml(ServerConfig{});
    EXPECT_TRUE(SameDocument(expected, written));
    EXPECT_EQ(written.size(), 3118u);
    EXPECT_EQ(CountLines(written), 150u);
    EXPECT_EQ(written.back(), '\n');
    EXPECT_EQ(written.find('\r'), std::string::npos);
    EXPECT_EQ(written.find('\t'), std::string::npos);
    EXPECT_EQ(written.find(" \n"), std::string::npos) << "trailing blank";
    EXPECT_EQ(written.rfind("<?xml", 0), 0u) << "no byte-order mark";
}

TEST(ConfigXmlWrite, WorkedExampleIsByteExact) {
    std::string expected = kDocumentHead;
    expected += "    <dns1>192.0.2.53</dns1>\n";
    expected += "    <dns2>198.51.100.53</dns2>\n";
    expected += "    <dns3></dns3>\n";
    expected += kForwardersEndRecordsStart;
    expected +=
        "    <record index=\"0\">\n"
        "      <enabled>1</enabled>\n"
        "      <type>A</type>\n"
        "      <name>nas.home.test</name>\n"
        "      <value>192.0.2.10</value>\n"
        "      <ttl>300</ttl>\n"
        "    </record>\n"
        "    <record index=\"1\">\n"
        "      <enabled>1</enabled>\n"
        "      <type>MX</type>\n"
        "      <name>home.test</name>\n"
        "      <value>mail.home.test</value>\n"
        "      <ttl>600</ttl>\n"
        "    </record>\n";
    for (int slot = 2; slot < 20; ++slot) {
        expected += SlotBlock(slot, "0", "A", "", "", "60");
    }
    expected += kDocumentTail;

    const std::string written = BuildConfigXml(WorkedExampleConfig());
    EXPECT_TRUE(SameDocument(expected, written));
    EXPECT_EQ(written.size(), 3190u);
    EXPECT_EQ(CountLines(written), 150u);
}

TEST(ConfigXmlWrite, TextsAreEscapedAndNumbersWrittenPlain) {
    ServerConfig config;
    config.forwarding.dns1 = "a&b<c>\"d'e";
    config.forwarding.dns3 = "&amp;";  // already looks like an entity: escaped again
    config.records[3].name = "tab\there\nnew line \xC3\xA9\xE2\x82\xAC";
    config.records[3].value = "<value>";
    config.records[3].type = 28;  // any code but 1 is written as MX
    config.records[3].ttl = 4294967295u;
    config.records[4].ttl = 0;  // written unchanged
    config.records[4].type = 15;

    const std::string written = BuildConfigXml(config);
    EXPECT_NE(written.find("    <dns1>a&amp;b&lt;c&gt;&quot;d&apos;e</dns1>\n"), std::string::npos);
    EXPECT_NE(written.find("    <dns3>&amp;amp;</dns3>\n"), std::string::npos);
    EXPECT_NE(written.find(
                  SlotBlock(3, "0", "MX", "tab\there\nnew line \xC3\xA9\xE2\x82\xAC", "&lt;value&gt;", "4294967295")),
              std::string::npos);
    EXPECT_NE(written.find(SlotBlock(4, "0", "MX", "", "", "0")), std::string::npos);
    // The newline inside the name adds one line.
    EXPECT_EQ(CountLines(written), 151u);
}

TEST(ConfigXmlEscape, FiveEntitiesBothWays) {
    EXPECT_EQ(XmlEscape("a&b<c>\"d'e"), "a&amp;b&lt;c&gt;&quot;d&apos;e");
    const std::string untouched("\t\r\n\x01\x7F\x80\xFF caf\xC3\xA9 ;#", 17);
    EXPECT_EQ(XmlEscape(untouched), untouched);
    EXPECT_EQ(XmlEscape(std::string("a\0b", 3)), std::string("a\0b", 3));

    struct Case {
        const char* escaped;
        const char* plain;
    };
    const Case cases[] = {
        {"a&amp;b&lt;c&gt;&quot;d&apos;e", "a&b<c>\"d'e"},
        {"&amp;lt;", "&lt;"},  // decoded once, never again
        {"&amp;amp;", "&amp;"},
        {"&#65;", "&#65;"},  // numeric references are not known
        {"&#x41;", "&#x41;"},
        {"a &amp b", "a &amp b"},  // no semicolon, no entity
        {"&AMP;", "&AMP;"},        // case matters
        {"&", "&"},
        {"&&lt;", "&<"},
        {"&lt", "&lt"},
        {"&lt;&lt;&gt;", "<<>"},
        {"", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(XmlUnescape(c.escaped), c.plain) << c.escaped;
    }
}

TEST(ConfigXmlScanner, ElementTextIsTheFirstOpenerToTheNextCloser) {
    std::string result = "untouched";
    EXPECT_FALSE(FindElementText("<a>x", "a", result));
    EXPECT_FALSE(FindElementText("</a><a>", "a", result));  // closer only counts after the opener
    EXPECT_FALSE(FindElementText("<a x=\"1\">x</a>", "a", result));
    EXPECT_FALSE(FindElementText("<A>x</A>", "a", result));
    EXPECT_FALSE(FindElementText("", "a", result));
    EXPECT_EQ(result, "untouched");

    ASSERT_TRUE(FindElementText("<a></a>", "a", result));
    EXPECT_EQ(result, "");
    ASSERT_TRUE(FindElementText("<a> 1\r\n</a><a>2</a>", "a", result));
    EXPECT_EQ(result, " 1\r\n");
    ASSERT_TRUE(FindElementText("<a><a>inner</a></a>", "a", result));
    EXPECT_EQ(result, "<a>inner");
    ASSERT_TRUE(FindElementText("<ab>no</ab><a>yes</a>", "a", result));
    EXPECT_EQ(result, "yes");
}

TEST(ConfigXmlScanner, ElementListTakesAnyOpenerStartingWithTheTag) {
    const std::string text =
        "<records>\n<record index=\"0\">A</record>\n<record index=\"1\">B</record>\n</records>"
        "<recordx>C</record><record>unterminated";
    const std::vector<std::string> elements = FindElements(text, "record");
    ASSERT_EQ(elements.size(), 3u);
    EXPECT_EQ(elements[0], "<records>\n<record index=\"0\">A</record>");
    EXPECT_EQ(elements[1], "<record index=\"1\">B</record>");
    EXPECT_EQ(elements[2], "<recordx>C</record>");

    EXPECT_TRUE(FindElements("", "record").empty());
    EXPECT_TRUE(FindElements("<record", "record").empty());             // no '>'
    EXPECT_TRUE(FindElements("<record></records>", "record").empty());  // no closer
    // The closer is looked for only from the opener's first '>', so a closer
    // that ends before that '>' does not end the element.
    const std::vector<std::string> tight = FindElements("<record a=\"</record>\">x</record>", "record");
    ASSERT_EQ(tight.size(), 1u);
    EXPECT_EQ(tight[0], "<record a=\"</record>\">x</record>");
}

TEST(ConfigXmlScanner, AttributeIsNameEqualsQuoteAnywhere) {
    std::string result = "untouched";
    EXPECT_FALSE(FindAttribute("<record index='3'>", "index", result));
    EXPECT_FALSE(FindAttribute("<record index = \"3\">", "index", result));
    EXPECT_FALSE(FindAttribute("<record index=\"3>", "index", result));
    EXPECT_EQ(result, "untouched");

    ASSERT_TRUE(FindAttribute("<record index=\"\">", "index", result));
    EXPECT_EQ(result, "");
    ASSERT_TRUE(FindAttribute("<r a=\"1\" index=\"12\" b=\"2\">", "index", result));
    EXPECT_EQ(result, "12");
    ASSERT_TRUE(FindAttribute("<r>text index=\"5\"</r>", "index", result));  // not only in tags
    EXPECT_EQ(result, "5");
    ASSERT_TRUE(FindAttribute("<r reindex=\"9\" index=\"1\">", "index", result));  // a longer name matches too
    EXPECT_EQ(result, "9");
}

TEST(ConfigXmlRead, NothingKnownGivesDefaults) {
    const ServerConfig defaults;
    for (const char* text : {"", "not xml at all", "<config></config>", "<records><record></record></records>",
                             "\xEF\xBB\xBF", "<dns1>unterminated"}) {
        EXPECT_EQ(DescribeDifference(defaults, ParseConfigXml(text)), "") << text;
    }
    EXPECT_EQ(ParseConfigXml(std::string("\0<dns1>\0</dns1>", 15)).forwarding.dns1, std::string(1, '\0'));
}

TEST(ConfigXmlRead, ForwardersAreFoundAnywhereAndTakenUntrimmed) {
    ServerConfig expected;
    expected.forwarding.dns2 = "192.0.2.1";
    EXPECT_EQ(DescribeDifference(expected, ParseConfigXml("<dns2>192.0.2.1</dns2>")), "");

    EXPECT_EQ(ParseConfigXml("<dns1> 192.0.2.1 </dns1>").forwarding.dns1, " 192.0.2.1 ");
    EXPECT_EQ(ParseConfigXml("<dns1>\n192.0.2.1\r\n</dns1>").forwarding.dns1, "\n192.0.2.1\r\n");
    EXPECT_EQ(ParseConfigXml("<dns1>192.0.2.1.</dns1>").forwarding.dns1, "192.0.2.1.");  // only names lose dots
    EXPECT_EQ(ParseConfigXml("<dns3>a&amp;lt;b</dns3>").forwarding.dns3, "a&lt;b");

    const std::string scattered =
        "<records></records><dns3>192.0.2.3</dns3>"
        "<!-- <dns1>192.0.2.9</dns1> -->"
        "<forwarding><dns1>192.0.2.1</dns1><dns2>192.0.2.2</dns2></forwarding>"
        "<dns2>192.0.2.22</dns2>";
    const ServerConfig read = ParseConfigXml(scattered);
    EXPECT_EQ(read.forwarding.dns1, "192.0.2.9");  // the commented-out one comes first and wins
    EXPECT_EQ(read.forwarding.dns2, "192.0.2.2");  // first occurrence wins
    EXPECT_EQ(read.forwarding.dns3, "192.0.2.3");  // after the records, outside any wrapper
}

// Which slot a lone record element fills: its enabled child marks it.
int SlotFilledBy(const std::string& opener) {
    const ServerConfig read = ParseConfigXml(opener + "<enabled>1</enabled><name>x</name></record>");
    int filled = -1;
    for (int slot = 0; slot < 20; ++slot) {
        if (read.records[slot].enabled) {
            if (filled != -1)
                return -2;
            filled = slot;
        }
    }
    return filled;
}

TEST(ConfigXmlRead, IndexIsASignedDecimalPrefix) {
    struct Case {
        const char* opener;
        int slot;  // -1: ignored
    };
    const Case cases[] = {
        {"<record index=\"0\">", 0},
        {"<record index=\"19\">", 19},
        {"<record index=\"20\">", -1},
        {"<record index=\"-1\">", -1},
        {"<record index=\"-0\">", 0},
        {"<record index=\"+4\">", 4},
        {"<record index=\"\">", 0},
        {"<record index=\"abc\">", 0},
        {"<record index=\"0x5\">", 0},
        {"<record index=\" 7\">", 7},
        {"<record index=\"\t\n7\">", 7},
        {"<record index=\"07\">", 7},
        {"<record index=\"7b\">", 7},
        {"<record index=\"- 7\">", 0},
        {"<record index=\"4294967303\">", -1},  // 2^32 + 7 does not wrap to 7
        {"<record index=\"99999999999999999999999\">", -1},
        {"<record index=\"-4294967296\">", -1},
        {"<record index='3'>", -1},
        {"<record index = \"3\">", -1},
        {"<record>", -1},
        {"<record enabled=\"1\" index=\"3\">", 3},
        {"<record index=\"3\" type=\"MX\">", 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SlotFilledBy(c.opener), c.slot) << c.opener;
        ConfigXmlFindings found;
        ParseConfigXml(std::string(c.opener) + "</record>", &found);
        EXPECT_EQ(found.placedRecord, c.slot != -1) << c.opener;
        EXPECT_FALSE(found.forwarderElement) << c.opener;
    }
}

TEST(ConfigXmlRead, ReportsTheForwarderElementsAndPlacedRecordsItFound) {
    const struct {
        std::string text;
        bool forwarderElement;
        bool placedRecord;
    } cases[] = {
        {"", false, false},
        {"<html><body>a web page</body></html>", false, false},
        {"<config><forwarding></forwarding><records></records></config>", false, false},
        {"<dns1 >192.0.2.1</dns1><DNS2>192.0.2.2</DNS2><dns3>unclosed", false, false},
        {"<dns3></dns3>", true, false},
        {"<record index=\"20\"></record><dns2>192.0.2.2</dns2>", true, false},
        {"<records><record index=\"3\"></record></records>", false, true},
        {BuildConfigXml(ServerConfig{}), true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ConfigXmlFindings found;
        ParseConfigXml(c.text, &found);
        EXPECT_EQ(found.forwarderElement, c.forwarderElement);
        EXPECT_EQ(found.placedRecord, c.placedRecord);
    }
}

TEST(ConfigXmlRead, RecordElementsLandInTheirOwnSlotsAndTheLaterOneWins) {
    const std::string text =
        "<record index=\"5\"><enabled>1</enabled><name>five</name></record>"
        "<record index=\"2\"><type>MX</type><name>two</name></record>"
        "<record index=\"4\"><enabled>1</enabled><name>first four</name><ttl>7</ttl></record>"
        "<record index=\"4\"><name>second four</name></record>"
        "<record index=\"6\"><enabled>1</enabled><name>six</name></record>"
        "<record index=\"6\"></record>";
    const ServerConfig read = ParseConfigXml(text);
    EXPECT_EQ(read.records[5].name, "five");
    EXPECT_TRUE(read.records[5].enabled);
    EXPECT_EQ(read.records[2].name, "two");
    EXPECT_EQ(read.records[2].type, 15);
    // The later element replaces the slot completely, unset fields included.
    EXPECT_EQ(read.records[4].name, "second four");
    EXPECT_FALSE(read.records[4].enabled);
    EXPECT_EQ(read.records[4].ttl, 60u);
    EXPECT_EQ(DescribeDifference(ServerConfig{}.records[6], read.records[6]), "");  // an empty element resets
    // Written back in slot order.
    const std::string rewritten = BuildConfigXml(read);
    EXPECT_LT(rewritten.find("<name>two</name>"), rewritten.find("<name>second four</name>"));
    EXPECT_LT(rewritten.find("<name>second four</name>"), rewritten.find("<name>five</name>"));
}

TEST(ConfigXmlRead, FieldFormsAreReadStrictlyOrWithDefaults) {
    auto readSlot = [](const std::string& children) {
        return ParseConfigXml("<record index=\"1\">" + children + "</record>").records[1];
    };
    // enabled: exactly the byte "1".
    EXPECT_TRUE(readSlot("<enabled>1</enabled>").enabled);
    for (const char* form : {"true", " 1", "01", "1 ", "", "yes"}) {
        EXPECT_FALSE(readSlot(std::string("<enabled>") + form + "</enabled>").enabled) << form;
    }
    // type: exactly "MX" is 15, anything else 1.
    EXPECT_EQ(readSlot("<type>MX</type>").type, 15);
    for (const char* form : {"mx", "AAAA", "", " MX", "MX ", "15", "A"}) {
        EXPECT_EQ(readSlot(std::string("<type>") + form + "</type>").type, 1) << form;
    }
    // ttl: strtoul-like with clamping, negation modulo 2^32, 0 becomes 60.
    struct TtlCase {
        const char* text;
        uint32_t ttl;
    };
    const TtlCase ttlCases[] = {
        {"0", 60},
        {"", 60},
        {"abc", 60},
        {"+", 60},
        {"-0", 60},
        {" 30", 30},
        {"\r\n30\r\n", 30},
        {"30s", 30},
        {"+30", 30},
        {"007", 7},
        {"4294967295", 4294967295u},
        {"4294967296", 4294967295u},
        {"99999999999999999999999999", 4294967295u},
        {"-1", 4294967295u},
        {"-4294967295", 1},
        {"-4294967296", 4294967295u},  // saturates before any negation
        {"-60", 4294967236u},
        {"4294967236", 4294967236u},
    };
    for (const TtlCase& c : ttlCases) {
        EXPECT_EQ(readSlot(std::string("<ttl>") + c.text + "</ttl>").ttl, c.ttl) << c.text;
    }
    EXPECT_EQ(readSlot("").ttl, 60u);  // no ttl element at all

    // Names and values lose every trailing dot after unescaping, nothing else.
    EXPECT_EQ(readSlot("<name>host.test...</name>").name, "host.test");
    EXPECT_EQ(readSlot("<name>.</name>").name, "");
    EXPECT_EQ(readSlot("<name>...</name>").name, "");
    EXPECT_EQ(readSlot("<name>.lead.</name>").name, ".lead");
    EXPECT_EQ(readSlot("<name>a. </name>").name, "a. ");
    EXPECT_EQ(readSlot("<name> Host.Test </name>").name, " Host.Test ");
    EXPECT_EQ(readSlot("<value>192.0.2.10.</value>").value, "192.0.2.10");
    EXPECT_EQ(readSlot("<value>not an address</value>").value, "not an address");
    EXPECT_EQ(readSlot("<name>a&amp;b&lt;.&gt;</name>").name, "a&b<.>");
    EXPECT_EQ(readSlot("<name>a&amp;lt;</name>").name, "a&lt;");
    // Only exact tags are children.
    EXPECT_EQ(readSlot("<name >x</name>").name, "");
    EXPECT_EQ(readSlot("<name a=\"1\">x</name>").name, "");
    EXPECT_EQ(readSlot("<NAME>x</NAME>").name, "");
}

TEST(ConfigXmlRead, CarriageReturnLineEndsReadTheSame) {
    const std::string lf = BuildConfigXml(WorkedExampleConfig());
    std::string crlf;
    for (const char c : lf) {
        if (c == '\n')
            crlf += '\r';
        crlf += c;
    }
    EXPECT_EQ(DescribeDifference(WorkedExampleConfig(), ParseConfigXml(crlf)), "");
    EXPECT_EQ(BuildConfigXml(ParseConfigXml(crlf)), lf);
}

TEST(ConfigXmlRead, WrittenDocumentsReadBackIncludingSlotZeroInsideTheWrapper) {
    ServerConfig config = WorkedExampleConfig();
    config.records[0].ttl = 1;
    config.records[19].enabled = true;
    config.records[19].name = "last";
    const ServerConfig read = ParseConfigXml(BuildConfigXml(config));
    EXPECT_EQ(DescribeDifference(config, read), "");
}

// What a written configuration must read back as: ttl 0 becomes 60, trailing
// dots of names and values go, and every type but A reads as MX.
ServerConfig ExpectedAfterRoundTrip(ServerConfig config) {
    for (DnsRecord& record : config.records) {
        if (record.ttl == 0)
            record.ttl = kDefaultTtl;
        while (!record.name.empty() && record.name.back() == '.') record.name.pop_back();
        while (!record.value.empty() && record.value.back() == '.') record.value.pop_back();
        if (record.type != kTypeA)
            record.type = kTypeMx;
    }
    return config;
}

std::string RandomText(std::mt19937& random) {
    // Pieces chosen to hit the format's sensitive spots: entities and things
    // that look like them, tags of the format itself, line breaks, UTF-8.
    static const std::vector<std::string> pieces = {"a",
                                                    "Z",
                                                    "0",
                                                    "9",
                                                    ".",
                                                    "..",
                                                    "-",
                                                    " ",
                                                    "\t",
                                                    "\n",
                                                    "\r\n",
                                                    "&",
                                                    "<",
                                                    ">",
                                                    "\"",
                                                    "'",
                                                    "&amp;",
                                                    "&lt;",
                                                    "&#65;",
                                                    ";",
                                                    "=",
                                                    "index=\"3\"",
                                                    "<name>",
                                                    "</record>",
                                                    "<record index=\"1\">",
                                                    "<records>",
                                                    "</dns1>",
                                                    "<ttl>",
                                                    "\xC3\xA9",
                                                    "\xE6\x97\xA5\xE6\x9C\xAC",
                                                    "\xF0\x9F\x98\x80",
                                                    std::string("\0", 1),
                                                    "\xFF",
                                                    "host",
                                                    "192.0.2.1",
                                                    "mail.example."};
    std::uniform_int_distribution<size_t> length(0, 8);
    std::uniform_int_distribution<size_t> pick(0, pieces.size() - 1);
    std::string text;
    for (size_t n = length(random); n > 0; --n) text += pieces[pick(random)];
    return text;
}

TEST(ConfigXmlRoundTrip, GeneratedConfigurationsReadBackWithTheKnownExceptions) {
    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> coin(0, 1);
    std::uniform_int_distribution<uint32_t> anyTtl;
    std::uniform_int_distribution<int> typePick(0, 5);
    std::uniform_int_distribution<int> ttlPick(0, 3);
    constexpr int kConfigurations = 400;
    for (int round = 0; round < kConfigurations; ++round) {
        ServerConfig config;
        config.forwarding.dns1 = RandomText(random);
        config.forwarding.dns2 = RandomText(random);
        config.forwarding.dns3 = RandomText(random);
        for (DnsRecord& record : config.records) {
            record.enabled = coin(random) == 1;
            const int types[] = {1, 15, 1, 15, 28, -1};
            record.type = types[typePick(random)];
            record.name = RandomText(random);
            record.value = RandomText(random);
            const uint32_t ttls[] = {0, 60, 4294967295u, anyTtl(random)};
            record.ttl = ttls[ttlPick(random)];
        }
        const std::string written = BuildConfigXml(config);
        const ServerConfig read = ParseConfigXml(written);
        ASSERT_EQ(DescribeDifference(ExpectedAfterRoundTrip(config), read), "") << "round " << round;
        // What was read is a fixed point: written again, it is the same text.
        ASSERT_EQ(BuildConfigXml(read), BuildConfigXml(ParseConfigXml(BuildConfigXml(read)))) << "round " << round;
    }
}

}  // namespace
