# shellcheck shell=bash
# A private X server for scripts that show Wine windows where there may be no
# display. Source this file, then:
#   xvfb_start [SCREEN]   starts Xvfb on a display number it picks itself,
#                         exports DISPLAY and sets xvfb_pid; SCREEN is
#                         WIDTHxHEIGHTxDEPTH (default 1280x1024x24)
#   xvfb_stop             ends that Xvfb by its PID (safe to call twice)
# Both return non-zero on failure and never end the calling script.

xvfb_pid=""

xvfb_start() {
    local screen="${1:-1280x1024x24}" display_file
    display_file=$(mktemp) || return 1
    # Xvfb writes the display number to descriptor 3 once it accepts clients.
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$display_file" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 300); do
        [ -s "$display_file" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    if [ ! -s "$display_file" ]; then
        echo "Xvfb did not start" >&2
        rm -f "$display_file"
        xvfb_stop
        return 1
    fi
    DISPLAY=":$(cat "$display_file")"
    export DISPLAY
    rm -f "$display_file"
}

xvfb_stop() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null || true
        wait "$xvfb_pid" 2>/dev/null || true
        xvfb_pid=""
    fi
}
