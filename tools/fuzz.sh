#!/usr/bin/env bash
# Builds every libFuzzer target (executables named *_fuzz) with clang and
# AddressSanitizer in build/fuzz, and runs each for a bounded time:
#   tools/fuzz.sh [seconds per target, default 30]
# A crash, a sanitizer report or a broken property aborts the run with the
# reproducer written to build/fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
build=build/fuzz
jobs=${JOBS:-2}

cmake -S . -B "$build" -G "Unix Makefiles" \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVESK_FUZZ=ON -DVESK_BUILD_BENCH=OFF >/dev/null
mapfile -t targets < <(cmake --build "$build" --target help | sed -n 's/^\.\.\. \(.*_fuzz\)$/\1/p')
if [ ${#targets[@]} -eq 0 ]; then
  echo "no fuzz targets"
  exit 0
fi
cmake --build "$build" --target "${targets[@]}" -j "$jobs"

mkdir -p "$build/crashes"
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  echo "== $t for ${seconds}s"
  "$build/bin/$t" -max_total_time="$seconds" -max_len=4096 -print_final_stats=1 \
    -artifact_prefix="$build/crashes/$t-" "$corpus"
done
