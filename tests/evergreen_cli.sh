#!/usr/bin/env bash
# The evergreen command line, headless: a replayed tap and shot, exit status 0 on Escape and on
# the close button, status 2 with the line number for a malformed script, recording, options.
set -u
build=$1
exe=$(cd "$build" && pwd)/evergreen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# A pack keeps the viewer on its menu (an empty folder would show the no-pack screen, which
# ends on the first tap).
"$(dirname "$exe")/evgpack" demo -o Default.evg --count 4 > /dev/null || { echo "FAIL: evgpack demo"; exit 1; }
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Width and height from a PNG's IHDR chunk.
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $3*256+$4 "x" $7*256+$8}'; }

run() { timeout 20 "$exe" "$@"; }

cat > tap.txt <<'SCRIPT'
# tap, take a shot of the next frame, leave with Escape
3 tap 120 160
4 shot shot.png
6 key escape down
SCRIPT
run --headless --fps 1000 --replay tap.txt > out.txt 2> err.txt <&- || fail "Escape in a replay: status $?"  # stdin closed: files open as fd 0
[ "$(png_size shot.png 2> /dev/null)" = "240x320" ] || fail "shot is $(png_size shot.png 2>&1)"
grep -qx "Loading..." out.txt || fail "no Loading... line"

printf '1 move 1 1\n\n2 key enter down\n' > bad.txt
run --headless --replay bad.txt > out.txt 2> err.txt
[ $? -eq 2 ] && grep -q "bad.txt:3: key name" err.txt || fail "malformed script: $(cat err.txt)"
grep -q "Loading" out.txt && fail "a window was opened for a malformed script"
run --headless --replay tap.txt --record no-such-folder/rec.txt > out.txt 2> err.txt
[ $? -eq 2 ] && grep -q "cannot write no-such-folder/rec.txt" err.txt || fail "unwritable --record: $(cat err.txt)"

printf '2 close\n' > close.txt
run --headless --fps 1000 --replay close.txt > /dev/null || fail "close button: status $?"
# "--" ends the options; a folder path far longer than 260 bytes is taken.
long="-Dash/$(printf 'd%.0s' {1..200})/$(printf 'e%.0s' {1..200})"
mkdir -p -- "$long"
cp -- Default.evg "$long/" || fail "copy into the long folder"
run --headless --fps 1000 --replay close.txt -- "$long" > out.txt 2>&1 || fail "-- and a long path: status $?, $(cat out.txt)"

# --record writes the replayed input in device pixels at any scale (format: test_replay.cpp).
printf '2 tap 10 20\n5 key escape down\n' > session.txt
run --headless --scale 3 --fps 1000 --replay session.txt --record rec.txt > /dev/null
grep -qx "2 move 10 20" rec.txt && grep -qx "5 key escape down" rec.txt || fail "recording: $(cat rec.txt)"

SDL_VIDEODRIVER=no-such-driver run > out.txt 2>&1
[ $? -eq 1 ] && grep -q "^Unable to init SDL: " out.txt || fail "SDL failure: $(cat out.txt)"

# Paths that are neither folder nor pack, and no display without --headless: one line, status
# 1, no window (no "Loading..."). SDL 1.2 would otherwise draw into the terminal in text mode.
one_line_error() {
    local expected=$1
    shift
    "$@" > out.txt 2> err.txt
    status=$?
    [ "$status" -eq 1 ] && [ "$(wc -l < err.txt)" -eq 1 ] && grep -q "$expected" err.txt && [ ! -s out.txt ] \
        || fail "$*: status $status, $(cat err.txt out.txt)"
}
one_line_error "no-such-folder: no such folder or pack" run --headless "$work/no-such-folder"
one_line_error "tap.txt: neither a folder nor an image pack" run --headless tap.txt
printf 'notes\n' > notes.evg
one_line_error "notes.evg: not an image pack (the file ends inside its tables)" run --headless notes.evg
one_line_error "DISPLAY is not set); use --headless" env -u DISPLAY -u SDL_VIDEODRIVER timeout 20 "$exe"
one_line_error "cannot open the display :9876; use --headless" env -u SDL_VIDEODRIVER DISPLAY=:9876 timeout 20 "$exe"

