#!/usr/bin/env bash
# The DNS service on port 53 the way real use meets it, in network and mount
# namespaces of its own (needs root): the C library's resolver as the client
# (resolv.conf names the server), and this machine named as the forwarder in
# front of a real upstream (dnsmasq in a second namespace behind a veth pair).
# Usage: private_network.sh <build dir> <native|windows>
set -uo pipefail

build=$(cd "$1" && pwd)
platform="$2"
root=$(cd "$(dirname "$0")/../.." && pwd)

# shellcheck source=tests/e2e/lib.bash
. "$root/tests/e2e/lib.bash"

require_tools dig dnsmasq python3 unshare nsenter ip
run_in_private_namespaces "-n -m" "$@"

if [ "$platform" = windows ]; then
    require_tools wine
    headless=("$root/scripts/wine-run" "$build/bench/tarnwick_headless.exe")
else
    headless=("$build/bench/tarnwick_headless")
fi
require_built "${headless[-1]}"

work=$(mktemp -d)
server_pid=""
upstream_ns_pid=""
dnsmasq_pid=""
failures=0

cleanup() {
    exec 9>&- 2>/dev/null
    for pid in $server_pid $dnsmasq_pid $upstream_ns_pid; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    if [ "$platform" = windows ]; then
        WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# The upstream's namespace: 10.53.0.1 here, 10.53.0.2 there, nowhere else.
unshare -n sleep 600 &
upstream_ns_pid=$!
for _ in $(seq 100); do
    [ "$(readlink /proc/$upstream_ns_pid/ns/net)" != "$(readlink /proc/$$/ns/net)" ] && break
    sleep 0.02
done
in_upstream() { nsenter -t "$upstream_ns_pid" -n "$@"; }
ip link add tw-server type veth peer name tw-upstream netns "$upstream_ns_pid" &&
    ip addr add 10.53.0.1/30 dev tw-server && ip link set tw-server up &&
    in_upstream ip link set lo up && in_upstream ip addr add 10.53.0.2/30 dev tw-upstream &&
    in_upstream ip link set tw-upstream up || { echo "FAIL: no veth pair"; exit 1; }
# nsenter runs dnsmasq in its own place, so $! is dnsmasq itself.
nsenter -t "$upstream_ns_pid" -n dnsmasq --keep-in-foreground --no-resolv --no-hosts -C /dev/null --pid-file= --user=root \
    --listen-address=10.53.0.2 --bind-interfaces --port=53 --address=/up.example/192.0.2.7 \
    --log-queries --log-facility="$work/dnsmasq.log" &
dnsmasq_pid=$!
for _ in $(seq 100); do
    dig @10.53.0.2 +tries=1 +time=1 +short up.example >/dev/null 2>&1 && break
    sleep 0.1
done
[ "$(dig @10.53.0.2 +tries=1 +time=2 +short up.example)" = 192.0.2.7 ] || { echo "FAIL: no upstream"; exit 1; }
upstream_queries() { grep -c "query\[A\] up.example from 10.53.0.1" "$work/dnsmasq.log"; }
before_upstream=$(upstream_queries)

# The C library asks the server on 127.0.0.1:53 and nothing else (no hosts
# file, no other name services).
echo "nameserver 127.0.0.1" >"$work/resolv.conf"
echo "hosts: dns" >"$work/nsswitch.conf"
mount --bind "$work/resolv.conf" /etc/resolv.conf && mount --bind "$work/nsswitch.conf" /etc/nsswitch.conf ||
    { echo "FAIL: cannot bind resolv.conf"; exit 1; }

mkdir -p "$work/data"
log="$work/data/Tarnwick/dns.log"
if [ "$platform" = windows ]; then
    # A prefix of its own, so that its wineserver (which owns the sockets)
    # starts inside this network namespace.
    export TARNWICK_WINEPREFIX="$work/prefix"
    data_base="Z:${work//\//\\}\\data"
else
    data_base="$work/data"
fi

# Starts the headless server on port 53 with the given options and waits until
# it runs.
start_server() {
    rm -f "$work/in"
    mkfifo "$work/in"
    : >"$work/server.out"
    "${headless[@]}" --data-folder-base "$data_base" "$@" <"$work/in" >"$work/server.out" 2>&1 &
    server_pid=$!
    exec 9>"$work/in"
    for _ in $(seq 1200); do
        grep -q "^started" "$work/server.out" && return 0
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.05
    done
    echo "FAIL: server did not start"
    cat "$work/server.out"
    exit 1
}

stop_server() {
    exec 9>&-
    wait "$server_pid"
    server_pid=""
}

# The server's request counter, asked on its standard input.
requests() {
    local lines
    lines=$(grep -c "^requests=" "$work/server.out")
    echo stats >&9
    for _ in $(seq 200); do
        [ "$(grep -c "^requests=" "$work/server.out")" -gt "$lines" ] && break
        sleep 0.05
    done
    grep "^requests=" "$work/server.out" | tail -n 1 | sed 's/^requests=\([0-9]*\).*/\1/'
}

query_ms() { sed -n 's/;; Query time: \([0-9]*\) msec/\1/p'; }

echo "--- a real resolver client: A and AAAA of a name with only an A record, no forwarder"
start_server --record A,resolver.example,10.4.5.6,60
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

echo "--- this machine named as forwarder (a loopback and an own address) before the real upstream"
start_server --forwarders 127.0.0.1,10.53.0.1,10.53.0.2 --record A,host.example,10.1.2.3,60
before=$(requests)
answer=$(dig @127.0.0.1 +tries=1 +time=10 up.example A)
check "answered by the real upstream" "192.0.2.7" "$(echo "$answer" | awk '$4 == "A" {print $5}')"
waited=$(echo "$answer" | query_ms)
check "after both own attempts timed out (>= 2800 ms)" yes \
    "$([ "${waited:-0}" -ge 2800 ] && echo yes || echo "no: $waited ms")"
check "the upstream got the query exactly once" 1 "$(($(upstream_queries) - before_upstream))"
# The query and its two copies, which reach the listening socket only after
# the attempts ended.
for _ in $(seq 100); do
    [ "$(requests)" -ge $((before + 3)) ] && break
    sleep 0.05
done
local_answer=$(dig @127.0.0.1 +tries=1 +time=10 host.example A)
check "a local query right after is answered" "10.1.2.3" "$(echo "$local_answer" | awk '$4 == "A" {print $5}')"
waited=$(echo "$local_answer" | query_ms)
check "at once (< 1000 ms)" yes "$([ "${waited:-9999}" -lt 1000 ] && echo yes || echo "no: $waited ms")"
check "requests: the query, two dropped copies, the local query" $((before + 4)) "$(requests)"
stop_server
check "the forwarded query was logged once" 1 "$(tr -d '\r' <"$log" | grep -c "name=up.example type=1$")"

if [ $failures -ne 0 ]; then
    echo "$failures check(s) failed"
    exit 1
fi
echo "all checks passed"
