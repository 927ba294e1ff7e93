# Shared by the real-window tests (sourced): skips when Xvfb or xdotool is missing, points the
# sanitizer at libX11's own start-up leaks, and runs WORK/inside.sh against a virtual X server
# that is known to accept clients. On a failure it prints the program's output (WORK/out.txt)
# and the server's log, so a first run on a new machine says why it failed.

# xvfb_prepare SOURCE_DIR
xvfb_prepare() {
    export LSAN_OPTIONS="suppressions=$(cd "$1" && pwd)/tests/lsan_x11.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
    if ! command -v Xvfb > /dev/null || ! command -v xdotool > /dev/null; then
        echo "SKIP: Xvfb or xdotool is missing (install the xvfb and xdotool packages)"
        exit 0
    fi
}

# Starts Xvfb on a free display and waits until it accepts a client: -displayfd writes the
# display number only once the server listens, and an xdotool query proves a connection works.
# The first start on a new machine compiles the keymap and may take seconds, so the waits are
# generous. -noreset: by default the server resets when its last client leaves (here the probe),
# and a program connecting during that reset is refused ("No available video device", seen on
# a first run). Sets xvfb_pid and DISPLAY; returns 1 when the server did not come up.
xvfb_start() {
    local work=$1
    : > "$work/display"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3> "$work/display" > "$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    local _
    for _ in $(seq 600); do
        [ -s "$work/display" ] && grep -q '^[0-9]' "$work/display" && break
        kill -0 "$xvfb_pid" 2> /dev/null || return 1
        sleep 0.1
    done
    [ -s "$work/display" ] || return 1
    export DISPLAY=":$(head -n 1 "$work/display")"
    for _ in $(seq 300); do
        xdotool getdisplaygeometry > /dev/null 2>&1 && return 0
        sleep 0.1
    done
    return 1
}

xvfb_stop() {
    [ -n "${xvfb_pid:-}" ] || return 0
    kill "$xvfb_pid" 2> /dev/null
    wait "$xvfb_pid" 2> /dev/null
    xvfb_pid=
}

xvfb_report() {
    local work=$1
    echo "---- the program's output (out.txt):"
    cat "$work/out.txt" 2> /dev/null || echo "(none)"
    echo "---- the X server's log (DISPLAY=${DISPLAY:-unset}):"
    cat "$work/xvfb.log" 2> /dev/null || echo "(none)"
}

# xvfb_run_inside WORK ARGS...: runs WORK/inside.sh with ARGS on a fresh server (a server that
# does not come up is tried once more). Returns inside.sh's status.
xvfb_run_inside() {
    local work=$1 status attempt
    shift
    for attempt in 1 2; do
        if xvfb_start "$work"; then
            timeout 180 bash "$work/inside.sh" "$@"
            status=$?
            [ "$status" -eq 0 ] || xvfb_report "$work"
            xvfb_stop
            return $status
        fi
        echo "Xvfb did not start, attempt $attempt"
        xvfb_report "$work"
        xvfb_stop
    done
    return 1
}
