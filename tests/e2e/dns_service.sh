#!/usr/bin/env bash
# The DNS service end to end: dig as the client of the headless server (native,
# or the Windows build under Wine), dnsmasq as a real upstream on 127.0.0.2 and
# a silent upstream on 127.0.0.3. Every port but 53 is one the system assigned,
# so that two build trees can run this at once.
# Usage: dns_service.sh <build dir> <native|windows>
set -uo pipefail

build=$(cd "$1" && pwd)
platform="$2"
root=$(cd "$(dirname "$0")/../.." && pwd)

# shellcheck source=tests/e2e/lib.bash
. "$root/tests/e2e/lib.bash"

require_tools dig dnsmasq python3
work=$(mktemp -d)
failures=0
trap e2e_cleanup EXIT
use_headless
if [ "$platform" = windows ]; then
    address_in_use=10048
else
    address_in_use=98
fi
log="$work/data/Tarnwick/dns.log"

count_log() {
    [ -f "$log" ] || { echo 0; return; }
    tr -d '\r' <"$log" | cut -c21- | grep -cxF -- "$1"
}

ask() {
    dig @127.0.0.1 -p "$1" +tries=1 +time=4 "${@:2}"
}

# Sends raw query bytes (hex) to address:port and prints the reply as hex.
raw_query() {
    python3 - "$@" <<'PY'
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.settimeout(4)
s.sendto(bytes.fromhex(sys.argv[3]), (sys.argv[1], int(sys.argv[2])))
try:
    print(s.recvfrom(4096)[0].hex())
except socket.timeout:
    print("none")
PY
}

# Binds a UDP socket to the address and port given, keeps it, writes the port
# it got to the file and then counts the datagrams it receives in a second
# file, never answering. Started with &, its $! is the Python process itself.
hold_port() {
    exec python3 - "$@" <<'PY'
import os, socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind((sys.argv[1], int(sys.argv[2])))
open(sys.argv[4], "w").write("0")
with open(sys.argv[3] + ".new", "w") as out:
    out.write(str(s.getsockname()[1]))
os.rename(sys.argv[3] + ".new", sys.argv[3])
count = 0
while True:
    s.recvfrom(4096)
    count += 1
    open(sys.argv[4], "w").write(str(count))
PY
}

# Waits until hold_port has written its port to the file, and prints it.
port_in() {
    wait_until 200 0.05 test -s "$1" && { cat "$1"; return 0; }
    echo "FAIL: no port in $1" >&2
    exit 1
}

# A silent upstream on 127.0.0.3 at a port the system assigns, and a real one
# (dnsmasq) on 127.0.0.2 at the same port. Another program may hold that port
# on 127.0.0.2; then both start again on another.
upstream_port=""
for _ in 1 2 3 4 5; do
    rm -f "$work/silent.port" "$work/silent.count"
    hold_port 127.0.0.3 0 "$work/silent.port" "$work/silent.count" &
    silent_pid=$!
    port=$(port_in "$work/silent.port")
    dnsmasq --keep-in-foreground --no-resolv --no-hosts -C /dev/null --pid-file= --user=root \
        --listen-address=127.0.0.2 --bind-interfaces --port="$port" \
        --address=/up.example/192.0.2.7 --txt-record=txt.up.example,"relayed as sent" 2>"$work/dnsmasq.err" &
    dnsmasq_pid=$!
    background_pids+=("$silent_pid" "$dnsmasq_pid")
    for _ in $(seq 100); do
        dig @127.0.0.2 -p "$port" +tries=1 +time=1 +short up.example >/dev/null && { upstream_port=$port; break; }
        kill -0 "$dnsmasq_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$upstream_port" ] && break
    kill "$silent_pid" "$dnsmasq_pid" 2>/dev/null
done
[ -n "$upstream_port" ] || { echo "FAIL: dnsmasq did not start"; cat "$work/dnsmasq.err"; exit 1; }

echo "--- local records, and forwarding past an empty and an invalid forwarder"
start_server --listen-port 0 --upstream-port $upstream_port --forwarders ",not-an-address,127.0.0.2" \
    --record A,host.example,10.1.2.3,60 --record MX,mail.example,,300 || { echo "FAIL: no start"; exit 1; }
check "A answered locally" "10.1.2.3" "$(ask $listen_port +short host.example A)"
check "name compared without letter case" "10.1.2.3" "$(ask $listen_port +short HoSt.ExAmPlE A)"
check "MX with an empty value names mail.<name>" "10 mail.mail.example." "$(ask $listen_port +short mail.example MX)"
check "ANY answered by the MX record" "10 mail.mail.example." \
    "$(ask $listen_port +notcp +noall +answer mail.example ANY | awk '{print $5, $6}')"
