#!/usr/bin/env bash
# IPv4 and IPv6 clients of one server on port 53, and who gets answered, in
# network and mount namespaces of its own (needs root): a client namespace
# joined to the server's by a veth pair carrying a ULA (fd00:53::/64), a
# documentation-range IPv6 subnet (2001:db8:53::/64) and TEST-NET-3
# (203.0.113.0/24) and link-local addresses, plus client addresses routed from
# further away (a public IPv4, a global IPv6 and a private IPv4 address);
# replies checked to leave from the address asked (natively: under Wine 8
# WSASendMsg ignores the source it is given); dnsmasq upstream behind a
# second veth pair; the C library's resolver through a resolv.conf naming ::1.
# Usage: dual_stack.sh <build dir> <native|windows>
# own-namespaces
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)

# shellcheck source=tests/e2e/lib.bash
. "$root/tests/e2e/lib.bash"

require_tools dig dnsmasq python3 unshare nsenter ip getent
begin_private_network_test "-n -m" "$@"
log="$work/data/Tarnwick/dns.log"
address_in_use=$([ "$platform" = windows ] && echo 10048 || echo 98)

public4=198.51.100.9
public6=2001:db8:99::5efe:c000:207 # Windows' own text: 2001:db8:99::5efe:192.0.2.7
in_client() { nsenter -t "$client_ns_pid" -n "$@"; }

# The client's addresses: on the link, and routed through it from further away.
make_client_namespace() {
    unshare -n sleep 600 &
    client_ns_pid=$!
    background_pids+=("$client_ns_pid")
    wait_until 100 0.02 in_other_namespace "$client_ns_pid" &&
        ip link add tw-lan type veth peer name tw-client netns "$client_ns_pid" && ip link set tw-lan up &&
        in_client ip link set lo up && in_client ip link set tw-client addrgenmode none up &&
        ip addr add 203.0.113.1/24 dev tw-lan && ip addr add fd00:53::1/64 dev tw-lan nodad &&
        ip addr add 2001:db8:53::1/64 dev tw-lan nodad && ip addr add fe80::53:1/64 dev tw-lan nodad || return 1
    local address
    for address in 203.0.113.50/24 10.99.0.9/32 "$public4/32"; do
        in_client ip addr add "$address" dev tw-client || return 1
    done
    for address in fd00:53::50/64 2001:db8:53:0:1::50/64 fe80::53:50/64 "$public6/128"; do
        in_client ip addr add "$address" dev tw-client nodad || return 1
    done
    ip route add 10.99.0.9/32 via 203.0.113.50 && ip route add "$public4/32" via 203.0.113.50 &&
        ip route add "$public6/128" via 2001:db8:53:0:1::50 &&
        in_client ip route add 198.51.100.0/24 via 203.0.113.1 && in_client ip route add 2001:db8:99::/64 via 2001:db8:53::1
}
make_client_namespace || { echo "FAIL: no client network"; exit 1; }

# The A records of NAME asked from SOURCE (an address of the client namespace,
# or 127.0.0.1 or ::1 here) at SERVER, on one line; "no reply" when none came
# from the address asked. The client's one link-local address is its source
# by itself (dig -b takes no zone).
ask() {
    local command=(in_client dig -b "$1") answer
    [[ $1 == fe80:* ]] && command=(in_client dig)
    [[ $1 == 127.0.0.1 || $1 == ::1 ]] && command=(dig)
    answer=$("${command[@]}" "@$2" +tries=1 +time=2 +short "$3" A) || answer="no reply"
    echo "${answer//$'\n'/ }"
}

# How often the log holds the line (after its timestamp, with its CR LF).
logged() { cut -d' ' -f3- "$log" | grep -cxF -- "$1"$'\r'; }

echo "--- IPv4 and IPv6 clients: a local and a forwarded name each"
start_running_server --forwarders 10.53.0.2 --record A,local.example,10.9.8.7,60
rows=("127.0.0.1 127.0.0.1" "::1 ::1" "fd00:53::50 fd00:53::1" "2001:db8:53:0:1::50 2001:db8:53::1"
    "fe80::53:50 fe80::53:1%tw-client" "203.0.113.50 203.0.113.1" "10.99.0.9 203.0.113.1")
if [ "$platform" = native ]; then
    # Replies leave from the address asked: a deprecated second IPv6 address
    # and a second IPv4 address, which the system would not pick itself.
    ip addr add fd00:53::2/64 dev tw-lan nodad preferred_lft 0 && ip addr add 203.0.113.2/24 dev tw-lan ||
        { echo "FAIL: no second addresses"; exit 1; }
    rows+=("fd00:53::50 fd00:53::2" "203.0.113.50 203.0.113.2")
