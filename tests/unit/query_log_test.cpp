#include <gtest/gtest.h>

#include <string>

#include "dns/datagram.h"

namespace {

TEST(QueryLogLine, ControlBytesOfTheNameAreWrittenAsDecimalEscapes) {
    struct Case {
        std::string name;
        uint16_t qtype;
        std::string expected;
    };
    const Case cases[] = {
        {"host.example", 1, "Q from 10.1.2.3 name=host.example type=1"},
        {"", 255, "Q from 10.1.2.3 name= type=255"},
        {"a\r\nb", 15, "Q from 10.1.2.3 name=a\\013\\010b type=15"},
        {std::string("x\0y", 3), 28, "Q from 10.1.2.3 name=x\\000y type=28"},
        {"\x1f\x20\x7e\x7f\x80\xff", 65535,
         "Q from 10.1.2.3 name=\\031 ~\\127\x80\xff type=65535"},  // only < 0x20 and 0x7F change
        {"back\\slash\t", 0, "Q from 10.1.2.3 name=back\\slash\\009 type=0"},
        {"caf\xC3\xA9", 1, "Q from 10.1.2.3 name=caf\xC3\xA9 type=1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FormatQueryLogLine("10.1.2.3", DnsQuestion{c.name, c.qtype}), c.expected);
    }
}

TEST(QueryLogLine, AddressTextIsDottedDecimal) {
    // Every digit count, and zeros inside and at the end of a part.
    const uint8_t addresses[][4] = {{127, 0, 0, 1},    {0, 0, 0, 0},      {255, 255, 255, 255},
                                    {192, 168, 1, 20}, {10, 100, 200, 9}, {101, 110, 99, 90}};
    const char* expected[] = {"127.0.0.1",    "0.0.0.0",      "255.255.255.255",
                              "192.168.1.20", "10.100.200.9", "101.110.99.90"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(FormatIpv4Address(addresses[i]), expected[i]);
    }
}

}  // namespace
