#!/usr/bin/env bash
# `evgpack decode` on every kind of test picture (the fuzz seeds): exit status 0 and a PNG of
# the picture's size; refusals exit 1 with one line; bad usage exits 2.
set -u
build=$1
source=$2
tool="$build/evgpack"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# Width and height from a PNG's IHDR chunk, as "W H".
png_size() { od -An -tu1 -j16 -N8 "$1" | awk '{print $1*16777216+$2*65536+$3*256+$4, $5*16777216+$6*65536+$7*256+$8}'; }

declare -A sizes=([411_q85]="64 16" [420_17x9]="17 9" [420_q85]="48 40" [420_restart1]="48 32"
                  [422_q50]="33 17" [422_restart7]="100 20" [444_q100]="24 24" [grey_q85]="40 24")
for name in "${!sizes[@]}"; do
  in="$source/fuzz/corpus/jpeg_decode_fuzz/$name.jpg"
  out="$scratch/$name.png"
  "$tool" decode "$in" "$out" || { fail "$name: exit status $?"; continue; }
  [[ "$(od -An -tx1 -N4 "$out" | tr -d ' ')" == "89504e47" ]] || fail "$name: not a PNG"
  [[ "$(png_size "$out")" == "${sizes[$name]}" ]] || fail "$name: size $(png_size "$out")"
done

# Refusals: garbage (one line with the decoder's reason, no PNG left), a missing file, bad usage,
# an unwritable output.
printf 'not a picture' > "$scratch/bad.jpg"
expect_status() {
  local want=$1 what=$2
  shift 2
  "$tool" decode "$@" 2> "$scratch/err"
  local status=$?
  [[ $status -eq $want ]] || fail "$what: exit status $status, $(cat "$scratch/err")"
}
expect_status 1 garbage "$scratch/bad.jpg" "$scratch/bad.png"
[[ $(wc -l < "$scratch/err") -eq 1 && ! -e "$scratch/bad.png" ]] && grep -q "bad.jpg: does not decode: no frame header" "$scratch/err" ||
  fail "garbage: $(cat "$scratch/err"), $(ls "$scratch")"
expect_status 1 "missing file" "$scratch/missing.jpg" "$scratch/missing.png"
grep -q "cannot read" "$scratch/err" || fail "missing file: message was: $(cat "$scratch/err")"
mkfifo "$scratch/pipe.jpg"
timeout 10 "$tool" decode "$scratch/pipe.jpg" "$scratch/pipe.png" 2> "$scratch/err"
[[ $? -eq 1 ]] && grep -q "pipe.jpg: not a regular file" "$scratch/err" || fail "FIFO: $(cat "$scratch/err")"
expect_status 2 usage "$scratch/bad.jpg"
expect_status 1 "unwritable output" "$source/fuzz/corpus/jpeg_decode_fuzz/420_q85.jpg" "$scratch/no/such/folder.png"

[[ $failures -eq 0 ]] && echo "evgpack decode: all passed"
exit $((failures > 0))
