#include "dns/client_address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dns/datagram.h"

namespace {

// Test addresses from text (the platform's parser), so the rows read as addresses.
ClientAddress Address(const std::string& text) {
    ClientAddress address;
    uint8_t ipv4[4];
    if (text.find(':') == std::string::npos) {
        const int parsed = std::sscanf(text.c_str(), "%hhu.%hhu.%hhu.%hhu", &ipv4[0], &ipv4[1], &ipv4[2], &ipv4[3]);
        EXPECT_EQ(parsed, 4) << text;
        return MapIpv4(ipv4);
    }
    // Groups, with one "::" at most.
    std::vector<uint16_t> head, tail;
    std::vector<uint16_t>* groups = &head;
    for (size_t at = 0; at < text.size();) {
        if (text.compare(at, 2, "::") == 0) {
            groups = &tail;
            at += 2;
            continue;
        }
        size_t end = text.find(':', at);
        end = end == std::string::npos ? text.size() : end;
        groups->push_back(static_cast<uint16_t>(std::stoul(text.substr(at, end - at), nullptr, 16)));
        at = end < text.size() && text.compare(end, 2, "::") != 0 ? end + 1 : end;
    }
    head.resize(8 - tail.size());
    head.insert(head.end(), tail.begin(), tail.end());
    for (size_t i = 0; i < 8; ++i) {
        address.bytes[2 * i] = static_cast<uint8_t>(head[i] >> 8);
        address.bytes[2 * i + 1] = static_cast<uint8_t>(head[i]);
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
    EXPECT_FALSE(UnmapToIpv4(Address("::1"), ipv4));
    EXPECT_FALSE(UnmapToIpv4(Address("0:0:0:0:0:fffe:a01:203"), ipv4));
}

// This machine: a public IPv4 /24, an address without prefix, a /32 and a
// /128 alone, a documentation IPv6 /64.
std::vector<LocalNetwork> Networks() {
    return {{Address("203.0.113.1"), 96 + 24}, {Address("198.51.100.1"), 0},     {Address("192.0.2.9"), 96 + 32},
            {Address("2001:db8:53::1"), 64},   {Address("2001:db8:77::1"), 128}, {Address("192.0.2.200"), 80}};
}

TEST(ClientAddress, OnlyThisMachinesNetworksAreAnswered) {
    const auto kIn = ClientVerdict::kAnswered;
    const auto kOnLink = ClientVerdict::kAnsweredOnLink;
    const auto kOut = ClientVerdict::kRefused;
    const std::pair<std::string, ClientVerdict> cases[] = {
        {"127.0.0.1", kIn},
        {"127.255.1.2", kIn},
        {"::1", kIn},
        {"10.99.0.9", kIn},
        {"172.16.0.1", kIn},
        {"172.31.255.255", kIn},
        {"172.32.0.1", kOut},
        {"192.168.1.20", kIn},
        {"192.169.0.1", kOut},
        {"100.64.0.1", kIn},
        {"100.127.255.1", kIn},
        {"100.128.0.1", kOut},
        {"169.254.3.4", kIn},
        {"fd00:53::50", kIn},
        {"fc00::1", kIn},
        {"fe80::1", kIn},
        {"febf::1", kIn},
        {"fec0::1", kOut},
        {"203.0.113.77", kOnLink},
        {"203.0.114.1", kOut},
        {"198.51.100.1", kOnLink},  // no prefix: itself
        {"198.51.100.2", kOut},
        {"192.0.2.9", kOnLink},
        {"192.0.2.10", kOut},
        {"192.0.2.201", kOut},  // a mapped prefix shorter than 96 says nothing
        {"2001:db8:53::50", kOnLink},
        {"2001:db8:53:1::50", kOut},
        {"2001:db8:77::1", kOnLink},
        {"2001:db8:77::2", kOut},
        {"8.8.8.8", kOut},
        {"2a00:1450::1", kOut},
        {"0.0.0.0", kOut},
        {"0.1.2.3", kOut},
        {"::", kOut},
        {"0:0:0:0:0:ffff:7f00:1", kIn},  // ::ffff:127.0.0.1
        {"0:0:0:0:0:0:7f00:1", kOut},    // ::127.0.0.1 is no loopback
    };
    const std::vector<LocalNetwork> networks = Networks();
    for (const auto& [address, verdict] : cases) {
        EXPECT_EQ(JudgeClient(Address(address), 5353, networks), verdict) << address;
    }
    EXPECT_EQ(JudgeClient(Address("127.0.0.1"), 0, networks), kOut);  // port 0
    EXPECT_EQ(JudgeClient(Address("203.0.113.77"), 53, {}), kOut);
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
    EXPECT_FALSE(AdmitClient(gate, Address("::"), 5353, start + seconds(60), &CountedRead, &Collect));
    EXPECT_FALSE(AdmitClient(gate, Address("192.168.1.20"), 0, start + seconds(60), &CountedRead, &Collect));
    EXPECT_EQ(reads, 2);
    // Eleven outsiders, the first twice: ten lines, each sender once.
    for (int i = 0; i < 11; ++i) {
        const std::string sender = "2001:db8:99::" + std::to_string(i == 1 ? 0 : i);
        EXPECT_FALSE(AdmitClient(gate, Address(sender), 5353, start + seconds(21), &CountedRead, &Collect));
    }
    for (int i = 11; i < 20; ++i) {
        AdmitClient(gate, Address("198.51.100." + std::to_string(i)), 5353, start + seconds(21), &CountedRead,
                    &Collect);
    }
    ASSERT_EQ(logged.size(), kRefusedSendersLogged);
    EXPECT_EQ(logged[0], "Refused queries from 203.0.113.77: not on this machine's networks");
    EXPECT_EQ(logged[1], "Refused queries from 2001:db8:99::: not on this machine's networks");
    EXPECT_EQ(logged[2], "Refused queries from 2001:db8:99::2: not on this machine's networks");
}

}  // namespace
