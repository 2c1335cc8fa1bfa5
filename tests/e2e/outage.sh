#!/usr/bin/env bash
# Upstream servers that stop answering, for real, under a small network's
# ordinary traffic (scripts/lib/dns_traffic.py: a forwarded name every 0.25 s,
# a local name every second, each from its own socket, waited for 5 s), in
# private network namespaces (needs root):
#   1. dns1 silent (a stub that never answers), dns2 a real dnsmasq;
#   2. dnsmasq stopped with SIGSTOP as well: every upstream is silent;
#   3. dnsmasq resumed with SIGCONT, dns1 still silent;
#   then a stop while three silent forwarders are asked;
#   4. a forwarder that loses every third reply, alone and beside dnsmasq;
#   5. a name whose servers are dead (dnsmasq sends dead.example on to the
#      silent stub), then a 3,000-byte reply, each looked up as a resolver
#      does (A and AAAA at once), and a forwarder behind a 700 ms link that is
#      down for 20 s.
# Health checks (queries for the root name, "." in every log) are told apart
# from client queries wherever the queries a forwarder got are counted.
# Usage: outage.sh <build dir> <native|windows>
# own-namespaces
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)

# shellcheck source=tests/e2e/lib.bash
. "$root/tests/e2e/lib.bash"

require_tools dig dnsmasq python3 unshare nsenter ip
upstream_dnsmasq_options=(--server=/dead.example/10.53.0.3)
begin_private_network_test "-n" "$@"

traffic="$root/scripts/lib/dns_traffic.py"
"${upstream_ns[@]}" python3 "$traffic" stub --address 10.53.0.3 --log "$work/silent.log" &
background_pids+=($!)
"${upstream_ns[@]}" python3 "$traffic" stub --address 10.53.0.4 --drop-every 3 --log "$work/lossy.log" &
background_pids+=($!)
"${upstream_ns[@]}" python3 "$traffic" stub --address 10.53.0.5 --delay 0 --big-name big.example --big-size 3000 \
    --log "$work/big.log" &
background_pids+=($!)
"${upstream_ns[@]}" python3 "$traffic" stub --address 10.53.0.6 --delay 0.7 --down-while "$work/link-down" \
    --log "$work/slow.log" &
background_pids+=($!)
wait_until 100 0.05 test -f "$work/silent.log" -a -f "$work/lossy.log" -a -f "$work/big.log" -a -f "$work/slow.log"

# Runs the traffic for the given seconds (further options after them) and
# notes its start (Unix time) in $work/<name>.start.
load() {
    date +%s.%N >"$work/$1.start"
    python3 "$traffic" load --seconds "$2" --local-name local.example --forwarded-name up.example \
        --out "$work/$1.jsonl" "${@:3}"
}

# Judges a traffic file; the Python lines are the checks, one per line, each
# printed as ok or FAIL. Arguments: the traffic's name, then Python.
judge() {
    local result
    result=$(python3 - "$work" "$1" "$traffic" <<PY
import json, sys
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, sys.argv[3].rsplit("/", 1)[0])
from dns_traffic import summarize
work, name = sys.argv[1], sys.argv[2]
entries = [json.loads(line) for line in open("%s/%s.jsonl" % (work, name))]
start = float(open("%s/%s.start" % (work, name)).read())
def stub_names(stub, first=0, last=1e9):
    names = []
    for line in open("%s/%s.log" % (work, stub)):
        at, _, asked = line.split()
        if first <= float(at) - start < last:
            names.append(asked)
    return names
def within(kind, first, last, seconds):
    chosen = [e for e in entries if e["kind"] == kind and first <= e["sent"] < last]
    share = sum(1 for e in chosen if e["latency"] is not None and e["latency"] <= seconds) / max(1, len(chosen))
    return share, len(chosen)
def check(what, ok, figure):
    print("%s: %s (%s)" % ("ok" if ok else "FAIL", what, figure))
$2
PY
    ) || result+=$'\nFAIL: the checks of '"$1"' did not all run'
    echo "$result"
    failures=$((failures + $(grep -c '^FAIL' <<<"$result")))
}

