#!/usr/bin/env bash
# Builds everything and runs every test, from a fresh Debian 12 machine:
#   bash tools/test-all.sh
# Installs the packages it needs, builds the native, sanitizer and both
# Windows configurations, runs the native suite, both sanitizer suites and the
# Wine suite, checks the shipped i686 binaries, the installed tree, the .deb
# and the Windows zip, formatting, the layers and lint, and runs the fuzzers
# for a bounded time.
#
# The suites spend most of their time waiting on paced lines, timers and
# other processes, the builds none: so each suite runs beside the next
# build, which runs at the lowest priority (nice 19) and takes only the
# processor time the suites leave. The suites run one at a time, in order,
# each as soon as its configuration is built and the suite before it has
# ended: two suites at once (four test programs with their servers and
# pumps on two cores) made timing-bound tests late.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${JOBS:-$(nproc)}

# Each step's wall-clock and processor time (its own and its children's),
# printed as a table at the end, so that where the time goes is seen on
# every run. A suite that runs beside other steps is timed on its own.
timings=()
step_name=
step_wall=0
step_cpu=0
work=$(mktemp -d "${TMPDIR:-/tmp}/vesk-test-all.XXXXXX")
# cpu_s: user and system time of this shell and its waited-for children,
# in s. `times` must run in this shell: in a subshell it counts from zero.
cpu_total() {
  times >"$work/times"
  cpu_s=$(tr 'ms' '  ' <"$work/times" |
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

# A suite in the background: it waits for the suite started before it to
# end, then runs; its output is kept in a file, its exit code, wall-clock
# and processor time noted when it ends.
declare -A suite_pid
previous_suite=
start_suite() {
  local preset=$1 after=$previous_suite
  printf '\n---- tests: %s queued beside what follows ----\n' "$preset"
  (
    set +e
    [ -z "$after" ] || while [ ! -e "$work/$after.end" ]; do sleep 1; done
    started=$SECONDS
    ctest --preset "$preset" -j "$jobs" >"$work/$preset.log" 2>&1
    code=$?
    times >"$work/$preset.times"
    echo "$code $((SECONDS - started))" >"$work/$preset.end"
  ) &
  suite_pid[$preset]=$!
  previous_suite=$preset
}
# Waits for a suite, shows its output, notes its times; false when it failed.
finish_suite() {
  local preset=$1 code wall cpu
  wait "${suite_pid[$preset]}" || true
  printf '\n==== tests: %s ====\n' "$preset"
  cat "$work/$preset.log"
  read -r code wall <"$work/$preset.end"
  cpu=$(tr 'ms' '  ' <"$work/$preset.times" |
    awk 'NR == 2 { for (i = 1; i <= NF; i += 2) s += $i * 60 + $(i + 1) } END { printf "%.0f", s }')
  timings+=("$(printf '%5d s wall %6d s cpu  tests: %s (beside the builds, alone)' "$wall" "$cpu" \
    "$preset")")
  return "$code"
}

# Wine keeps a persistent server for the whole Wine suite; it is ended at
# the end however the run ends. Only the suite's own prefix (under build/,
# cmake/wine-run.sh) is ended: a Wine session of the user's stays up.
wine_prefix=${VESK_WINEPREFIX:-$root/build/wine-prefix}
on_exit() {
  local status=$?
  for pid in "${suite_pid[@]}"; do kill "$pid" 2>/dev/null || true; done
  WINEPREFIX="$wine_prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  [ $status -eq 0 ] || summary
  rm -rf "$work"
}
trap on_exit EXIT

if [ "${VESK_SKIP_INSTALL:-0}" != 1 ]; then
  step "installing packages"
  tools/install-deps.sh all
fi

# Each configuration is built, then its suite is queued while the next one
# builds; the checks that need no suite run after the builds, beside the
# last suites and as humbly. The i686 release has no suite.
failed=()
for preset in linux asan tsan mingw64 mingw32-release; do
  step "configure and build: $preset"
  cmake --preset "$preset" >/dev/null
  nice -n 19 cmake --build --preset "$preset" -j "$jobs"
  [ "$preset" = mingw32-release ] || start_suite "$preset"
done
end_step

step "shipped Windows binaries (i686 Release)"
shipped=()
[ -d netserial ] && shipped+=(qelnet.dll)
[ -d tester/app ] && shipped+=(vesktestw.exe vesktest.exe)
tools/check-windows-binaries.sh build/mingw32-release/bin "${shipped[@]}"
if [ -x tools/check-exports.sh ]; then
  tools/check-exports.sh build/mingw32-release/bin/qelnet.dll
fi

step "install tree and packages (.deb, i686 zip)"
nice -n 19 tools/check-packages.sh

step "formatting"
nice -n 19 cmake --build build/linux --target format-check

step "layers"
python3 tools/check-layers.py

step "lint"
nice -n 19 tools/lint.sh

if [ -x tools/fuzz.sh ]; then
  step "fuzzing (bounded)"
  nice -n 19 tools/fuzz.sh 30
fi

step "the suites' end"
for preset in linux asan tsan mingw64; do
  finish_suite "$preset" || failed+=("$preset")
done
if [ ${#failed[@]} -ne 0 ]; then
  echo "test-all: suites that failed: ${failed[*]}" >&2
  exit 1
fi

summary
step "all passed"
