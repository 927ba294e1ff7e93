#!/usr/bin/env bash
# The text demo, headless: it runs, a replayed shot of its screen is written (text in fonts 0 to 5
# and the console with the frame rate), and close ends it with status 0.
set -u
exe=$(cd "$1" && pwd)/evergreen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
printf '%s\n' "70 shot $work/text.png" "71 close" > script.txt
timeout 20 "$exe" --headless --fps 1000 --demo text --replay script.txt > out.txt 2>&1
status=$?
# A screen of text compresses to a few kilobytes; a blank or broken one to far less.
size=$(stat -c %s text.png 2> /dev/null || echo 0)
if [ "$status" -ne 0 ] || [ "$size" -lt 2000 ]; then
    echo "FAIL: status $status, shot of $size bytes, output:"; cat out.txt; exit 1
fi
echo "text demo test passed"
