#!/usr/bin/env bash
# The layering check on the real tree, and on small trees that break it:
# an upward include, two folders that include each other, a folder of its
# own. Each broken tree must fail, naming the file and line.
set -u
check=$(cd "$(dirname "$0")/../.." && pwd)/tools/check-layers.py
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

python3 "$check" || fail "the real tree breaks its layers"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

# expect_broken NAME PATTERN: the check fails on tree NAME and says PATTERN.
expect_broken() {
  local out
  if out=$(python3 "$check" "$scratch/$1" 2>&1); then
    fail "$1: passed"
  elif ! grep -q -- "$2" <<<"$out"; then
    fail "$1: did not say '$2': $out"
  fi
}
tree() { mkdir -p "$(dirname "$scratch/$1")"; printf '%s\n' "$2" >"$scratch/$1"; }

tree clean/tester/engine/port_worker.cpp '#include "tester/engine/row_sink.h"
#include "tester/port/port_access.h"
#include "platform/event.h"'
tree clean/tester/ui/win32/main_window.cpp '#include "resource.h"
#include "tester/session/tester_session.h"'
python3 "$check" "$scratch/clean" >/dev/null || fail "a tree that keeps its layers failed"

tree upward/tester/engine/port_worker.cpp '#include <vector>

#include "tester/session/port_list.h"'
expect_broken upward 'tester/engine/port_worker.cpp:3: tester/engine includes tester/session/port_list.h'

tree cycle/tester/config/configuration.cpp '#include "tester/port/port_name.h"'
tree cycle/tester/port/port_name.cpp '#include "tester/config/configuration.h"'
expect_broken cycle 'tester/config/configuration.cpp:1'
expect_broken cycle 'tester/port/port_name.cpp:1'

tree beside/tester/ui/tui/terminal_app.cpp '#include "tester/batch/batch_run.h"'
expect_broken beside 'tester/ui/tui includes tester/batch/batch_run.h'

tree library/netserial/serial_api.cpp '#include "tester/port/port_access.h"'
expect_broken library 'netserial includes tester/port/port_access.h'

tree newfolder/tester/reports/html.cpp '#include "tester/session/row_store.h"'
expect_broken newfolder 'tester/reports/html.cpp: in no layer'

[ "$failures" -eq 0 ] && echo "check-layers: all cases pass"
exit $((failures != 0))
