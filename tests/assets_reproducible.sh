#!/usr/bin/env bash
# The committed assets must be exactly what the generator writes. Runs only where the generator
# has been built (make assets builds it in build-assets/); elsewhere it reports a skip.
set -euo pipefail
source_dir=$2
generator="$source_dir/build-assets/tools/asset_gen/asset_gen"
if [[ ! -x "$generator" ]]; then
  echo "skipped: $generator not built (run make assets)"
  exit 0
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$generator" "$scratch"
status=0
for file in "$scratch"/*; do
  name=$(basename "$file")
  if ! cmp -s "$file" "$source_dir/assets/$name"; then
    echo "assets/$name differs from the generator's output"
    status=1
  fi
done
count=$(ls "$scratch" | wc -l)
echo "$count generated files compared"
exit $status
