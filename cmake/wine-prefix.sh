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
(
  flock 9
  if [ ! -f "$WINEPREFIX/.vesk-ready" ]; then
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
    for n in 1 2 3 4; do
      /usr/lib/wine/wine64 reg add 'HKLM\Software\Wine\Ports' /v COM$n /d '' /f >/dev/null 2>&1
    done
    /usr/lib/wine/wineserver -w
    touch "$WINEPREFIX/.vesk-ready"
  fi
) 9>"$WINEPREFIX.lock"
# A persistent server that ends by itself 60 s after its last client, and
# Wine's own service processes, started here with no terminal or pipe of the
# caller's: a test runner waits for every process that holds its pipes, and
# those services live as long as the server.
/usr/lib/wine/wineserver -p60 </dev/null >/dev/null 2>&1 || true
setsid /usr/lib/wine/wine64 cmd /c exit </dev/null >/dev/null 2>&1 || true