echo "--- dns1 silent, dns2 answers; then every upstream silent; then dnsmasq back"
start_running_server --forwarders 10.53.0.3,10.53.0.2 --record A,local.example,10.9.8.7,60
stop_at=31
resume_at=50
load timeline 80 &
load_pid=$!
sleep "$stop_at"
kill -STOP "$dnsmasq_pid"
sleep $((resume_at - stop_at))
kill -CONT "$dnsmasq_pid"
# What dnsmasq got while stopped: logged once it has answered past it.
wait_until 50 0.1 dig @10.53.0.2 +tries=1 +time=1 +short up.example >/dev/null && cp "$work/dnsmasq.log" "$work/stopped.log"
wait "$load_pid"
stop_server
judge timeline "
share, sent = within('forwarded', 1, $stop_at, 2.0)
check('dns1 silent: forwarded names answered within 2 s, >= 90 %', share >= 0.9, '%.0f %% of %d' % (100 * share, sent))
share, sent = within('local', 1, $stop_at, 1.0)
check('dns1 silent: local names answered within 1 s, >= 90 %', share >= 0.9, '%.0f %% of %d' % (100 * share, sent))
names = stub_names('silent', 0, $stop_at)
asked = len([n for n in names if n != '.'])
check('the silent dns1 got at most one query per 30 s', asked <= 2, '%d in $stop_at s' % asked)
check('and at most one health check per query', names.count('.') <= asked, '%d checks' % names.count('.'))
# Two queries, each waiting for both forwarders, make the outage known.
outage_known = $stop_at + 9
share, sent = within('local', outage_known, $resume_at, 1.0)
check('outage: local names answered within 1 s, >= 90 %', share >= 0.9, '%.0f %% of %d' % (100 * share, sent))
local = [e for e in entries if e['kind'] == 'local' and outage_known <= e['sent'] < $resume_at and e['latency']]
right = [e for e in local if e['rcode'] == 0 and e['answers'] == (1 if e['qtype'] == 1 else 0)]
check('outage: A answered, AAAA with the empty answer', len(right) == len(local) > 0, '%d of %d' % (len(right), len(local)))
# (A name sent in the last second may reach dnsmasq once it is back.)
sent_names = {e['name'] for e in entries if e['kind'] == 'forwarded' and outage_known <= e['sent'] < $resume_at - 1}
dnsmasq_names = [line.split()[-3] for line in open(work + '/dnsmasq.log') if 'query[' in line]
# A probe is a client's query or a health check. dnsmasq logs what it got while
# stopped only once continued, in the order it came: its health checks in the
# window are those after the last client name sent before it.
stopped = [line.split()[-3] for line in open(work + '/stopped.log') if 'query[' in line]
before = {e['name'] for e in entries if e['kind'] == 'forwarded' and e['sent'] < outage_known}
first = max(i for i, n in enumerate(stopped) if n in before)
asked = [len([n for n in stub_names('silent', outage_known, $resume_at) if n == '.']) +
         len([n for n in stub_names('silent') if n in sent_names]),
         stopped[first:].count('.') + len([n for n in dnsmasq_names if n in sent_names])]
bound = ($resume_at - outage_known) / 10 + 1
check('outage: each upstream got one probe per 10 s at most', max(asked) <= bound, '%s in %d s' % (asked, $resume_at - outage_known))
answered = [e for e in entries if e['kind'] == 'forwarded' and e['sent'] >= $resume_at and e['latency']]
back = answered[0]['sent'] - $resume_at if answered else 999
check('dnsmasq back, dns1 still silent: forwarded names answered again within 15 s', back <= 15, '%.1f s' % back)
latency = answered[0]['latency'] if answered else 999
check('the first of them without waiting for dns1 (< 1.5 s)', latency < 1.5, '%.2f s' % latency)
share, sent = within('forwarded', $resume_at + back + 1, 80, 2.0)
check('and from then on within 2 s, >= 90 %', share >= 0.9 and sent > 0, '%.0f %% of %d' % (100 * share, sent))
"

# A stop during the first of three silent attempts waits for that one alone,
# and nothing is sent after it.
echo "--- a stop while three silent forwarders are asked"
start_running_server --forwarders 10.53.0.3,10.53.0.3,10.53.0.3
dig @127.0.0.1 -p "$listen_port" +tries=1 +time=2 stop.example >/dev/null 9>&- &
background_pids+=($!)
wait_until 200 0.02 grep -q " stop.example$" "$work/silent.log"
stop_server
stop_ms=$(tr -d '\r' <"$work/server.out" | sed -n 's/^stop_ms=\([0-9]*\).*/\1/p')
check "the stop returned within 2 s (${stop_ms:-?} ms)" yes "$([ "${stop_ms:-9999}" -lt 2000 ] && echo yes || echo "no: $stop_ms ms")"
check "nothing was sent to the forwarders after the first attempt" stop.example \
    "$(sed -n '/ stop.example$/,$p' "$work/silent.log" | awk '{print $3}' | xargs)"

