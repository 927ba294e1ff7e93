#!/usr/bin/env bash
# The pack tool from the command line: demo, extract, build, info, verify, and a build killed
# at random moments, which must leave neither a pack nor a temporary file behind.
set -euo pipefail
build=$(cd "$1" && pwd)
tool="$build/evgpack"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*"; exit 1; }

"$tool" demo -o demo.evg --count 24 >/dev/null || fail "demo"
"$tool" extract demo.evg photos >/dev/null || fail "extract"
[ -f photos/0023.jpg ] || fail "extract wrote no 0023.jpg"
"$tool" build -o pack.evg --jobs 2 photos > summary.txt 2> warnings.txt || fail "build"
grep -q "24 pictures" summary.txt || fail "summary: $(cat summary.txt)"
grep -q "colour coverage" summary.txt || fail "no coverage line"
"$tool" info pack.evg | grep -q "pictures:       24" || fail "info"
"$tool" verify pack.evg | grep -q "OK, 24 pictures decode" || fail "verify"
"$tool" build --help | grep -q "usage: evgpack build" || fail "build --help"
set +e
"$tool" info missing.evg 2>err.txt; status=$?
set -e
[ $status -eq 1 ] || fail "info on a missing file exited $status"
[ "$(wc -l < err.txt)" -eq 1 ] || fail "error is not one line: $(cat err.txt)"

# Kill builds at random moments, with SIGKILL and SIGTERM. Each leaves either no pack or a
# complete one, and never a temporary.
RANDOM=7
kills=0
for i in $(seq 1 12); do
  rm -f out.evg
  "$tool" build -o out.evg --quiet --jobs 1 photos 2>/dev/null &
  pid=$!
  sleep "0.$((RANDOM % 9 + 1))"
  if [ $((i % 2)) -eq 0 ]; then kill -KILL $pid 2>/dev/null && kills=$((kills + 1)); else kill -TERM $pid 2>/dev/null && kills=$((kills + 1)); fi
  wait $pid 2>/dev/null || true
  if [ -e out.evg ]; then
    "$tool" verify out.evg >/dev/null || fail "a killed build left a broken pack"
  fi
  stray=$(ls | grep -c '\.tmp' || true)
  [ "$stray" -eq 0 ] || fail "a killed build left a temporary: $(ls)"
done
echo "evgpack cli: ok ($kills builds killed mid-way)"
