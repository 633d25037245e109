#!/usr/bin/env bash
# Creates the private Wine prefix once (under a lock, since tests run in
# parallel) and keeps a wineserver alive between test programs: a cold Wine
# start costs seconds, a warm one a fraction of that.
set -e
export WINEDEBUG=${WINEDEBUG:--all}
# The prefix lives in the build folder, never the user's own Wine prefix.
export WINEPREFIX=${VESK_WINEPREFIX:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wine-prefix}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
mkdir -p "$(dirname "$WINEPREFIX")"

# The first set-up of a prefix is Wine's own start-up work, not the program
# under test: its output goes to a log that is shown when it fails, and a
# prefix this script made is made once more from scratch before giving up
# (a test that failed here used to end with no output at all).
setup() {
  /usr/lib/wine/wine64 wineboot -i || true
  for n in 1 2 3 4; do
    /usr/lib/wine/wine64 reg add 'HKLM\Software\Wine\Ports' /v COM$n /d '' /f || return 1
  done
  /usr/lib/wine/wineserver -w || true
}
(
  flock 9
  [ -f "$WINEPREFIX/.vesk-ready" ] && exit 0
  made_here=0
  [ -d "$WINEPREFIX" ] || made_here=1
  log=$WINEPREFIX.setup.log
  for attempt in 1 2; do
    if setup >"$log" 2>&1; then
      touch "$WINEPREFIX/.vesk-ready"
      exit 0
    fi
    echo "wine-prefix.sh: setting up $WINEPREFIX failed (attempt $attempt); its log:" >&2
    tail -n 30 "$log" >&2
    /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
    [ "$made_here" = 1 ] && rm -rf "$WINEPREFIX"
  done
  exit 1
) 9>"$WINEPREFIX.lock"
# A persistent server that ends by itself 60 s after its last client, and
# Wine's own service processes, started here with no terminal or pipe of the
# caller's: a test runner waits for every process that holds its pipes, and
# those services live as long as the server.
/usr/lib/wine/wineserver -p60 </dev/null >/dev/null 2>&1 || true
setsid /usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
