#include "dns/client_address.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dns/datagram.h"
#include "dns/ipv4_text.h"

namespace {

// Rows name IPv4 addresses in dotted decimal and IPv6 ones by all eight groups.
ClientAddress Address(const std::string& text) {
    uint8_t ipv4[4];
    if (ParseIpv4Text(text, ipv4)) {
        return MapIpv4(ipv4);
    }
    unsigned groups[8] = {};
    EXPECT_EQ(std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x:%x:%x", &groups[0], &groups[1], &groups[2], &groups[3],
                          &groups[4], &groups[5], &groups[6], &groups[7]),
              8)
        << text;
    ClientAddress address;
    for (size_t i = 0; i < 8; ++i) {
        address.bytes[2 * i] = static_cast<uint8_t>(groups[i] >> 8);
        address.bytes[2 * i + 1] = static_cast<uint8_t>(groups[i]);
    }
    return address;
}

TEST(ClientAddress, Rfc5952TextAndIpv4ClientsInDottedDecimal) {
    const std::pair<std::string, std::string> cases[] = {
        {"0:0:0:0:0:0:0:0", "::"},
        {"0:0:0:0:0:0:0:1", "::1"},
        {"fd00:53:0:0:0:0:0:50", "fd00:53::50"},
        {"FE80:0:0:0:0:0:0:0", "fe80::"},
        {"2001:DB8:0:0:1:0:0:1", "2001:db8::1:0:0:1"},     // the first of equal runs
        {"1:0:0:2:0:0:0:3", "1:0:0:2::3"},                 // the longest run
        {"2001:db8:0:1:1:1:1:1", "2001:db8:0:1:1:1:1:1"},  // one zero group stays
        {"2001:0db8:00ab:0c00:000d:0:0:1", "2001:db8:ab:c00:d::1"},
        {"0:0:0:0:0:fffe:0:1", "::fffe:0:1"},
        {"64:ff9b:0:0:0:0:c000:207", "64:ff9b::c000:207"},
        {"10.1.2.3", "10.1.2.3"},  // mapped: IPv4 as before
        {"0.0.0.0", "0.0.0.0"},
    };
    for (const auto& [address, text] : cases) {
        EXPECT_EQ(FormatClientAddress(Address(address)), text) << address;
    }
    EXPECT_EQ(FormatIpv6Address(Address("10.1.2.3").bytes), "::ffff:a01:203");  // no dotted tail
    uint8_t ipv4[4];
    EXPECT_TRUE(UnmapToIpv4(Address("192.168.1.20"), ipv4));
    EXPECT_EQ(FormatIpv4Address(ipv4), "192.168.1.20");
    EXPECT_FALSE(UnmapToIpv4(Address("0:0:0:0:0:0:0:1"), ipv4));
    EXPECT_FALSE(UnmapToIpv4(Address("0:0:0:0:0:fffe:a01:203"), ipv4));
}

// This machine: a public IPv4 /24, an address without prefix, a /32 and a
// /128 alone, a documentation IPv6 /64.
std::vector<LocalNetwork> Networks() {
    return {{Address("203.0.113.1"), 96 + 24},       {Address("198.51.100.1"), 0},
            {Address("192.0.2.9"), 96 + 32},         {Address("2001:db8:53:0:0:0:0:1"), 64},
            {Address("2001:db8:77:0:0:0:0:1"), 128}, {Address("192.0.2.200"), 80}};
}

