#!/usr/bin/env bash
# The layering the build relies on, for every source folder:
#  (a) no file includes a header of a higher floor; the floors, lowest first, are
#      assets -> render -> media -> runtime -> pack -> builder -> app, and the programs around
#      them (tools/, tests/, bench/, fuzz/) may include any floor, but no floor includes them;
#  (b) no modules include each other in a circle (x.h and x.cpp are one module);
#  (c) evgpack links no display library.
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

# Floor of a top-level folder; the programs' folders share the top floor.
floor_of() {
  case $1 in
    assets) echo 0 ;; render) echo 1 ;; media) echo 2 ;; runtime) echo 3 ;; pack) echo 4 ;;
    builder) echo 5 ;; app) echo 6 ;; tools|tests|bench|fuzz) echo 7 ;; *) echo 99 ;;
  esac
}

cd "$src" || exit 1
files=$(find assets render media runtime pack builder app tools tests bench fuzz \
             -name '*.h' -o -name '*.cpp' | sort)
[ -n "$files" ] || { echo "FAIL: no sources found in $src"; exit 1; }

# One "from to" line per include of a project header, both as module names (path without the
# extension); a path not found from the top names a file relative to the includer's folder.
edges=$(for f in $files; do
  from=${f%.*} dir=$(dirname "$f")
  sed -n 's/^#include "\([^"]*\)\.h".*/\1/p' "$f" | while read -r to; do
    [ -f "$to.h" ] || to=$dir/$to
    [ "$to" != "$from" ] && echo "$from $to"
  done
done)
[ -n "$edges" ] || { echo "FAIL: no include edges found in $src"; fail=1; }

# (a) Includes of a higher floor.
while read -r from to; do
  [ "$(floor_of "${to%%/*}")" -gt "$(floor_of "${from%%/*}")" ] \
      && { echo "FAIL: $from includes the higher floor's $to.h"; fail=1; }
done <<<"$edges"

# (b) tsort reports any loop among the modules.
if loops=$(tsort <<<"$edges" 2>&1 >/dev/null) && [ -z "$loops" ]; then :; else
  echo "FAIL: include cycle among modules:"; echo "$loops"; fail=1
fi

[ $fail = 0 ] && echo "layering OK"
exit $fail
