#!/usr/bin/env bash
# Builds every libFuzzer target in fuzz/ with clang (ASan + UBSan) in build-fuzz/, replays the
# kept inputs (fuzz/regressions/NAME, fuzz/corpus/NAME), then fuzzes each target for a bounded
# number of runs. FUZZ_RUNS sets the count (default 20000). A crash fails the script; libFuzzer
# leaves the input as build-fuzz/crash-*: keep it in fuzz/regressions/NAME once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${FUZZ_RUNS:-20000}
jobs=${JOBS:-2}
bash scripts/setup.sh scripts/packages-fuzz.txt
if [[ ! -f build-fuzz/CMakeCache.txt ]]; then
  cmake -S . -B build-fuzz -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEVG_FUZZ=ON >/dev/null
else
  cmake build-fuzz >/dev/null  # picks up targets added since the last run
fi
export ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
for source in fuzz/*_fuzz.cpp; do
  name=$(basename "$source" .cpp)
  cmake --build build-fuzz --target "$name" -j "$jobs"
  kept=()
  for dir in "fuzz/regressions/$name" "fuzz/corpus/$name"; do
    [[ -d "$dir" ]] && while IFS= read -r -d '' f; do kept+=("$f"); done < <(find "$dir" -type f -print0)
  done
  if [[ ${#kept[@]} -gt 0 ]]; then
    echo "== $name: replaying ${#kept[@]} kept inputs"
    "build-fuzz/$name" "${kept[@]}" >/dev/null 2>build-fuzz/"$name".replay.log ||
      { cat build-fuzz/"$name".replay.log; exit 1; }
  fi
  echo "== $name: $runs runs"
  mkdir -p "build-fuzz/corpus-$name"
  seeds=()
  [[ -d "fuzz/corpus/$name" ]] && seeds=("../fuzz/corpus/$name")
  max_len=65536
  # A pack seed with a whole candidate section (K = 1, 128 KiB of lists) needs longer inputs.
  [[ $name == pack_open_fuzz ]] && max_len=196608
  (cd build-fuzz && "./$name" -runs="$runs" -max_len="$max_len" -print_final_stats=1 \
     "corpus-$name" "${seeds[@]}" 2>"$name".log) ||
    { tail -50 build-fuzz/"$name".log; exit 1; }
  grep -E "stat::number_of_executed_units|stat::average_exec_per_sec" build-fuzz/"$name".log
done
