#!/usr/bin/env bash
# Runs one Windows program under the 64-bit Wine loader, in a private prefix
# in which the machine's own serial devices are hidden (Wine would otherwise
# show /dev/ttyS0 as COM1).
set -e
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export WINEDEBUG=${WINEDEBUG:--all}
# The prefix lives in the build folder, never the user's own Wine prefix.
export WINEPREFIX=${VESK_WINEPREFIX:-$(dirname "$here")/build/wine-prefix}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
"$here/wine-prefix.sh" >/dev/null
exec /usr/lib/wine/wine64 "$@"
