#!/usr/bin/env bash
# The DNS service on port 53 the way real use meets it, in network and mount
# namespaces of its own (needs root): the C library's resolver as the client
# (resolv.conf names the server), and this machine named as the forwarder in
# front of a real upstream (dnsmasq in a second namespace behind a veth pair).
# Usage: private_network.sh <build dir> <native|windows>
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)

# shellcheck source=tests/e2e/lib.bash
. "$root/tests/e2e/lib.bash"

require_tools dig dnsmasq python3 unshare nsenter ip
begin_private_network_test "-n -m" "$@"

upstream_queries() { grep -c "query\[A\] up.example from 10.53.0.1" "$work/dnsmasq.log"; }
before_upstream=$(upstream_queries)

# The C library asks the server on 127.0.0.1:53 and nothing else (no hosts
# file, no other name services).
echo "nameserver 127.0.0.1" >"$work/resolv.conf"
echo "hosts: dns" >"$work/nsswitch.conf"
mount --bind "$work/resolv.conf" /etc/resolv.conf && mount --bind "$work/nsswitch.conf" /etc/nsswitch.conf ||
    { echo "FAIL: cannot bind resolv.conf"; exit 1; }

log="$work/data/Tarnwick/dns.log"

query_ms() { sed -n 's/;; Query time: \([0-9]*\) msec/\1/p'; }

echo "--- a real resolver client: A and AAAA of a name with only an A record, no forwarder"
start_running_server --record A,resolver.example,10.4.5.6,60
lookup=$(python3 - <<'PY'
import socket, time
start = time.monotonic()
try:
    addresses = sorted({entry[4][0] for entry in socket.getaddrinfo("resolver.example", 80, proto=socket.IPPROTO_TCP)})
except socket.gaierror as error:
    addresses = ["error: %s" % error]
print(" ".join(addresses), "%.3f" % (time.monotonic() - start))
PY
)
echo "getaddrinfo: $lookup s"
check "getaddrinfo finds the local address" "10.4.5.6" "${lookup% *}"
check "getaddrinfo returns in well under a second (< 2 s; 10-15 s when AAAA gets no reply)" yes \
    "$(python3 -c "print('yes' if float('${lookup##* }') < 2 else 'no')")"
stop_server
check "both types were asked" 1 "$(tr -d '\r' <"$log" | grep -c "name=resolver.example type=28$")"

echo "--- a public name held here: its IPv4 address alone, though the upstream has an IPv6 one"
start_running_server --forwarders 10.53.0.2 --record A,shop.up.example,10.4.5.7,60
check "getent ahosts finds the local address and no other" "10.4.5.7" \
    "$(getent ahosts shop.up.example | awk '{print $1}' | sort -u | xargs)"
stop_server

echo "--- this machine named as forwarder (a loopback and an own address) before the real upstream"
start_running_server --forwarders 127.0.0.1,10.53.0.1,10.53.0.2 --record A,host.example,10.1.2.3,60
before=$(requests)
answer=$(dig @127.0.0.1 +tries=1 +time=10 up.example A)
check "answered by the real upstream" "192.0.2.7" "$(echo "$answer" | awk '$4 == "A" {print $5}')"
waited=$(echo "$answer" | query_ms)
check "after both own attempts timed out (>= 2800 ms)" yes \
    "$([ "${waited:-0}" -ge 2800 ] && echo yes || echo "no: $waited ms")"
check "the upstream got the query exactly once" 1 "$(($(upstream_queries) - before_upstream))"
# The query, its two copies and the health check after each, which reach
# the listening socket only after the attempts ended.
wait_until 100 0.05 requests_reach $((before + 5))
local_answer=$(dig @127.0.0.1 +tries=1 +time=10 host.example A)
check "a local query right after is answered" "10.1.2.3" "$(echo "$local_answer" | awk '$4 == "A" {print $5}')"
waited=$(echo "$local_answer" | query_ms)
check "at once (< 1000 ms)" yes "$([ "${waited:-9999}" -lt 1000 ] && echo yes || echo "no: $waited ms")"
stop_server
check "the forwarded query was logged once" 1 "$(tr -d '\r' <"$log" | grep -c "name=up.example type=1$")"

finish_checks
