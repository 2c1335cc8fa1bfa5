# Shared by the end-to-end scripts (sourced, not run).

# A test that cannot run here is skipped (exit 77, which ctest shows as
# skipped), except in CI, where everything must run.
skip_or_fail() {
    if [ "${CI:-}" = "true" ]; then
        echo "FAIL (cannot skip in CI): $*"
        exit 1
    fi
    echo "skipped: $*"
    exit 77
}

require_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || skip_or_fail "$tool is not installed"
    done
}

require_built() {
    local file
    for file in "$@"; do
        [ -e "$file" ] || { echo "FAIL: $file was not built"; exit 1; }
    done
}

# Counts a failed comparison in failures and goes on.
check() {
    local what="$1" expected="$2" actual="$3"
    if [ "$expected" = "$actual" ]; then
        echo "ok: $what"
    else
        echo "FAIL: $what: expected [$expected], got [$actual]"
        failures=$((failures + 1))
    fi
}

# Runs the command until it succeeds, at most tries times, pause seconds apart;
# false when it never did. Usage: wait_until TRIES PAUSE COMMAND...
wait_until() {
    local tries="$1" pause="$2" _
    shift 2
    for _ in $(seq "$tries"); do
        "$@" && return 0
        sleep "$pause"
    done
    return 1
}

process_ended() { ! kill -0 "$1" 2>/dev/null; }

# Waits up to tries tenths of a second for a child of this shell to end and
# puts its exit status into exit_status; false (exit_status empty) when it is
# still running.
wait_for_exit() {
    exit_status=""
    wait_until "$2" 0.1 process_ended "$1" || return 1
    wait "$1"
    exit_status=$?
}

# Runs the calling script again in namespaces of its own (unshare's flags in
# the first argument, the script's arguments after it), so that port 53 there
# is free whatever the machine runs, then brings up loopback.
run_in_private_namespaces() {
    local flags="$1"
    shift
    if [ -z "${TARNWICK_E2E_NAMESPACES:-}" ]; then
        [ "$(id -u)" = 0 ] || skip_or_fail "needs root (network namespace, port 53)"
        # shellcheck disable=SC2086
        unshare $flags true 2>/dev/null || skip_or_fail "cannot create namespaces ($flags)"
        # shellcheck disable=SC2086
        TARNWICK_E2E_NAMESPACES=1 exec unshare $flags bash "$0" "$@"
    fi
    ip link set lo up
}

# --- The headless server, and real upstream servers in a network namespace of
# their own. Set work (a scratch folder), build, platform and failures first;
# e2e_cleanup ends all of it.

server_pid=""
upstream_ns_pid=""
background_pids=()

# Sets headless (the command) and data_base (the data folder base as the
# program names it) for the platform. With "own-prefix" the Windows build runs
# in a Wine prefix of its own, so that its wineserver (which owns the sockets)
# starts inside this script's network namespace.
use_headless() {
    mkdir -p "$work/data"
    if [ "$platform" = windows ]; then
        require_tools wine
        headless=("$root/scripts/wine-run" "$build/bench/tarnwick_headless.exe")
        [ "${1:-}" = own-prefix ] && export TARNWICK_WINEPREFIX="$work/prefix"
        data_base="Z:${work//\//\\}\\data"
    else
        headless=("$build/bench/tarnwick_headless")
        data_base="$work/data"
    fi
    require_built "${headless[-1]}"
}

e2e_cleanup() {
    exec 9>&- 2>/dev/null
    local pid
    for pid in $server_pid "${background_pids[@]}" $upstream_ns_pid; do
        kill -CONT "$pid" 2>/dev/null
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    if [ -d "$work/prefix" ]; then
        WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null
    fi
    rm -rf "$work"
}

# The upstream's namespace, joined to this one by a veth pair: 10.53.0.1 here,
# 10.53.0.2 to 10.53.0.6 there, and nowhere else.
make_upstream_namespace() {
    unshare -n sleep 600 &
    upstream_ns_pid=$!
    upstream_ns=(nsenter -t "$upstream_ns_pid" -n)
    wait_until 100 0.02 in_other_namespace "$upstream_ns_pid"
    ip link add tw-server type veth peer name tw-upstream netns "$upstream_ns_pid" &&
        ip addr add 10.53.0.1/29 dev tw-server && ip link set tw-server up &&
        in_upstream ip link set lo up && in_upstream ip link set tw-upstream up || { echo "FAIL: no veth pair"; exit 1; }
    local host
    for host in 2 3 4 5 6; do
        in_upstream ip addr add "10.53.0.$host/29" dev tw-upstream || { echo "FAIL: no 10.53.0.$host"; exit 1; }
    done
}

