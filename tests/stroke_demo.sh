#!/usr/bin/env bash
# The handwriting demo, headless: replayed strokes down, right and a held dot are read as
# "i", space and full stop (the demo reports each on standard output), a shot is written, the
# close ends it with status 0, and an unknown demo name is refused with status 2.
set -u
build=$1
exe=$(cd "$build" && pwd)/evergreen
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

{
    echo "2 move 120 40"
    echo "3 down"
    for k in $(seq 1 25); do echo "$((3 + k)) move 120 $((40 + 8 * k))"; done
    echo "30 up"
    echo "40 move 20 250"
    echo "41 down"
    for k in $(seq 1 25); do echo "$((41 + k)) move $((20 + 8 * k)) 250"; done
    echo "70 up"
    echo "80 move 60 60"
    echo "81 down"
    echo "84 up"
    echo "86 shot $work/demo.png"
    echo "87 close"
} > strokes.txt

timeout 20 "$exe" --headless --fps 1000 --demo strokes --replay strokes.txt > out.txt 2>&1
status=$?
[ "$status" -eq 0 ] || fail "exit status $status: $(cat out.txt)"
grep -q "^stroke: letter i codes 999999999999999 distance 0 " out.txt || fail "no i: $(cat out.txt)"
grep -q "^stroke: letter space codes AAAAAAAAAAAAAAA distance 0 " out.txt || fail "no space: $(cat out.txt)"
grep -q "^stroke: letter full stop codes LLLLLLLLLLLLLLL " out.txt || fail "no full stop: $(cat out.txt)"
[ "$(grep -c '^stroke:' out.txt)" -eq 3 ] || fail "expected three strokes: $(cat out.txt)"
[ -s demo.png ] || fail "no screenshot"

timeout 20 "$exe" --headless --demo letters > bad.txt 2>&1
status=$?
[ "$status" -eq 2 ] || fail "unknown demo: status $status"
grep -q "unknown demo" bad.txt || fail "unknown demo message: $(cat bad.txt)"

[ "$failures" -eq 0 ] && echo "stroke demo test passed"
exit "$failures"