# A pack on the command line: its folder is used and it is chosen, so the first tap lands on
# the start choice (lower half: random) and the exit button saves into the pack's folder.
mkdir sub
cp Default.evg sub/Trip.evg
printf '3 tap 120 175\n300 tap 120 308\n' > open.txt
run --headless --fps 1000 --replay open.txt sub/Trip.evg > out.txt 2>&1 <&-  # stdin closed: files open as fd 0
status=$?
[ "$status" -eq 0 ] && [ "$(stat -c %s sub/Evergreen.sav 2> /dev/null)" = "50944" ] \
    || fail "pack on the command line: status $status, $(ls sub)"
# A pack whose header is there but whose tables are cut short: its message at once (no start
# choice), then status 1 and one line, also when the message is dismissed with Escape.
head -c 5000 Default.evg > sub/Cut.evg
printf '5 key escape down\n' > escape.txt
run --headless --fps 1000 --replay escape.txt sub/Cut.evg > out.txt 2> err.txt
status=$?
[ "$status" -eq 1 ] && [ "$(cat err.txt)" = "evergreen: sub/Cut.evg: invalid image pack (the file ends inside its tables)" ] \
    || fail "broken pack on the command line: status $status, $(cat err.txt)"

# A folder of photos without a pack: a tap on the offer builds Trip/Trip.evg (polled, then the
# viewer is stopped); Escape during the build (60 photos take seconds) leaves no file; a folder
# of text files named .jpg is offered nothing.
"$(dirname "$exe")/evgpack" demo -o photos.evg --count 60 > /dev/null
"$(dirname "$exe")/evgpack" extract photos.evg Trip > /dev/null
cp -r Trip Cancel
mkdir Empty
echo "not a photo" > Empty/a.jpg
cp Empty/a.jpg Empty/b.jpg
printf '3 tap 120 200\n' > offer.txt
timeout 300 "$exe" --headless --fps 1000 --replay offer.txt Trip > out.txt 2>&1 &
viewer=$!
for _ in $(seq 1200); do [ -f Trip/Trip.evg ] && break; sleep 0.25; done
sleep 1
kill "$viewer" 2> /dev/null
wait "$viewer" 2> /dev/null
verified=$("$(dirname "$exe")/evgpack" verify Trip/Trip.evg 2>&1)
grep -q "OK, 60 pictures decode" <<<"$verified" \
    || fail "pack from a photo folder: $verified / $(ls -l Trip | grep -v '\.jpg$') / $(tail -3 out.txt)"
printf '3 tap 120 200\n5 key escape down\n' > cancel.txt
run --headless --replay cancel.txt Cancel > out.txt 2>&1
status=$?
[ "$status" -eq 0 ] && grep -q "build cancelled" out.txt && [ -z "$(ls Cancel | grep -v '\.jpg$')" ] || fail "cancelled build: status $status, $(ls Cancel)"
run --headless --fps 1000 --replay offer.txt Empty > out.txt 2>&1
status=$?
[ "$status" -eq 0 ] && [ "$(ls Empty | tr '\n' ' ')" = "a.jpg b.jpg " ] || fail "text named .jpg: status $status, $(ls Empty)"
# A build that fails (JPEG magic, no picture) ends with status 1, also when its message is
# dismissed with Escape; a folder where nothing can be written offers no build at all.
mkdir Bad ReadOnly
printf '\377\330\377\340 not a picture' > Bad/a.jpg
cp Bad/a.jpg Bad/b.jpg
cp Trip/0000.jpg Trip/0001.jpg ReadOnly/
printf '3 tap 120 200\n3000 key escape down\n' > failed.txt
timeout 120 "$exe" --headless --fps 1000 --replay failed.txt Bad > out.txt 2>&1
status=$?
[ "$status" -eq 1 ] && grep -q "evgpack: " out.txt || fail "failed build: status $status, $(cat out.txt)"
# A dangling link where the pack would go is reported, not followed out of the folder.
mkdir Linked
cp Trip/0000.jpg Trip/0001.jpg Linked/
ln -s "$work/elsewhere.evg" Linked/Linked.evg
timeout 120 "$exe" --headless --fps 1000 --replay failed.txt Linked > out.txt 2>&1
status=$?
[ "$status" -eq 1 ] && grep -q "Linked.evg is a symbolic link" out.txt && [ ! -e elsewhere.evg ] \
    || fail "dangling link as the pack: status $status, $(cat out.txt)"
