#!/usr/bin/env bash
# Video figures for an auto journey over a pack: encode time per frame at 3x (720 x 960) against
# the 25 ms frame period, file size per second of video, peak memory, webpmux's frame table, and
# a windowed run at the real 40 frames a second (SDL's dummy driver) to show the encoder keeps up.
# With BENCH=path/to/bench_video, the journey's raw screens (caught by a stand-in ffmpeg) also go
# through the encoder alone, timed frame by frame.
# Usage: [BENCH=...] scripts/video_measure.sh BUILD_DIR PACK.evg [FRAMES] [SEED] (works in a temporary folder)
set -eu
build=$(cd "$1" && pwd) pack=$(realpath "$2") frames=${3:-2000} seed=${4:-2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
cp "$pack" journey.evg
journey=(--fps 1000 --auto --seed "$seed" --frames "$frames" journey.evg)
# user+sys seconds, wall seconds and peak RSS (KB) of one headless run; Evergreen.sav is removed
# first so that every run starts from the same progress (and so the same journey).
measure() {
    rm -f Evergreen.sav
    /usr/bin/time -f "%U %S %e %M" -o time.txt "$build/evergreen" --headless "$@" > /dev/null 2>&1
    read -r user sys wall rss < time.txt
    echo "$(echo "$user + $sys" | bc) $wall $rss"
}
read -r cpu0 wall0 rss0 <<<"$(measure "${journey[@]}")"
read -r cpu1 wall1 rss1 <<<"$(measure --video v.webp --video-scale 3 "${journey[@]}")"
size=$(stat -c %s v.webp)
seconds=$(echo "scale=2; $frames * 25 / 1000" | bc)
echo "journey of $frames frames ($seconds s of video) at 3x, 720 x 960, encoded in line (headless):"
echo "  without video: cpu ${cpu0} s, wall ${wall0} s, peak RSS $((rss0 / 1024)) MB"
echo "  with video:    cpu ${cpu1} s, wall ${wall1} s, peak RSS $((rss1 / 1024)) MB"
echo "  encoding: $(echo "scale=2; ($cpu1 - $cpu0) * 1000 / $frames" | bc) ms of CPU per frame (budget 25 ms)"
echo "  file: $size bytes, $(echo "scale=1; $size / 1024 / $seconds" | bc) KB per second of video"
webpmux -info v.webp > info.txt
head -4 info.txt | sed 's/^/  webpmux: /'
awk 'NR > 5 { n[$7]++; total += $7 } END { for (d in n) printf "  webpmux: %d frames of %d ms\n", n[d], d;
     printf "  webpmux: durations add up to %d ms\n", total }' info.txt | sort -t: -k2 -n
# The same journey with a window at 40 frames a second: the worker must keep the pace.
rm -f Evergreen.sav
start=$(date +%s.%N)
SDL_VIDEODRIVER=dummy "$build/evergreen" --video w.webp --video-scale 3 --auto --seed "$seed" --frames "$frames" \
    journey.evg > /dev/null 2> err.txt
echo "windowed at 40 fps: $(echo "$(date +%s.%N) - $start" | bc) s wall for $frames frames" \
     "($(echo "scale=1; $frames / 40" | bc) s at the frame period); $(tail -1 err.txt)"
if [ -n "${BENCH:-}" ]; then
    mkdir stand-in
    printf '#!/bin/sh\nfor a; do out=$a; done\ncat > "$out"\n' > stand-in/ffmpeg
    chmod +x stand-in/ffmpeg
    rm -f Evergreen.sav
    PATH=$PWD/stand-in:$PATH "$build/evergreen" --headless --video raw.mp4 "${journey[@]}" 2> /dev/null > /dev/null
    EVG_VIDEO_FRAMES=$PWD/raw.mp4 "$BENCH"
fi
