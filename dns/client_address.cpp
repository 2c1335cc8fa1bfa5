#include "dns/client_address.h"

#include <algorithm>
#include <cstring>

#include "dns/datagram.h"

namespace {

constexpr uint8_t kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};

// A prefix of an address in IPv6 form: IPv4 ranges are written mapped.
struct Range {
    uint8_t bytes[16];
    uint8_t length;
};

constexpr Range kAlwaysAnswered[] = {
    {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 127}, 96 + 8},
    {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 10}, 96 + 8},
    {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 172, 16}, 96 + 12},
    {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 192, 168}, 96 + 16},
    {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 100, 64}, 96 + 10},  // shared address space (carrier NAT)
    {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 169, 254}, 96 + 16},
    {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, 128},  // ::1
    {{0xFC}, 7},
    {{0xFE, 0x80}, 10},
};

constexpr Range kNeverAnswered[] = {
    {{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 0}, 96 + 8},
    {{}, 128},  // ::
};

bool IsMapped(const ClientAddress& address) {
    return std::memcmp(address.bytes, kMappedPrefix, sizeof kMappedPrefix) == 0;
}

bool InPrefix(const uint8_t address[16], const uint8_t prefix[16], unsigned length) {
    const unsigned whole = length / 8;
    if (std::memcmp(address, prefix, whole) != 0) {
        return false;
    }
    const unsigned rest = length % 8;
    const uint8_t mask = static_cast<uint8_t>(0xFF << (8 - rest));
    return rest == 0 || ((address[whole] ^ prefix[whole]) & mask) == 0;
}

bool InAnyRange(const ClientAddress& address, std::span<const Range> ranges) {
    for (const Range& range : ranges) {
        if (InPrefix(address.bytes, range.bytes, range.length)) {
            return true;
        }
    }
    return false;
}

}  // namespace

ClientAddress MapIpv4(const uint8_t ipv4[4]) {
    ClientAddress address;
    std::memcpy(address.bytes, kMappedPrefix, sizeof kMappedPrefix);
    std::memcpy(address.bytes + 12, ipv4, 4);
    return address;
}

bool UnmapToIpv4(const ClientAddress& address, uint8_t ipv4[4]) {
    if (!IsMapped(address)) {
        return false;
    }
    std::memcpy(ipv4, address.bytes + 12, 4);
    return true;
}

std::string FormatIpv6Address(const uint8_t bytes[16]) {
    uint16_t groups[8];
    for (int i = 0; i < 8; ++i) {
        groups[i] = static_cast<uint16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
    }
    int bestStart = -1;
    int bestLength = 1;  // a single zero group is written "0", not "::"
    for (int i = 0; i < 8;) {
        int run = 0;
        while (i + run < 8 && groups[i + run] == 0) {
            ++run;
        }
        if (run > bestLength) {
            bestStart = i;
            bestLength = run;
        }
        i += run > 0 ? run : 1;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(39);
    for (int i = 0; i < 8; ++i) {
        if (i == bestStart) {
            text += "::";
            i += bestLength - 1;
            continue;
        }
        if (i > 0 && i != bestStart + bestLength) {
            text += ':';
        }
        bool leading = true;
        for (int shift = 12; shift >= 0; shift -= 4) {
            const unsigned digit = (groups[i] >> shift) & 0xF;
            if (digit != 0 || shift == 0 || !leading) {
                text += kDigits[digit];
                leading = false;
            }
        }
    }
    return text;
}

std::string FormatClientAddress(const ClientAddress& address) {
    uint8_t ipv4[4];
    return UnmapToIpv4(address, ipv4) ? FormatIpv4Address(ipv4) : FormatIpv6Address(address.bytes);
}

ClientVerdict JudgeClient(const ClientAddress& address, uint16_t port, std::span<const LocalNetwork> networks) {
    if (port == 0 || InAnyRange(address, kNeverAnswered)) {
        return ClientVerdict::kRefused;
    }
    if (InAnyRange(address, kAlwaysAnswered)) {
        return ClientVerdict::kAnswered;
    }
    for (const LocalNetwork& network : networks) {
        // A prefix that covers nothing but the mapped prefix itself, or none
        // at all, says nothing about the link: the address alone counts.
        constexpr unsigned kAddressAlone = 128;
        const unsigned length = network.prefixLength == 0 || network.prefixLength > 128 ||
                                        (IsMapped(network.address) && network.prefixLength <= 96)
                                    ? kAddressAlone
                                    : network.prefixLength;
        if (InPrefix(address.bytes, network.address.bytes, length)) {
            return ClientVerdict::kAnsweredOnLink;
        }
    }
    return ClientVerdict::kRefused;
}

bool AdmitClient(ClientGate& gate,
                 const ClientAddress& address,
                 uint16_t port,
                 std::chrono::steady_clock::time_point now,
                 std::vector<LocalNetwork> (*read)(),
                 void (*logLine)(std::string_view)) {
    ClientVerdict verdict = JudgeClient(address, port, gate.networks);
    if (verdict == ClientVerdict::kAnswered) {
        return true;
    }
    // Unspecified senders and port 0 are nobody a reply could reach: no
    // network that comes up changes that, and the log is not told of them.
    if (port == 0 || InAnyRange(address, kNeverAnswered)) {
        return false;
    }
    // A network that came up (a new Wi-Fi, a VPN, a renumbered prefix) is
    // served, and one that went away no longer is, without a restart.
    if (now - gate.readAt >= kLocalNetworksRereadAfter) {
        gate.networks = read();
        gate.readAt = now;
        verdict = JudgeClient(address, port, gate.networks);
    }
    if (verdict != ClientVerdict::kRefused) {
        return true;
    }
    const bool logged = std::any_of(
        gate.refusedLogged.begin(), gate.refusedLogged.end(),
        [&](const ClientAddress& known) { return std::memcmp(known.bytes, address.bytes, sizeof address.bytes) == 0; });
    if (!logged && gate.refusedLogged.size() < kRefusedSendersLogged) {
        gate.refusedLogged.push_back(address);
        logLine("Refused queries from " + FormatClientAddress(address) + ": not on this machine's networks");
    }
    return false;
}
