#!/usr/bin/env bash
# The real window under a virtual 1920 x 1080 X server: it opens doubled (85% of the desktop),
# resizes snap to 1:1 and 3x, clicks at 3x and in full screen (F11: 3x centred) reach the pen in
# device pixels (seen in the recording), Return leaves the window where it is, Alt+Return ends
# the full screen, and Escape ends the program with status 0.
# Skipped when Xvfb or xdotool is missing; on a failure the program's and the server's output
# are printed, so a first run on a new machine says why it failed.
set -u
build=$1
source_dir=$2
exe=$(cd "$build" && pwd)/evergreen
if ! command -v Xvfb > /dev/null || ! command -v xdotool > /dev/null; then
    echo "SKIP: Xvfb or xdotool is missing (install the xvfb and xdotool packages)"
    exit 0
fi
export LSAN_OPTIONS="suppressions=$(cd "$source_dir" && pwd)/tests/lsan_x11.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
work=$(mktemp -d)
xvfb_pid=
stop_server() { [ -n "$xvfb_pid" ] && { kill "$xvfb_pid" 2> /dev/null; wait "$xvfb_pid" 2> /dev/null; }; xvfb_pid=; }
trap 'stop_server; rm -rf "$work"' EXIT
report() { echo "---- out.txt:"; cat "$work/out.txt" 2> /dev/null; echo "---- Xvfb log:"; cat "$work/xvfb.log" 2> /dev/null; }

# -displayfd writes the display number only once the server listens, and an xdotool query
# proves a client can connect (the first start on a new machine compiles the keymap and may take
# seconds). -noreset: by default the server resets when its last client (the probe) leaves, and a
# program connecting during that reset is refused ("No available video device").
start_server() {
    : > "$work/display"
    Xvfb -displayfd 3 -screen 0 1920x1080x24 -nolisten tcp -noreset 3> "$work/display" > "$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 600); do
        grep -q '^[0-9]' "$work/display" && break
        kill -0 "$xvfb_pid" 2> /dev/null || return 1
        sleep 0.1
    done
    export DISPLAY=":$(head -n 1 "$work/display")"
    for _ in $(seq 300); do xdotool getdisplaygeometry > /dev/null 2>&1 && return 0; sleep 0.1; done
    return 1
}

cat > "$work/inside.sh" <<'INSIDE'
set -u
exe=$1
cd "$(dirname "$0")"
# A pack keeps the viewer on its menu, where a click at (100, 50) touches no card.
"$(dirname "$exe")/evgpack" demo -o Default.evg --count 4 > /dev/null
fail() { echo "FAIL: $*"; kill "$pid" 2> /dev/null; exit 1; }
# Polls a condition for up to 10 s; X requests are asynchronous.
wait_for() {
    for _ in $(seq 100); do eval "$1" && return 0; sleep 0.1; done
    return 1
}
size() { xdotool getwindowgeometry "$wid" | awk '/Geometry/ {print $2}'; }
position() { xdotool getwindowgeometry "$wid" | awk '/Position/ {print $2}'; }

"$exe" --fps 1000 --record rec.txt > out.txt 2>&1 &
pid=$!
wid=$(timeout 60 xdotool search --sync --name '^evergreen$' | head -n 1)
[ -n "$wid" ] || fail "no window named evergreen"
wait_for '[ "$(size)" = "480x640" ]' || fail "client area $(size), expected 480x640"

xdotool windowsize "$wid" 300 700
wait_for '[ "$(size)" = "240x320" ]' || fail "resize to 300 wide gave $(size)"
xdotool windowsize "$wid" 1000 1000
wait_for '[ "$(size)" = "720x960" ]' || fail "resize to 1000 x 1000 gave $(size)"

xdotool mousemove --window "$wid" 302 152 click 1
wait_for 'grep -q " up$" rec.txt' || fail "click not recorded: $(cat rec.txt)"
grep -q " move 100 50$" rec.txt || fail "pen position not recorded: $(cat rec.txt)"
grep -q " down$" rec.txt || fail "press not recorded"

before=$(position)
xdotool key Return
wait_for 'grep -q " key return up$" rec.txt' || fail "Return not recorded"
[ "$(position) $(size)" = "$before 720x960" ] || fail "Return moved the window to $(position), $(size)"

xdotool key F11
wait_for '[ "$(size)" = "1920x1080" ]' || fail "F11 gave $(size)"
xdotool mousemove 632 962 click 1  # the screen's corner is at (600, 60)
wait_for 'grep -q " move 10 300$" rec.txt' || fail "full-screen click: $(tail -n 4 rec.txt)"
xdotool key alt+Return
wait_for '[ "$(size)" = "720x960" ]' || fail "Alt+Return gave $(size)"

# Without a window manager the keyboard follows the pointer: put it back over the window.
xdotool mousemove --window "$wid" 10 10 key Escape
for _ in $(seq 100); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
kill -0 "$pid" 2> /dev/null && fail "Escape did not end the program"
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "Escape: exit status $status"
grep -q " key escape down$" rec.txt || fail "Escape not recorded"
echo "xvfb smoke test passed"
INSIDE

# xvfb-run style servers have been seen to fail once and then work: a server that does not come
# up is tried once more.
for attempt in 1 2; do
    if start_server; then
        timeout 180 bash "$work/inside.sh" "$exe"
        status=$?
        [ "$status" -eq 0 ] || report
        exit $status
    fi
    echo "Xvfb did not start, attempt $attempt"
    report
    stop_server
done
exit 1
