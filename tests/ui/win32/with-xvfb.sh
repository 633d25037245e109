#!/usr/bin/env bash
# Runs a command on a private X display with its own Wine prefix:
#   with-xvfb.sh <wine prefix> <command...>
# Starts Xvfb on a display number nobody uses (Xvfb picks it: -displayfd),
# points DISPLAY and VESK_WINEPREFIX (cmake/wine-run.sh) at it, runs the
# command, and on every way out ends what it started: the command's
# processes, the prefix's wineserver with all its Wine processes, and Xvfb.
#
# The prefix is the caller's own (one per build tree): Wine's desktop
# process holds a connection to the display it was started on, so a prefix
# must never outlive its display with Wine processes still in it, and
# ending a shared prefix would end other tests' programs.
set -uo pipefail
prefix=${1:?usage: $0 <wine prefix> <command...>}
shift
export VESK_WINEPREFIX=$prefix
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}

workdir=$(mktemp -d "${TMPDIR:-/tmp}/vesk-xvfb.XXXXXX")
xvfb_pid=
cleanup() {
  WINEPREFIX=$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$xvfb_pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$workdir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

exec 3>"$workdir/display"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset \
  >"$workdir/xvfb.log" 2>&1 &
xvfb_pid=$!
exec 3>&-
display=
for _ in $(seq 100); do
  display=$(head -n1 "$workdir/display" 2>/dev/null)
  [ -n "$display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$display" ]; then
  echo "Xvfb did not start:" >&2
  cat "$workdir/xvfb.log" >&2
  exit 1
fi
export DISPLAY=:$display

# Wine processes of the prefix that run before the display exists (its
# desktop process above all) would serve every later program without one.
WINEPREFIX=$prefix /usr/lib/wine/wineserver -k >/dev/null 2>&1

"$@"
rc=$?
[ "$rc" = 0 ] || echo "with-xvfb.sh: $(basename "$1") ${2:+$(basename "$2") }ended with exit code $rc" >&2
exit "$rc"
