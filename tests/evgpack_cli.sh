#!/usr/bin/env bash
# The pack tool from the command line: demo, extract, build, info, verify, quality, the
# candidate section (shown by info, a damaged one reported by verify), and a build killed
# at random moments, which must leave neither a pack nor a temporary file behind.
set -euo pipefail
build=$(cd "$1" && pwd)
tool="$build/evgpack"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
fail() { echo "FAIL: $*"; exit 1; }

"$tool" demo -o demo.evg --count 24 >/dev/null || fail "demo"
"$tool" extract demo.evg photos >/dev/null <&- || fail "extract"  # stdin closed: files open as fd 0
[ -f photos/0023.jpg ] || fail "extract wrote no 0023.jpg"
for cmd in extract verify info decode quality poster demo build; do
    help=$("$tool" $cmd --help) && grep -q "^usage: evgpack $cmd" <<<"$help" || fail "$cmd --help"
done
st=0; "$tool" extract demo.evg 2> err.txt || st=$?
[ $st = 2 ] && grep -q "usage: evgpack extract PACK DIR" err.txt || fail "extract with one operand: $st"
st=0; "$tool" extract demo.evg demo.evg/inside 2> err.txt || st=$?
[ $st = 1 ] && grep -q "cannot make the folder demo.evg/inside" err.txt || fail "extract into a file: $st"
# Without -o the pack is "<last folder>.evg" here, and the summary says where.
"$tool" build --jobs 2 photos > summary.txt 2> warnings.txt && mv photos.evg pack.evg || fail "build"
grep -q "^wrote $(pwd -P)/photos.evg: 24 pictures" summary.txt || fail "summary: $(cat summary.txt)"
grep -q "colour coverage" summary.txt || fail "no coverage line"
grep -q "expected variety" summary.txt || fail "no variety line"
# Progress without a terminal: one line a tenth, the last at 100%; a single photo shows it too.
grep -o "^evgpack: [0-9]* of 24 photos ([0-9]*%)" warnings.txt | awk -F'[(%]' '$2 < 10 * t + 10 {exit 1} {t = int($2 / 10)} END {exit $2 != 100}' \
  && mkdir one && cp photos/0000.jpg one && ! "$tool" build one 2> one.txt && grep -q "^evgpack: 1 of 1 photos (100%)" one.txt || fail "progress"
"$tool" info pack.evg | grep -q "pictures:       24" || fail "info"
"$tool" info pack.evg | grep -q "candidates:     16 per colour" || fail "info: candidates"
"$tool" info --json pack.evg | grep -q '"candidates": 16' || fail "info --json: candidates"
"$tool" verify pack.evg | grep -q "OK, 24 pictures decode" || fail "verify"
"$tool" poster pack.evg -o poster.png --tiles 8 --quiet <&- && [ "$(od -An -tu4 --endian=big -j16 -N4 poster.png | tr -d ' ')" = 384 ] || fail "poster"
"$tool" quality pack.evg --surfaces 4 --no-likeness --sheet sheet.png | grep -q "^variety: " || fail "quality"
h=$(od -An -tu4 --endian=big -j20 -N4 sheet.png | tr -d " ")
[ "$h" = 1066 ] || fail "quality sheet: $h rows of pixels, not the 1066 of 4 surfaces"
"$tool" quality pack.evg --surfaces 4 --no-likeness --json > q.json
grep -q '^{"pack": "pack.evg", "pictures": 24, "candidates": 16, "candidate_version": 3,$' q.json \
  && [ "$(grep -c '{"surfaces": 4, ' q.json)" = 2 ] || fail "quality --json: $(cat q.json)"
! "$tool" quality pack.evg --picture 24 --sheet s2.png 2> err.txt && grep -q "picture 24 is past the last" err.txt \
  && [ ! -e s2.png ] || fail "quality --picture 24: $(cat err.txt)"
