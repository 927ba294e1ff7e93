#!/usr/bin/env bash
# Remakes the README's screenshots in docs/screenshots/ by replaying scripts/screenshots.replay
# headless over the demo pack. Usage: scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/evgpack" demo -o "$work/Default.evg" > /dev/null
(cd "$work" && "$build/evergreen" --headless --fps 1000 --replay "$top/scripts/screenshots.replay" . > /dev/null)
mkdir -p "$top/docs/screenshots"
cp "$work"/*.png "$top/docs/screenshots/"
ls "$top/docs/screenshots"
