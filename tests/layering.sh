#!/usr/bin/env bash
# The layering the build relies on: evgpack needs no display library, and the viewer's modules
# (app/) and the pack module (pack/) include each other without cycles.
# Usage: layering.sh BUILD_DIR SOURCE_DIR
set -u
build=$1 src=$2
fail=0

needed=$(readelf -d "$build/evgpack" | grep NEEDED)
if [ -z "$needed" ]; then
  echo "FAIL: readelf lists no libraries for $build/evgpack"; fail=1
elif grep -q -i -E 'libSDL|libX11' <<<"$needed"; then
  echo "FAIL: evgpack links a display library:"; grep -i -E 'libSDL|libX11' <<<"$needed"; fail=1
fi

# Module-level include edges (app/mosaic.h and app/mosaic.cpp are one module), sorted
# topologically by tsort, which reports any loop.
edges=$(cd "$src" && for f in app/*.h app/*.cpp pack/*.h pack/*.cpp; do
  from=${f%.*}
  sed -n 's/^#include "\(\(app\|pack\)\/[^"]*\)\.h".*/\1/p' "$f" | while read -r to; do
    [ "$to" != "$from" ] && echo "$from $to"
  done
done)
[ -n "$edges" ] || { echo "FAIL: no include edges found in $src"; fail=1; }
if loops=$(tsort <<<"$edges" 2>&1 >/dev/null) && [ -z "$loops" ]; then :; else
  echo "FAIL: include cycle among app/ and pack/ modules:"; echo "$loops"; fail=1
fi
if grep -l '#include "app/' "$src"/pack/*.h "$src"/pack/*.cpp 2>/dev/null; then
  echo "FAIL: pack/ must not include app/ headers"; fail=1
fi
[ $fail = 0 ] && echo "layering OK"
exit $fail
