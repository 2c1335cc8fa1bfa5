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