chmod 755 "$work"
chmod 555 ReadOnly
as_user=()
[ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
timeout 20 "${as_user[@]}" "$exe" --headless --fps 1000 --replay offer.txt ReadOnly > out.txt 2>&1
status=$?
[ "$status" -eq 0 ] && ! grep -q "evgpack" out.txt && [ -z "$(ls ReadOnly | grep -v '\.jpg$')" ] \
    || fail "read-only folder: status $status, $(cat out.txt)"
chmod 755 ReadOnly

# Where packs are looked for, HOME being a scratch folder: the folder given, else the current one
# (packs, photos or nothing), but in the home folder itself the data home (made with the demo
# pack), as with --library; its no-pack offer packs the pictures folder into the data home.
home=$work/home
data=$home/share/evergreen
mkdir -p "$home/packs" "$home/photos" "$home/empty" "$home/Bilder" "$home/.config"
cp Default.evg "$home/packs/"
cp Trip/0000.jpg Trip/0001.jpg "$home/photos/"
cp Trip/0000.jpg Trip/0001.jpg "$home/Bilder/"
echo 'XDG_PICTURES_DIR="$HOME/Bilder"' > "$home/.config/user-dirs.dirs"
in_home() { (cd "$home/$1" && shift && HOME=$home XDG_DATA_HOME=$home/share XDG_CONFIG_HOME= exec timeout 120 "$exe" --headless --fps 1000 "$@"); }
for case in packs photos empty ". photos"; do
    in_home $case --replay "$work/close.txt" > out.txt 2>&1 && [ ! -e "$data" ] || fail "in $case: $(cat out.txt), $(ls "$home/share")"
done
in_home . --replay "$work/close.txt" > out.txt 2>&1
"$(dirname "$exe")/evgpack" info "$data/Default.evg" | grep -q "pictures: *256" || fail "home folder: $(cat out.txt)"
rm "$data/Default.evg"
printf '1000 tap 120 200\n' > late_offer.txt
# Started without the function, so that $! is timeout itself and the kill below reaches the viewer.
(cd "$home/empty" && HOME=$home XDG_DATA_HOME=$home/share XDG_CONFIG_HOME= \
    exec timeout 120 "$exe" --headless --fps 1000 --library --replay "$work/late_offer.txt") > offer_out.txt 2>&1 &
viewer=$!
for _ in $(seq 1200); do [ -f "$data/Bilder.evg" ] && break; sleep 0.25; done
kill "$viewer" 2> /dev/null
wait "$viewer" 2> /dev/null
verified=$("$(dirname "$exe")/evgpack" verify "$data/Bilder.evg" 2>&1)
grep -q "OK, 2 pictures decode" <<<"$verified" && [ "$(find "$home/Bilder" "$home/empty" -type f | wc -l)" -eq 2 ] \
    || fail "pack of the pictures folder: $verified / $(tail -3 offer_out.txt)"

# Help and version print and end with status 0, without starting the program.
run --help > out.txt 2>&1 && grep -q "^Usage: evergreen" out.txt && ! grep -q Loading out.txt || fail "--help"
run --version > out.txt 2>&1 && grep -q "^evergreen [0-9]" out.txt && ! grep -q Loading out.txt || fail "--version"
run --frobnicate > /dev/null 2>&1; [ $? -eq 2 ] || fail "unknown option not status 2"
run --fps 1001 --headless > /dev/null 2>&1; [ $? -eq 2 ] || fail "--fps 1001 accepted"
for bad in "--scale 9" "--scale 2x" "--scale ''" "--picture 2048" "--frames -1"; do
  eval run "$bad" --headless > /dev/null 2>&1; [ $? -eq 2 ] || fail "$bad accepted"
done

[ "$failures" -eq 0 ] && echo "evergreen command line: all checks passed"
exit $((failures > 0))
