#!/usr/bin/env bash
# scripts/run as a newcomer meets it, without a display: in a fresh prefix it
# writes an example config.xml, the dig command it prints gets the example
# answer, and it saves a picture of the main window with the green lamp. The
# program itself rewrites that config.xml byte for byte (its own format).
# A second run leaves an existing config.xml alone. SIGTERM stops everything.
# Runs in a private network namespace (port 53). Usage: run_script.sh <build dir> windows
# windows-only
set -uo pipefail

build=$(cd "$1" && pwd)
platform="$2"
root=$(cd "$(dirname "$0")/../.." && pwd)

# shellcheck source=tests/e2e/lib.bash
. "$root/tests/e2e/lib.bash"

[ "$platform" = "windows" ] || { echo "scripts/run starts the Windows build"; exit 2; }
require_tools wine wineserver Xvfb xdotool import identify convert dig ss unshare
# scripts/run starts the program of the default Windows build.
[ "$build" = "$root/build/windows" ] || skip_or_fail "scripts/run uses $root/build/windows, not $build"
driver="$build/tests/tarnwick_window_driver.exe"
require_built "$build/ui/Tarnwick.exe" "$driver"

# Port 53 of a network namespace of our own: nothing else can hold it.
run_in_private_namespaces -n "$@"

prefix="$build/e2e-run-prefix"
data="$prefix/drive_c/users/$(whoami)/AppData/Local/Tarnwick"
screenshot="$build/run-window.png"
output="$build/e2e-run-output.txt"
rm -rf "$prefix" "$screenshot"
unset DISPLAY
run_pid=""

cleanup() {
    if [ -n "$run_pid" ]; then
        kill -TERM "$run_pid" 2>/dev/null
        wait "$run_pid" 2>/dev/null
    fi
    WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1
}
trap cleanup EXIT

fail() {
    echo "FAIL: $1"
    echo "--- scripts/run said:"
    cat "$output" 2>/dev/null
    exit 1
}

# Starts scripts/run and waits until it says that the program runs.
start_run() {
    "$root/scripts/run" --no-build --prefix "$prefix" >"$output" 2>&1 &
    run_pid=$!
    wait_until 1200 0.1 run_started_or_ended || fail "scripts/run did not start the program within 120 s"
    grep -q "^Tarnwick is running" "$output" || fail "scripts/run ended early"
}

run_started_or_ended() { grep -q "^Tarnwick is running" "$output" || process_ended "$run_pid"; }
port_53_free() { ! ss -Hlun 'sport = :53' | grep -q .; }

# SIGTERM (what Ctrl+C does) ends scripts/run, the program and its Wine.
stop_run() {
    kill -TERM "$run_pid"
    wait_for_exit "$run_pid" 300 || fail "scripts/run did not end within 30 s of SIGTERM"
    run_pid=""
    wait_until 100 0.1 port_53_free || fail "port 53 is still held after scripts/run ended"
}

start_run
grep -q "config.xml holds one example record" "$output" || fail "no word of the example record"
command=$(sed -n 's/^[[:space:]]*\(dig .*\)$/\1/p' "$output" | head -n 1)
[ -n "$command" ] || fail "no dig command printed"
echo "printed: $command"
# shellcheck disable=SC2086
answer=$($command 2>&1)
printf '%s\n' "$answer" | grep -Eq '^tarnwick\.test\.[[:space:]]+60[[:space:]]+IN[[:space:]]+A[[:space:]]+127\.0\.0\.1$' || {
    printf '%s\n' "$answer"
    fail "the printed dig command got no example answer"
}

grep -q "^Screenshot of the main window: $screenshot\$" "$output" || fail "no word of the screenshot"
[ "$(identify -format '%w %h' "$screenshot" 2>/dev/null)" = "696 90" ] || fail "$screenshot is not the 696 x 90 main window"
# The lamp's green, RGB(0, 180, 0): the window was painted with the server running.
colours=$(convert "$screenshot" -format %c histogram:info:- 2>&1)
grep -qi '#00B400' <<<"$colours" || fail "no green lamp in the screenshot"

# Save in DNS Settings writes the loaded settings back with the program's own
# writer: the bytes must not change.
cp "$data/config.xml" "$build/e2e-run-example.xml"
display=$(sed -n 's/^No display: the window is on a private Xvfb (\(:[0-9]*\))\.$/\1/p' "$output")
[ -n "$display" ] || fail "scripts/run did not name its display"
drive() {
    WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY="$display" wine "$driver" "$@"
}
drive press 1002 20000 || fail "no main window to press DNS Settings in"
drive --class DNS_Settings_Wnd press 2001 20000 || fail "the records editor did not open"
wait_until 100 0.1 grep -q "Settings saved (records)" "$data/dns.log" 2>/dev/null ||
    fail "the records editor did not save"
cmp "$build/e2e-run-example.xml" "$data/config.xml" || {
    diff "$build/e2e-run-example.xml" "$data/config.xml"
    fail "the program writes the example settings differently"
}
stop_run

# An existing config.xml (here with another address) is used as it is.
sed -i 's|<value>127.0.0.1</value>|<value>127.0.0.9</value>|' "$data/config.xml"
cp "$data/config.xml" "$build/e2e-run-own.xml"
start_run
grep -q "example record" "$output" && fail "the example was announced over an existing config.xml"
answers_own_record() {
    answer=$(dig @127.0.0.1 tarnwick.test A +short +time=1 +tries=1 2>&1)
    [ "$answer" = "127.0.0.9" ]
}
wait_until 30 0.5 answers_own_record || fail "the program did not answer from the existing config.xml (got '$answer')"
cmp "$build/e2e-run-own.xml" "$data/config.xml" || fail "the existing config.xml was changed"
stop_run
echo "run script end to end: ok"