check "forwarded to the third forwarder" "192.0.2.7" "$(ask $listen_port +short up.example A)"
status_and_answers() { ask $listen_port "$@" | sed -n 's/.*status: \([A-Z]*\),.*/\1/p; s/.*ANSWER: \([0-9]*\),.*/\1/p' | xargs; }
check "AAAA and HTTPS of a local name: the empty answer here" "NOERROR 0 NOERROR 0" \
    "$(status_and_answers host.example AAAA) $(status_and_answers host.example TYPE65)"
check "TXT of a local name goes upstream (dnsmasq refuses it)" "REFUSED 0" "$(status_and_answers host.example TXT)"
# The same query bytes straight to dnsmasq and through the server: the replies
# must be identical, ID and all.
query=c0de0100000100000000000003747874027570076578616d706c650000100001
direct=$(raw_query 127.0.0.2 $upstream_port "$query")
relayed=$(raw_query 127.0.0.1 $listen_port "$query")
[ "$direct" != none ] || { echo "FAIL: dnsmasq did not answer"; failures=$((failures + 1)); }
check "upstream reply relayed byte for byte" "$direct" "$relayed"
check "the silent upstream was never asked" "0" "$(cat "$work/silent.count")"
stop_server
check "query line logged" 1 "$(count_log "Q from 127.0.0.1 name=host.example type=1")"
check "query line keeps the case as asked" 1 "$(count_log "Q from 127.0.0.1 name=HoSt.ExAmPlE type=1")"
check "MX query logged" 1 "$(count_log "Q from 127.0.0.1 name=mail.example type=15")"
check "stop logged" 1 "$(count_log "DNS server stopped")"

echo "--- a silent first forwarder costs its time-out, then the next one answers"
start_server --listen-port 0 --upstream-port $upstream_port --forwarders "127.0.0.3,127.0.0.2," ||
    { echo "FAIL: no start"; exit 1; }
answer=$(ask $listen_port up.example A)
check "answered by the second forwarder" "192.0.2.7" "$(echo "$answer" | awk '$4 == "A" {print $5}')"
query_ms=$(echo "$answer" | sed -n 's/;; Query time: \([0-9]*\) msec/\1/p')
check "waited for the silent one first (>= 1400 ms)" yes "$([ "${query_ms:-0}" -ge 1400 ] && echo yes || echo "no: $query_ms ms")"
silent_got_two() { [ "$(cat "$work/silent.count")" = 2 ]; }
wait_until 40 0.05 silent_got_two
check "the silent upstream got the query, then one health check" "2" "$(cat "$work/silent.count")"
stop_server

echo "--- configuration read from config.xml in the data folder"
mkdir -p "$work/data/Tarnwick"
cat >"$work/data/Tarnwick/config.xml" <<'XML'
<?xml version="1.0" encoding="utf-8"?>
<config>
  <forwarding>
    <dns1>127.0.0.2</dns1>
    <dns2></dns2>
    <dns3></dns3>
  </forwarding>
  <records>
    <record index="4">
      <enabled>1</enabled>
      <type>A</type>
      <name>fromfile.example</name>
      <value>10.9.8.7</value>
      <ttl>60</ttl>
    </record>
  </records>
</config>
XML
start_server --listen-port 0 --upstream-port $upstream_port || { echo "FAIL: no start"; exit 1; }
check "record from config.xml answered" "10.9.8.7" "$(ask $listen_port +short fromfile.example A)"
check "forwarder from config.xml used" "192.0.2.7" "$(ask $listen_port +short up.example A)"
stop_server

echo "--- a port held by another socket"
hold_port 0.0.0.0 0 "$work/holder.port" "$work/holder.count" &
holder=$!
background_pids+=("$holder")
held_port=$(port_in "$work/holder.port")
before_started=$(count_log "DNS server started on UDP/53")
start_server --listen-port "$held_port"
check "bind failure ends the server" 2 "$?"
check "bind error code" "server not running, socket error $address_in_use" "$(tr -d '\r' <"$work/server.out" | tail -n 1)"
check "no start line for a failed bind" "$before_started" "$(count_log "DNS server started on UDP/53")"
kill "$holder"
wait "$holder" 2>/dev/null

echo "--- port 53"
deadline=$((SECONDS + 30))
while :; do
    if start_server --record A,port53.example,10.5.3.53,60; then
        check "answered on port 53" "10.5.3.53" "$(dig @127.0.0.1 +tries=1 +time=4 +short port53.example A)"
        stop_server
        break
    fi
    reason=$(tr -d '\r' <"$work/server.out" | tail -n 1)
    case "$reason" in
    *"socket error $address_in_use") ;;
    *"socket error 13" | *"socket error 10013") skip_or_fail "no right to bind port 53 ($reason)" ;;
    *) echo "FAIL: $reason"; exit 1 ;;
    esac
    [ $SECONDS -lt $deadline ] || skip_or_fail "port 53 stayed busy"
    sleep 0.5
done

finish_checks
