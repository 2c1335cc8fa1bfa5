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

# --- The headless server on port 53 of a private network namespace, and real
# upstream servers in a second one. Set work (a scratch folder), build and
# platform first; cleanup_private_network ends all of it.

server_pid=""
upstream_ns_pid=""
background_pids=()

# Sets headless (the command) and data_base (the data folder base as the
# program names it) for the platform.
use_headless() {
    mkdir -p "$work/data"
    if [ "$platform" = windows ]; then
        require_tools wine
        headless=("$root/scripts/wine-run" "$build/bench/tarnwick_headless.exe")
        # A prefix of its own, so that its wineserver (which owns the sockets)
        # starts inside this network namespace.
        export TARNWICK_WINEPREFIX="$work/prefix"
        data_base="Z:${work//\//\\}\\data"
    else
        headless=("$build/bench/tarnwick_headless")
        data_base="$work/data"
    fi
    require_built "${headless[-1]}"
}

cleanup_private_network() {
    exec 9>&- 2>/dev/null
    local pid
    for pid in $server_pid "${background_pids[@]}" $upstream_ns_pid; do
        kill -CONT "$pid" 2>/dev/null
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    if [ "$platform" = windows ]; then
        WINEPREFIX="$work/prefix" wineserver -k 2>/dev/null
    fi
    rm -rf "$work"
}

# The upstream's namespace, joined to this one by a veth pair: 10.53.0.1 here,
# 10.53.0.2 to 10.53.0.4 there, and nowhere else.
make_upstream_namespace() {
    unshare -n sleep 600 &
    upstream_ns_pid=$!
    upstream_ns=(nsenter -t "$upstream_ns_pid" -n)
    for _ in $(seq 100); do
        [ "$(readlink /proc/$upstream_ns_pid/ns/net)" != "$(readlink /proc/$$/ns/net)" ] && break
        sleep 0.02
    done
    ip link add tw-server type veth peer name tw-upstream netns "$upstream_ns_pid" &&
        ip addr add 10.53.0.1/29 dev tw-server && ip link set tw-server up &&
        in_upstream ip link set lo up && in_upstream ip addr add 10.53.0.2/29 dev tw-upstream &&
        in_upstream ip addr add 10.53.0.3/29 dev tw-upstream && in_upstream ip addr add 10.53.0.4/29 dev tw-upstream &&
        in_upstream ip link set tw-upstream up || { echo "FAIL: no veth pair"; exit 1; }
}

# Runs a command in the upstream namespace. Started with &, $! is the command
# itself only when nsenter is called directly: "${upstream_ns[@]}" cmd &.
in_upstream() { nsenter -t "$upstream_ns_pid" -n "$@"; }

# dnsmasq on 10.53.0.2:53 in the upstream namespace, answering up.example and
# every name under it with 192.0.2.7 and logging each query to
# $work/dnsmasq.log; waits until it answers.
start_upstream_dnsmasq() {
    # nsenter runs dnsmasq in its own place, so $! is dnsmasq itself.
    "${upstream_ns[@]}" dnsmasq --keep-in-foreground --no-resolv --no-hosts -C /dev/null --pid-file= --user=root \
        --listen-address=10.53.0.2 --bind-interfaces --port=53 --address=/up.example/192.0.2.7 \
        --log-queries --log-facility="$work/dnsmasq.log" &
    dnsmasq_pid=$!
    background_pids+=("$dnsmasq_pid")
    for _ in $(seq 100); do
        dig @10.53.0.2 +tries=1 +time=1 +short up.example >/dev/null 2>&1 && break
        sleep 0.1
    done
    [ "$(dig @10.53.0.2 +tries=1 +time=2 +short up.example)" = 192.0.2.7 ] || { echo "FAIL: no upstream"; exit 1; }
}

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

# Ends the script with the count of failed checks.
finish_checks() {
    if [ "$failures" -ne 0 ]; then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "all checks passed"
}