# Alone, each lost reply costs the whole time-out, and queries are handled one
# at a time: a forwarded name every second, not four, lets the server keep up.
echo "--- a forwarder that loses every third reply"
for forwarders in 10.53.0.4 10.53.0.4,10.53.0.2; do
    start_running_server --forwarders "$forwarders" --record A,local.example,10.9.8.7,60
    : >"$work/lossy.log"
    interval=$([ "$forwarders" = 10.53.0.4 ] && echo 1 || echo 0.25)
    load "lossy-$forwarders" 12 --forwarded-interval "$interval"
    stop_server
    judge "lossy-$forwarders" "
forwarded = [e for e in entries if e['kind'] == 'forwarded']
names = stub_names('lossy')
asked = sorted(n for n in names if n.startswith('q'))
summary = summarize('%s/%s.jsonl' % (work, name))
if '$forwarders' == '10.53.0.4':
    check('alone: it got each forwarded query once', asked == sorted(e['name'] for e in forwarded), '%d queries' % len(forwarded))
    answered_by_stub = {n for i, n in enumerate(names, 1) if i % 3}
    relayed = {e['name'] for e in forwarded if e['latency'] is not None}
    check('alone: every reply it gave was relayed', relayed == {n for n in answered_by_stub if n.startswith('q')}, '%d relayed' % len(relayed))
    check('alone: never two forwarded queries in a row unanswered', summary['forwarded']['most_unanswered_in_row'] <= 1, summary['forwarded'])
else:
    check('beside dnsmasq: it got no query twice', len(asked) == len(set(asked)), '%d queries' % len(asked))
    check('beside dnsmasq: every query answered', all(summary[k]['answered'] == summary[k]['sent'] for k in summary), summary)
"
done

echo "--- a dead name, asked A and AAAA at once, at 1 s and 6 s, with dnsmasq alone"
start_running_server --forwarders 10.53.0.2 --record A,local.example,10.9.8.7,60
load dead 17 --lookup dead.example --lookup-at 1,6
stop_server
judge dead "
share, sent = within('forwarded', 0, 17, 5.0)
check('dead name: other forwarded names answered within 5 s, >= 90 %', share >= 0.9, '%.0f %% of %d' % (100 * share, sent))
share, sent = within('forwarded', 11, 17, 1.0)
check('from 5 s after its last try within 1 s, >= 95 %', share >= 0.95, '%.0f %% of %d' % (100 * share, sent))
"

echo "--- a 3,000-byte reply to A and AAAA asked at once with EDNS"
start_running_server --forwarders 10.53.0.5 --record A,local.example,10.9.8.7,60
load big 8 --lookup big.example --lookup-at 1 --lookup-edns 4096
stop_server
judge big "
sizes = [e['size'] for e in entries if e['kind'] == 'lookup']
check('the 3,000-byte reply relayed whole, twice', sizes == [3000, 3000], sizes)
share, sent = within('forwarded', 1, 8, 1.0)
check('every following forwarded name answered within 1 s', share == 1 and sent > 0, '%.0f %% of %d' % (100 * share, sent))
"

# The link goes down at 4 s and comes back at 24 s; the load ends once
# forwarded names answer again, or at 64 s.
echo "--- a forwarder behind a 700 ms link, down for 20 s, a forwarded name a second"
start_running_server --forwarders 10.53.0.6 --record A,local.example,10.9.8.7,60
load slow 64 --forwarded-interval 1 --link-down "$work/link-down" 4 24
stop_server
judge slow "
share, sent = within('local', 12, 24, 1.0)
check('link down: local names answered within 1 s, >= 90 %', share >= 0.9, '%.0f %% of %d' % (100 * share, sent))
back = summarize('%s/slow.jsonl' % work, 24)['forwarded']['first_answer']
check('link back: forwarded names answered again within 40 s', back is not None and back <= 40, back)
"

finish_checks
