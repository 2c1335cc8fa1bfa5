#!/usr/bin/env bash
# Runs Tarnwick.exe under Wine, changes a record in its records editor by
# typing into the row's value box (the window driver sends the edit its
# characters one WM_CHAR each, as the keyboard does), saves, and checks with
# dig that the very next query gets the new answer. Runs in a network
# namespace of its own (port 53), with its own Wine prefix and X display.
# Usage: editor.sh <build dir> windows
# windows-only
set -uo pipefail

build="$(cd "$1" && pwd)"
platform="$2"
root="$(cd "$(dirname "$0")/../.." && pwd)"

# shellcheck source=tests/e2e/lib.bash
. "$root/tests/e2e/lib.bash"

[ "$platform" = "windows" ] || { echo "the records editor exists only in the Windows build"; exit 2; }
require_tools wine wineserver Xvfb dig unshare ip
exe="$build/ui/Tarnwick.exe"
driver="$build/tests/tarnwick_window_driver.exe"
require_built "$exe" "$driver"

# Port 53 of a network namespace of our own: nothing else can hold it.
run_in_private_namespaces -n "$@"

# shellcheck source=scripts/lib/xvfb.sh
. "$root/scripts/lib/xvfb.sh"
prefix="$build/e2e-editor-prefix"
name="editor-e2e.test"
program_pid=""

cleanup() {
    if [ -n "$program_pid" ]; then
        kill "$program_pid" 2>/dev/null
        wait "$program_pid" 2>/dev/null
    fi
    WINEPREFIX="$prefix" wineserver -k >/dev/null 2>&1
    xvfb_stop
}
trap cleanup EXIT

fail() {
    echo "FAIL: $1"
    if [ -n "${DISPLAY:-}" ] && command -v import >/dev/null; then
        import -window root "$build/e2e-editor-failure.png" 2>/dev/null && echo "screen saved to $build/e2e-editor-failure.png"
    fi
    exit 1
}

xvfb_start || fail "no X display"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
rm -rf "$prefix"
"$root/scripts/wine-prefix" "$prefix" || fail "could not create the Wine prefix"

# The data folder starts with one enabled A record in slot 0.
data="$prefix/drive_c/users/$(whoami)/AppData/Local/Tarnwick"
mkdir -p "$data"
cat >"$data/config.xml" <<XML
<?xml version="1.0" encoding="utf-8"?>
<config>
  <records>
    <record index="0">
      <enabled>1</enabled>
      <type>A</type>
      <name>$name</name>
      <value>192.0.2.1</value>
      <ttl>60</ttl>
    </record>
  </records>
</config>
XML

ask() {
    dig @127.0.0.1 -p 53 +short +time=2 +tries=1 "$name" A 2>/dev/null | head -n 1
}

drive() {
    wine "$driver" "$@"
}

wine "$exe" >/dev/null 2>&1 &
program_pid=$!
drive wait 60000 || fail "the main window did not appear"
wait_until 300 0.1 grep -q "DNS server started on UDP/53" "$data/dns.log" 2>/dev/null
answer=$(ask)
[ "$answer" = "192.0.2.1" ] || fail "the running program did not answer $name from config.xml (got '$answer')"

# "DNS Settings" (1002) opens the records editor. Its edits in reading order
# are row 0's name, value and TTL, then row 1's, and so on.
drive press 1002 || fail "no main window to press DNS Settings in"
typed=$(drive --class DNS_Settings_Wnd type 1 "192.0.2.99." 20000 | tr -d '\r') ||
    fail "the records editor did not open, or has no value box in row 0"
[ "$typed" = "192.0.2.99." ] || fail "the value box holds '$typed' after typing 192.0.2.99."
# Save (2001) writes config.xml and closes the editor.
drive --class DNS_Settings_Wnd press 2001 || fail "the records editor is gone before Save"
drive --class DNS_Settings_Wnd gone 20000 || fail "Save did not close the records editor"

answer=$(ask)
[ "$answer" = "192.0.2.99" ] || fail "the first query after Save got '$answer', expected 192.0.2.99"
grep -q "<value>192.0.2.99</value>" "$data/config.xml" || fail "config.xml does not hold the new value (trailing dot removed)"
grep -q "Settings saved (records)" "$data/dns.log" || fail "dns.log has no save line"
echo "ok: the edited record answers the next query"
exit 0
