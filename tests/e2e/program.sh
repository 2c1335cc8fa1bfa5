#!/usr/bin/env bash
# The whole windowed program under Wine: Tarnwick.exe starts with a prepared
# config.xml, answers a real dig on UDP port 53 from a local record, is closed
# through its main window and must exit with code 0, leaving the start, the
# query and the stop in dns.log. Runs in a network namespace of its own (port
# 53) with its own X display. Usage: program.sh <build dir> windows
# windows-only
set -uo pipefail

build=$(cd "$1" && pwd)
platform="$2"
root=$(cd "$(dirname "$0")/../.." && pwd)

if [ "$platform" != windows ]; then
    echo "the windowed program exists only in the Windows build"
    exit 2
fi

# shellcheck source=tests/e2e/lib.bash
. "$root/tests/e2e/lib.bash"
exe="$build/ui/Tarnwick.exe"
driver="$build/tests/tarnwick_window_driver.exe"
require_built "$exe" "$driver"
run_in_private_namespaces -n "$@"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# A GUI program (no console window) that carries no resources at all.
headers=$(x86_64-w64-mingw32-objdump -h -p "$exe")
grep -Eq '^Subsystem[[:space:]]+00000002' <<<"$headers" || fail "Tarnwick.exe is not a GUI program"
grep -Eq '^[[:space:]]+[0-9]+[[:space:]]+\.rsrc[[:space:]]' <<<"$headers" && fail "Tarnwick.exe has a resource section"
grep -Eq 'Entry 2 0+ 0+ Resource Directory' <<<"$headers" || fail "Tarnwick.exe has resources"

export WINEPREFIX="$build/e2e-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$root/scripts/wine-prefix" "$WINEPREFIX"

# shellcheck source=scripts/lib/xvfb.sh
. "$root/scripts/lib/xvfb.sh"
program_pid=""
cleanup() {
    if [ -n "$program_pid" ] && kill -0 "$program_pid" 2>/dev/null; then
        kill "$program_pid" 2>/dev/null || true
    fi
    wineserver -k >/dev/null 2>&1 || true
    xvfb_stop
}
trap cleanup EXIT

xvfb_start || { echo "FAIL: no X display"; exit 1; }

# The program's data folder is the prefix user's local application data.
user=$(whoami)
data="$WINEPREFIX/drive_c/users/$user/AppData/Local/Tarnwick"
mkdir -p "$data"
rm -f "$data/dns.log"
{
    printf '<?xml version="1.0" encoding="utf-8"?>\n<config>\n  <forwarding>\n'
    printf '    <dns1></dns1>\n    <dns2></dns2>\n    <dns3></dns3>\n  </forwarding>\n  <records>\n'
    for i in $(seq 0 19); do
        enabled=0 type=A name="" value="" ttl=60
        if [ "$i" = 3 ]; then
            enabled=1 name="e2e.tarnwick.test" value="192.0.2.77" ttl=321
        fi
        printf '    <record index="%s">\n      <enabled>%s</enabled>\n      <type>%s</type>\n' "$i" "$enabled" "$type"
        printf '      <name>%s</name>\n      <value>%s</value>\n      <ttl>%s</ttl>\n    </record>\n' "$name" "$value" "$ttl"
    done
    printf '  </records>\n</config>\n'
} >"$data/config.xml"

log="$data/dns.log"
wine "$exe" &
program_pid=$!

if ! wine "$driver" wait 30000; then
    fail "the main window did not appear"
fi
wait_until 300 0.1 grep -q "DNS server started on UDP/53" "$log" 2>/dev/null || fail "no start line in dns.log"

answer=$(dig @127.0.0.1 -p 53 e2e.tarnwick.test A +tries=2 +timeout=2 +noall +answer 2>&1)
echo "dig: $answer"
if ! printf '%s\n' "$answer" | grep -Eq '^e2e\.tarnwick\.test\.[[:space:]]+321[[:space:]]+IN[[:space:]]+A[[:space:]]+192\.0\.2\.77$'; then
    fail "dig did not get the local record"
fi
grep -q "Q from 127.0.0.1 name=e2e.tarnwick.test type=1" "$log" 2>/dev/null || fail "no query line in dns.log"

wine "$driver" close 10000 || fail "the main window was gone before it was closed"
if ! wait_for_exit "$program_pid" 300; then
    fail "Tarnwick.exe did not end within 30 s of closing its window"
elif [ "$exit_status" != 0 ]; then
    fail "Tarnwick.exe exited with code $exit_status"
fi
program_pid=""
grep -q "DNS server stopped" "$log" 2>/dev/null || fail "no stop line in dns.log"

echo "--- dns.log"
cat "$log" 2>/dev/null
if [ "$failures" -ne 0 ]; then
    exit 1
fi
echo "program end to end: ok"
