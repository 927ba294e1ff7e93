#!/usr/bin/env bash
# Starts the viewer in the run folder (build/run), which holds a copy of the demo pack that the
# build makes (build/share/evergreen/Default.evg, by `evgpack demo`) and the viewing progress
# (Evergreen.sav).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
mkdir -p "$build/run"
cd "$build/run"
[ -f Default.evg ] || cp "$build/share/evergreen/Default.evg" Default.evg
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display here: run it headless with a script, e.g. $build/evergreen --headless --replay FILE $build/run"
  exit 1
fi
exec "$build/evergreen" .