TEST(ClientAddress, OnlyThisMachinesNetworksAreAnswered) {
    // Loopback, private and shared ranges at their edges; the machine's own
    // subnets (an address without prefix is itself alone, a mapped prefix
    // shorter than 96 says nothing); ::ffff:127.0.0.1 is loopback, ::127.0.0.1 not.
    const std::pair<ClientVerdict, std::vector<std::string>> cases[] = {
        {ClientVerdict::kAnswered,
         {"127.0.0.1", "127.255.1.2", "0:0:0:0:0:0:0:1", "10.99.0.9", "172.16.0.1", "172.31.255.255", "192.168.1.20",
          "100.64.0.1", "100.127.255.1", "169.254.3.4", "fd00:53:0:0:0:0:0:50", "fc00:0:0:0:0:0:0:1",
          "fe80:0:0:0:0:0:0:1", "febf:0:0:0:0:0:0:1", "0:0:0:0:0:ffff:7f00:1"}},
        {ClientVerdict::kAnsweredOnLink,
         {"203.0.113.77", "198.51.100.1", "192.0.2.9", "2001:db8:53:0:0:0:0:50", "2001:db8:77:0:0:0:0:1"}},
        {ClientVerdict::kRefused,
         {"172.32.0.1", "192.169.0.1", "100.128.0.1", "fec0:0:0:0:0:0:0:1", "203.0.114.1", "198.51.100.2", "192.0.2.10",
          "192.0.2.201", "2001:db8:53:1:0:0:0:50", "2001:db8:77:0:0:0:0:2", "8.8.8.8", "2a00:1450:0:0:0:0:0:1",
          "0.0.0.0", "0.1.2.3", "0:0:0:0:0:0:0:0", "0:0:0:0:0:0:7f00:1"}},
    };
    const std::vector<LocalNetwork> networks = Networks();
    for (const auto& [verdict, addresses] : cases) {
        for (const std::string& address : addresses) {
            EXPECT_EQ(JudgeClient(Address(address), 5353, networks), verdict) << address;
        }
    }
    EXPECT_EQ(JudgeClient(Address("127.0.0.1"), 0, networks), ClientVerdict::kRefused);  // port 0
    EXPECT_EQ(JudgeClient(Address("203.0.113.77"), 53, {}), ClientVerdict::kRefused);
}

std::vector<std::string> logged;
int reads = 0;
std::vector<LocalNetwork> readResult;
std::vector<LocalNetwork> CountedRead() {
    ++reads;
    return readResult;
}
void Collect(std::string_view line) {
    logged.emplace_back(line);
}

TEST(ClientAddress, GateReadsTheNetworksAgainAtMostEveryTenSecondsAndLogsEachRefusedSenderOnce) {
    using std::chrono::seconds;
    const auto start = std::chrono::steady_clock::now();
    ClientGate gate{{}, start, {}};
    logged.clear();
    reads = 0;
    readResult = Networks();
    // Private senders never cause a read; an outsider within 10 s of the last one neither.
    EXPECT_TRUE(AdmitClient(gate, Address("192.168.1.20"), 5353, start + seconds(30), &CountedRead, &Collect));
    EXPECT_FALSE(AdmitClient(gate, Address("203.0.113.77"), 5353, start + seconds(5), &CountedRead, &Collect));
    EXPECT_EQ(reads, 0);
    // A network that came up is served once it is read.
    EXPECT_TRUE(AdmitClient(gate, Address("203.0.113.77"), 5353, start + seconds(10), &CountedRead, &Collect));
    EXPECT_EQ(reads, 1);
    // One that went away is no longer served after the next read.
    readResult.clear();
    EXPECT_TRUE(AdmitClient(gate, Address("203.0.113.77"), 5353, start + seconds(19), &CountedRead, &Collect));
    EXPECT_FALSE(AdmitClient(gate, Address("203.0.113.77"), 5353, start + seconds(20), &CountedRead, &Collect));
    EXPECT_EQ(reads, 2);
    // The unspecified sender and port 0: refused, never logged, never read for.
    EXPECT_FALSE(AdmitClient(gate, Address("0:0:0:0:0:0:0:0"), 5353, start + seconds(60), &CountedRead, &Collect));
    EXPECT_FALSE(AdmitClient(gate, Address("192.168.1.20"), 0, start + seconds(60), &CountedRead, &Collect));
    EXPECT_EQ(reads, 2);
    // Ten more outsiders, the first twice: ten lines in all, each sender once.
    for (int i = 0; i < 11; ++i) {
        const std::string sender = "2001:db8:99:0:0:0:0:" + std::to_string(i == 1 ? 0 : i);
        EXPECT_FALSE(AdmitClient(gate, Address(sender), 5353, start + seconds(21), &CountedRead, &Collect));
    }
    ASSERT_EQ(logged.size(), kRefusedSendersLogged);
    EXPECT_EQ(logged[0], "Refused queries from 203.0.113.77: not on this machine's networks");
    EXPECT_EQ(logged[1], "Refused queries from 2001:db8:99::: not on this machine's networks");
    EXPECT_EQ(logged[2], "Refused queries from 2001:db8:99::2: not on this machine's networks");
}

}  // namespace