fi
for index in "${!rows[@]}"; do
    read -r client server <<<"${rows[index]}"
    check "$client -> $server: local name" 10.9.8.7 "$(ask "$client" "$server" local.example)"
    check "$client -> $server: forwarded name" 192.0.2.7 "$(ask "$client" "$server" "row$index.up.example")"
    check "$client -> $server: logged" 1 "$(logged "Q from $client name=row$index.up.example type=1")"
done

echo "nameserver ::1" >"$work/resolv.conf"
echo "hosts: dns" >"$work/nsswitch.conf"
mount --bind "$work/resolv.conf" /etc/resolv.conf && mount --bind "$work/nsswitch.conf" /etc/nsswitch.conf ||
    { echo "FAIL: cannot bind resolv.conf"; exit 1; }
check "getent ahosts through ::1: local name" 10.9.8.7 "$(getent ahosts local.example | awk '{print $1}' | sort -u | xargs)"
check "getent ahosts through ::1: forwarded name" "192.0.2.7 2001:db8::7" \
    "$(getent ahosts getent.up.example | awk '{print $1}' | sort -u | xargs)"
check "the resolver's AAAA query logged from ::1" 1 "$(logged "Q from ::1 name=getent.up.example type=28")"

echo "--- senders outside this machine's networks: $public4 and $public6"
before=$(requests)
asking=()
for client in "$public4" "$public6"; do
    server=$([[ $client == *:* ]] && echo 2001:db8:53::1 || echo 203.0.113.1)
    for name in local.example refused.up.example; do
        ask "$client" "$server" "$name" >"$work/refused-$client-$name" &
        asking+=($!)
    done
done
wait "${asking[@]}"
check "no replies" "no reply no reply no reply no reply" "$(cat "$work"/refused-* | xargs)"
wait_until 40 0.05 requests_reach $((before + 4))
check "every query counted in Requests" $((before + 4)) "$(requests)"
check "nothing forwarded to dnsmasq" 0 "$(grep -c refused.up.example "$work/dnsmasq.log")"

echo "--- a public subnet added on the server's side while it runs"
ip addr add 198.51.100.1/24 dev tw-lan && ip addr add 2001:db8:99::1/64 dev tw-lan nodad &&
    ip route del "$public4/32" && ip route del "$public6/128" || { echo "FAIL: no public subnet"; exit 1; }
added_ms=$(($(date +%s%N) / 1000000))
public_answered() {
    [ "$(ask "$public4" 198.51.100.1 local.example) $(ask "$public6" 2001:db8:99::1 local.example)" = "10.9.8.7 10.9.8.7" ]
}
took="not within 30 s"
wait_until 40 0.5 public_answered && took="$(($(date +%s%N) / 1000000 - added_ms)) ms"
check "its clients answered within 12 s ($took)" yes "$([ "${took% ms}" -le 12000 ] 2>/dev/null && echo yes || echo "no: $took")"
for client in "$public4" "$public6"; do
    check "one refusal line for $client" 1 "$(logged "Refused queries from $client: not on this machine's networks")"
done
stop_server
check "a dual-stack start writes no fallback line" 0 "$(grep -c "IPv6 not available" "$log")"

echo "--- no IPv6 socket: port 53 held on IPv6 alone, then the seam"
for case in held seam; do
    options=()
    if [ "$case" = held ]; then
        python3 -c 'import socket, sys, time
s = socket.socket(socket.AF_INET6, socket.SOCK_DGRAM)
s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 1)
s.bind(("::", 53))
open(sys.argv[1], "w").close()
time.sleep(300)' "$work/held" &
        holder_pid=$!
        background_pids+=("$holder_pid")
        wait_until 100 0.05 test -f "$work/held" || { echo "FAIL: [::]:53 not held"; exit 1; }
    else
        options=(--fail-ipv6-socket)
    fi
    error=$([ "$case" = held ] && echo "$address_in_use" || echo N) # N: whatever the seam's bind gave
    start_running_server --record A,local.example,10.9.8.7,60 "${options[@]}"
    fallback=$(tr -d '\r' <"$log" | cut -d' ' -f3- | grep -A1 -xF "DNS server started on UDP/53" | tail -n 1)
    [ "$error" = N ] && fallback=$(sed -E 's/\(error [0-9]+\)/(error N)/' <<<"$fallback")
    check "$case: the fallback's line right after the start line" \
        "IPv6 not available (error $error): serving IPv4 only" "$fallback"
    check "$case: IPv4 client on the link answered" 10.9.8.7 "$(ask 203.0.113.50 203.0.113.1 local.example)"
    check "$case: IPv4 loopback answered" 10.9.8.7 "$(ask 127.0.0.1 127.0.0.1 local.example)"
    stop_server
    [ "$case" = held ] && kill "$holder_pid"
done

finish_checks
