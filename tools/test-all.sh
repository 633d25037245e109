#!/usr/bin/env bash
# Builds everything and runs every test, from a fresh Debian 12 machine:
#   bash tools/test-all.sh
# Installs the packages it needs, builds the native, sanitizer and both
# Windows configurations, runs the native suite, both sanitizer suites and the
# Wine suite, checks the shipped i686 binaries, the installed tree, the .deb
# and the Windows zip, formatting, the layers and lint, and runs the fuzzers
# for a bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${JOBS:-$(nproc)}

# Each step's wall-clock and processor time (its own and its children's),
# printed as a table at the end, so that where the time goes is seen on
# every run.
timings=()
step_name=
step_wall=0
step_cpu=0
times_file=$(mktemp)
# cpu_s: user and system time of this shell and its waited-for children,
# in s. `times` must run in this shell: in a subshell it counts from zero.
cpu_total() {
  times >"$times_file"
  cpu_s=$(tr 'ms' '  ' <"$times_file" |
    awk '{ for (i = 1; i <= NF; i += 2) s += $i * 60 + $(i + 1) } END { printf "%.0f", s }')
}
end_step() {
  [ -n "$step_name" ] || return 0
  local wall=$((SECONDS - step_wall))
  cpu_total
  local cpu=$((cpu_s - step_cpu))
  timings+=("$(printf '%5d s wall %6d s cpu  %s' "$wall" "$cpu" "$step_name")")
  step_name=
}
step() {
  end_step
  printf '\n==== %s ====\n' "$*"
  step_name="$*"
  step_wall=$SECONDS
  cpu_total
  step_cpu=$cpu_s
}
summary() {
  end_step
  printf '\n==== time per step ====\n'
  printf '%s\n' "${timings[@]}"
  printf '%5d s wall in all\n' "$SECONDS"
}

if [ "${VESK_SKIP_INSTALL:-0}" != 1 ]; then
  step "installing packages"
  tools/install-deps.sh all
fi

for preset in linux asan tsan mingw64 mingw32-release; do
  step "configure and build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

# Wine keeps a persistent server for the whole Wine suite; it is ended at
# the end however the run ends. Only the suite's own prefix (under build/,
# cmake/wine-run.sh) is ended: a Wine session of the user's stays up.
wine_prefix=${VESK_WINEPREFIX:-$root/build/wine-prefix}
trap 'status=$?; WINEPREFIX="$wine_prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
      [ $status -eq 0 ] || summary; rm -f "$times_file"' EXIT

for preset in linux asan tsan mingw64; do
  step "tests: $preset"
  ctest --preset "$preset" -j "$jobs"
done

step "shipped Windows binaries (i686 Release)"
shipped=()
[ -d netserial ] && shipped+=(qelnet.dll)
[ -d tester/app ] && shipped+=(vesktestw.exe vesktest.exe)
tools/check-windows-binaries.sh build/mingw32-release/bin "${shipped[@]}"
if [ -x tools/check-exports.sh ]; then
  tools/check-exports.sh build/mingw32-release/bin/qelnet.dll
fi

step "install tree and packages (.deb, i686 zip)"
tools/check-packages.sh

step "formatting"
cmake --build build/linux --target format-check

step "layers"
python3 tools/check-layers.py

step "lint"
tools/lint.sh

if [ -x tools/fuzz.sh ]; then
  step "fuzzing (bounded)"
  tools/fuzz.sh 30
fi

summary
step "all passed"