# The last byte is part of the section's CRC: the viewer ignores the section, verify says so.
cp pack.evg damaged.evg
last=$(tail -c 1 damaged.evg | od -An -tu1 | tr -d ' ')
printf "\\x$(printf %02x $((last ^ 1)))" | dd of=damaged.evg bs=1 seek=$(($(stat -c %s damaged.evg) - 1)) conv=notrunc 2>/dev/null
"$tool" info damaged.evg | grep -q "candidates:     none (candidate section fails its CRC-32)" || fail "info: damaged"
status=0; "$tool" verify damaged.evg > verify.txt || status=$?
[ $status -eq 1 ] && grep -q "fails its CRC-32" verify.txt || fail "verify on a damaged section: $(cat verify.txt)"
"$tool" build -o plain.evg --candidates 0 --jobs 2 photos >/dev/null || fail "build --candidates 0"
"$tool" build -o q85.evg --quality 85 --jobs 2 photos >/dev/null <&- && cmp -s pack.evg q85.evg || fail "default quality is not 85"
[ $(($(stat -c %s pack.evg) - $(stat -c %s plain.evg))) -eq $((12 + 16 * 131072 + 4)) ] || fail "section size"
"$tool" info plain.evg | grep -q "candidates:     none (no candidate section)" || fail "info: no section"
"$tool" --version | grep -qx "evgpack [0-9][0-9.]*" || fail "--version"
# A bad command line: one line (no usage repeated, no whole help), status 2.
for args in "--frob" "info" "quality x.evg -z" "decode" "build --cache-limit 2XB photos" "poster x.evg" "demo" \
    "demo --frob" "verify" "verify a b" "info a b" "quality" "build --frob photos"; do
  set +e; "$tool" $args > out.txt 2> err.txt; status=$?; set -e
  [ $status -eq 2 ] && [ "$(wc -l < err.txt)" -eq 1 ] && [ ! -s out.txt ] || fail "$args: status $status, $(cat err.txt)"
done
grep -qx "evgpack: unknown option '--frob'; see 'evgpack build --help'" err.txt || fail "unknown option: $(cat err.txt)"
# A FIFO named like a pack is refused at once; extract neither replaces files nor follows links.
mkfifo fifo.evg
for cmd in info verify quality extract; do
  ! timeout 10 "$tool" $cmd fifo.evg $([ $cmd = extract ] && echo fifo-out) > err.txt 2>&1 \
    && grep -q "fifo.evg is not a regular file" err.txt || fail "$cmd on a FIFO: $(cat err.txt)"
done
mkdir ex
ln -s "$work/outside.jpg" ex/0000.jpg
! "$tool" extract plain.evg ex 2> err.txt && grep -q "0000.jpg already exists" err.txt && [ ! -e outside.jpg ] \
  || fail "extract through a link: $(cat err.txt)"
# "--" ends the options: names that start with '-' are files.
cp plain.evg ./-p.evg
"$tool" build -o dash.evg --quiet --candidates 1 --jobs 2 -- photos >/dev/null || fail "build --"
"$tool" info dash.evg | grep -q "1 per colour (each names one picture" || fail "info: K = 1"
for cmd in info verify quality extract; do
  "$tool" $cmd -- -p.evg $([ $cmd = extract ] && echo -out) >/dev/null || fail "$cmd -- -p.evg"
done
# File names that are not UTF-8 (and ones that are) give a --report and info --json that parse;
# the cache keeps what --cache-limit allows: both entries in 0.5 MB, none in 1K.
mkdir -p names/$'caf\xc3\xa9' && cp photos/0000.jpg names/$'caf\xc3\xa9'/a.jpg && cp photos/0001.jpg names/$'bad\xe9\xff\x80.jpg'
for limit in 0.5:2 1K:0; do
  "$tool" build -o $'caf\xc3\xa9.evg' --quiet --report report.json --cache cache --cache-limit ${limit%:*} names >/dev/null
  [ "$(ls cache/entries-1 | wc -l)" -eq ${limit#*:} ] || fail "--cache-limit ${limit%:*}: $(ls cache/entries-1)"
done
! command -v python3 >/dev/null || "$tool" info --json $'caf\xc3\xa9.evg' | python3 -c 'import json, sys
n = sorted(i["file"] for i in json.load(open("report.json"))["inputs"]); f = json.load(sys.stdin)["file"]
assert n == ["names/bad\u00e9\u00ff\u0080.jpg", "names/caf\u00e9/a.jpg"] and f == "caf\u00e9.evg", (n, f)' \
  || fail "JSON of odd names: $(cat report.json)"
status=0; "$tool" info missing.evg 2>err.txt || status=$?
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
