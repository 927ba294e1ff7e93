#!/usr/bin/env bash
# Starts the viewer in the run folder (build/run), which holds the demo pack (Default.evg, made
# once by `evgpack demo`) and the viewing progress (Evergreen.sav).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
mkdir -p "$build/run"
cd "$build/run"
if [ ! -f Default.evg ]; then
  echo "Making the demo pack (256 pictures) in $build/run/Default.evg ..."
  "$build/evgpack" demo -o Default.evg
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display here: run it headless with a script, e.g. $build/evergreen --headless --replay FILE $build/run"
  exit 1
fi
exec "$build/evergreen" .
