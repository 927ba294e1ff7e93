#!/usr/bin/env bash
# The handwriting demo, headless: replayed strokes down, right and a held dot are read as "i",
# space and full stop (reported on standard output), a shot is written, close ends it with 0;
# an unknown demo name is refused with status 2.
set -u
exe=$(cd "$1" && pwd)/evergreen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
{
    echo "2 move 120 40"; echo "3 down"
    for k in $(seq 1 25); do echo "$((3 + k)) move 120 $((40 + 8 * k))"; done
    echo "30 up"; echo "40 move 20 250"; echo "41 down"
    for k in $(seq 1 25); do echo "$((41 + k)) move $((20 + 8 * k)) 250"; done
    echo "70 up"; echo "80 move 60 60"; echo "81 down"; echo "84 up"
    echo "86 shot $work/demo.png"; echo "87 close"
} > strokes.txt
timeout 20 "$exe" --headless --fps 1000 --demo strokes --replay strokes.txt > out.txt 2>&1
status=$?
grep '^stroke:' out.txt | cut -d' ' -f1-6 > got.txt
printf '%s\n' "stroke: letter i codes 999999999999999 distance" \
    "stroke: letter space codes AAAAAAAAAAAAAAA distance" \
    "stroke: letter full stop codes LLLLLLLLLLLLLLL" > want.txt
if [ "$status" -ne 0 ] || ! cmp -s got.txt want.txt || [ ! -s demo.png ]; then
    echo "FAIL: status $status, shot $(ls demo.png 2>&1), output:"; cat out.txt; exit 1
fi
timeout 20 "$exe" --headless --demo letters > bad.txt 2>&1
status=$?
[ "$status" -eq 2 ] && grep -q "unknown demo" bad.txt || { echo "FAIL: unknown demo: $status"; exit 1; }
echo "stroke demo test passed"