# Runs a command in the upstream namespace. Started with &, $! is the command
# itself only when nsenter is called directly: "${upstream_ns[@]}" cmd &.
in_upstream() { nsenter -t "$upstream_ns_pid" -n "$@"; }

in_other_namespace() { [ "$(readlink "/proc/$1/ns/net")" != "$(readlink /proc/$$/ns/net)" ]; }

# dnsmasq on 10.53.0.2:53 in the upstream namespace, answering up.example and
# every name under it with 192.0.2.7 and 2001:db8::7 and logging each query to
# $work/dnsmasq.log (the root name as "."), with further dnsmasq options from
# the array upstream_dnsmasq_options; waits until it answers.
upstream_dnsmasq_options=()
start_upstream_dnsmasq() {
    # nsenter runs dnsmasq in its own place, so $! is dnsmasq itself.
    "${upstream_ns[@]}" dnsmasq --keep-in-foreground --no-resolv --no-hosts -C /dev/null --pid-file= --user=root \
        --listen-address=10.53.0.2 --bind-interfaces --port=53 --address=/up.example/192.0.2.7 --address=/up.example/2001:db8::7 \
        --log-queries --log-facility="$work/dnsmasq.log" "${upstream_dnsmasq_options[@]}" &
    dnsmasq_pid=$!
    background_pids+=("$dnsmasq_pid")
    wait_until 100 0.1 dig @10.53.0.2 +tries=1 +time=1 +short up.example >/dev/null 2>&1
    [ "$(dig @10.53.0.2 +tries=1 +time=2 +short up.example)" = 192.0.2.7 ] || { echo "FAIL: no upstream"; exit 1; }
}

server_started_or_ended() { grep -q "^started" "$work/server.out" || process_ended "$server_pid"; }

# Starts the headless server with the given options. Returns 0 once it has
# bound its socket (its port is then in listen_port), 2 when it ended instead
# (its exit status is then in server_status).
start_server() {
    rm -f "$work/in"
    mkfifo "$work/in"
    : >"$work/server.out"
    "${headless[@]}" --data-folder-base "$data_base" "$@" <"$work/in" >"$work/server.out" 2>&1 &
    server_pid=$!
    exec 9>"$work/in"
    if ! wait_until 1200 0.05 server_started_or_ended; then
        echo "FAIL: server did not start"
        cat "$work/server.out"
        exit 1
    fi
    if grep -q "^started" "$work/server.out"; then
        listen_port=$(tr -d '\r' <"$work/server.out" | sed -n 's/^port=\([0-9]*\)$/\1/p')
        return 0
    fi
    wait "$server_pid"
    server_status=$?
    server_pid=""
    exec 9>&-
    return 2
}

# Starts the server with the given options, or ends the script.
start_running_server() {
    start_server "$@" || { echo "FAIL: server ended at start:"; cat "$work/server.out"; exit 1; }
}

stop_server() {
    exec 9>&-
    wait "$server_pid"
    check "server exits cleanly when its input closes" 0 $?
    server_pid=""
}

more_stats_than() { [ "$(grep -c "^requests=" "$work/server.out")" -gt "$1" ]; }

# The running server's request counter, asked on its standard input.
requests() {
    local lines
    lines=$(grep -c "^requests=" "$work/server.out")
    echo stats >&9
    wait_until 200 0.05 more_stats_than "$lines"
    grep "^requests=" "$work/server.out" | tail -n 1 | sed 's/^requests=\([0-9]*\).*/\1/'
}

requests_reach() { [ "$(requests)" -ge "$1" ]; }

# Everything a test in private namespaces starts from: the script runs again
# inside them (unshare's flags first, then the script's arguments: the build
# folder and the platform), with a scratch folder, the headless server in a
# prefix of its own and dnsmasq upstream.
begin_private_network_test() {
    run_in_private_namespaces "$@"
    build=$(cd "$2" && pwd)
    platform="$3"
    work=$(mktemp -d)
    failures=0
    trap e2e_cleanup EXIT
    use_headless own-prefix
    make_upstream_namespace
    start_upstream_dnsmasq
}

# Ends the script with the count of failed checks.
finish_checks() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "all checks passed"
}
