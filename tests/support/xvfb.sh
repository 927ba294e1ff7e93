# Shared by the real-window tests (sourced): skips when xvfb-run or xdotool is missing, points
# the sanitizer at libX11's own start-up leaks, and runs WORK/inside.sh under a virtual X server.
# inside.sh must create WORK/started first thing, so a server that failed to start is told
# apart from a failing test.

# xvfb_prepare SOURCE_DIR
xvfb_prepare() {
    export LSAN_OPTIONS="suppressions=$(cd "$1" && pwd)/tests/lsan_x11.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
    if ! command -v xvfb-run > /dev/null || ! command -v xdotool > /dev/null; then
        echo "SKIP: xvfb-run or xdotool is missing (install the xvfb and xdotool packages)"
        exit 0
    fi
}

# xvfb_run_inside WORK ARGS...: xvfb-run -a has been seen to fail once to open its display, so
# the start is retried once. Returns inside.sh's status.
xvfb_run_inside() {
    local work=$1 status attempt
    shift
    for attempt in 1 2; do
        rm -f "$work/started"
        timeout 90 xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/inside.sh" "$@"
        status=$?
        [ -f "$work/started" ] && return $status
        echo "xvfb-run did not start (status $status), attempt $attempt"
    done
    return 1
}
