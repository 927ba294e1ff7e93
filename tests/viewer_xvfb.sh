#!/usr/bin/env bash
# The viewer in a real window under a virtual X server: clicks on a pack card, on the lower half
# of the start choice and, once the first surface shows, on the exit button; the program ends
# with status 0 and has written Evergreen.sav.
set -u
build=$1
source_dir=$2
exe=$(cd "$build" && pwd)/evergreen
source "$source_dir/tests/support/xvfb.sh"
xvfb_prepare "$source_dir"
work=$(mktemp -d)
trap 'xvfb_stop; rm -rf "$work"' EXIT
"$(dirname "$exe")/evgpack" demo -o "$work/Default.evg" --count 8 > /dev/null || { echo "FAIL: evgpack demo"; exit 1; }

cat > "$work/inside.sh" <<'INSIDE'
set -u
exe=$1
cd "$(dirname "$0")"
fail() { echo "FAIL: $*"; kill "$pid" 2> /dev/null; exit 1; }
size() { xdotool getwindowgeometry "$wid" | awk '/Geometry/ {print $2}'; }
"$exe" --record rec.txt . > out.txt 2>&1 &
pid=$!
wid=$(timeout 60 xdotool search --sync --name '^evergreen$' | head -n 1)
[ -n "$wid" ] || fail "no window named evergreen"
for _ in $(seq 100); do [ "$(size)" = "240x320" ] && break; sleep 0.1; done
# Each click waits until the recording shows it arrived, then gives the screen time to change.
click() {
    local before
    before=$(grep -c " up$" rec.txt 2> /dev/null || true)
    xdotool mousemove --window "$wid" "$1" "$2" click 1
    for _ in $(seq 100); do [ "$(grep -c " up$" rec.txt 2> /dev/null || true)" -gt "$before" ] && break; sleep 0.1; done
    sleep "$3"
}
click 60 110 1     # card 0
click 120 175 2    # lower half of the start choice: a random first picture
click 120 308 1    # the exit button, once the first surface is up
for _ in $(seq 100); do kill -0 "$pid" 2> /dev/null || break; sleep 0.1; done
kill -0 "$pid" 2> /dev/null && fail "the exit button did not end the program"
wait "$pid"
status=$?
[ "$status" -eq 0 ] || fail "exit status $status"
[ "$(stat -c %s Evergreen.sav 2> /dev/null)" = "50944" ] || fail "no 50944-byte Evergreen.sav"
echo "viewer under X: card, start choice and exit button worked"
INSIDE

xvfb_run_inside "$work" "$exe"
