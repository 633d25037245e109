#!/usr/bin/env bash
# The terminal front end driven as a person would, in tmux: start
# `vesktest --demo 2` with a log and metrics, check its title, select all,
# start, watch Rx# and Tx# grow while Err# stays 0/0 and the log and the
# metrics file get their lines, open the
# settings form and type a bad baud rate (the bell rings, the focus stays),
# cancel, check the modem lines (their results in a box), quit; the exit code is 1 and the configuration file is written. Then a copy of the program without the
# network library beside it, on a network port: the "Not found qelnet.dll"
# box is a modal message on the screen, not text over it, the row says why
# the port did not open, and a save and a metrics file that fail at the
# end are reported, once each.
#
#   bash frontend_tmux_test.sh path/to/vesktest
#
# Its own tmux server (-L, no user configuration), killed however the test
# ends; bounds are generous, they catch hangs, not timing.
set -euo pipefail

program=${1:?usage: frontend_tmux_test.sh path/to/vesktest}
socket="vesk-tui-$$-$RANDOM"
work=$(mktemp -d "${TMPDIR:-/tmp}/vesk-tmux.XXXXXX")
mkdir "$work/tmp"

tmuxc() { tmux -L "$socket" -f /dev/null "$@"; }
cleanup() {
  tmuxc kill-server >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

screen() { tmuxc capture-pane -p -t vt 2>/dev/null || true; }
fail() {
  echo "FAIL: $*" >&2
  echo "--- screen:" >&2
  screen >&2
  [ -s "$work/err" ] && { echo "--- stderr:" >&2; cat "$work/err" >&2; }
  exit 1
}
step() { echo "== $*"; }
keys() {
  tmuxc send-keys -t vt "$@"
  sleep 0.3
}
# The bells the program has rung so far (BEL bytes in its output).
bells() { tr -cd '\a' <"$work/raw" | wc -c; }

# Waits until `check` succeeds, at most `seconds`.
wait_until() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@"; do
    [ $SECONDS -lt $deadline ] || fail "waited ${seconds}s for: $what"
    sleep 0.25
  done
}
on_screen() { screen | grep -Eq -- "$1"; }
off_screen() { ! screen | grep -Eq -- "$1"; }

# The port rows: the two-cell gutter ('>' cursor, '*' selected), then the
# cells: # Name Rx# Tx# CPS Err# ErrDesc Time State.
rows() { screen | awk 'NR > 3 && /(\/dev\/|127\.0\.0\.1:)/'; }
row_count() { rows | wc -l; }
all_rows() { # all_rows AWK-CONDITION: every row meets it, and there are rows
  rows | awk "BEGIN { n = 0; bad = 0 }
    { sel = substr(\$0, 2, 1); n1 = split(substr(\$0, 3), f); n++; if (!($1)) bad++ }
    END { exit !(n > 0 && bad == 0) }"
}
counters() { # "row rxBytes txBytes err" per row
  rows | awk '{ split(substr($0, 3), f); split(f[3], rx, "/"); split(f[4], tx, "/");
                print f[1], rx[1], tx[1], f[6] }'
}

step "start vesktest --demo 2"
tmuxc new-session -d -s vt -x 132 -y 34 \
  "cd '$work' && TMPDIR='$work/tmp' '$program' --demo 2 --keep-demo --log live.csv --metrics live.prom --station tui-bench --interval 1 2>'$work/err'; echo \$? >'$work/exit'"
tmuxc pipe-pane -t vt -o "cat >>'$work/raw'"
wait_until 30 "the status line" on_screen 'Comm setting: 115200,8,None,1'
wait_until 30 "every port open and refreshed" all_rows 'f[7] == "....../../0000"'
# The terminal program names itself and its platform, with the version
# that --version prints; the window tester's name appears nowhere.
version=$("$program" --version)
case "$version" in "VeskTest ($(uname -s)) - ver "*) ;; *) fail "--version printed '$version'" ;; esac
on_screen "$(sed 's/[][().]/\\&/g' <<<"$version")" || fail "the title is not '$version'"
on_screen '\? About vesktest\.\.\.' || fail "no About hint naming vesktest"
off_screen 'vesktestw\.\.\.' || fail "the screen names the window tester"
ports=$(row_count)
# Two pairs of pseudo-terminals, and the network pair: the library is built
# beside the program.
[ "$ports" -eq 6 ] || fail "expected 6 ports, saw $ports"

step "select all (a), start (s)"
keys a
wait_until 10 "every row selected" all_rows 'sel == "*"'
keys s
wait_until 10 "every row running both ways" all_rows 'f[9] == "Rx/Tx"'
sleep 1
before=$(counters)
sleep 3
after=$(counters)
paste <(echo "$before") <(echo "$after") | awk '
  { if (!($6 > $2 && $7 > $3)) { print "row " $1 " did not grow: " $0; bad = 1 }
    if ($4 != "0/0" || $8 != "0/0") { print "row " $1 " counted errors: " $0; bad = 1 } }
  END { exit bad }' || fail "counters"

step "the log gets a line per port every second while the test runs"
running_lines() { grep -c ',Rx/Tx,' "$work/live.csv" || true; }
wait_until 20 "two samples of every running port in the log" test "$(running_lines)" -ge $((2 * ports))
head -1 "$work/live.csv" | grep -q '^time,port,rx_bytes,' || fail "the log has no header"

step "the metrics file shows every port running both ways, and receiving"
# Lines matching $1 whose value is above 0.
metric_ports() {
  awk -v want="$1" '$0 ~ want && $2 + 0 > 0 { n++ } END { print n + 0 }' "$work/live.prom" 2>/dev/null
}
metrics_running() {
  [ "$(metric_ports 'vesktest_port_state.station="tui-bench".*state="both"')" -eq "$ports" ] &&
    [ "$(metric_ports '^vesktest_port_received_bytes_total.station="tui-bench"')" -eq "$ports" ]
}
wait_until 20 "every port's state and bytes in the metrics" metrics_running
if command -v promtool >/dev/null; then
  promtool check metrics <"$work/live.prom" || fail "promtool refuses the metrics file"
fi

step "settings form: a bad baud rate rings the bell and keeps the focus"
keys t
wait_until 10 "the settings form" on_screen 'HalfDuplex Timeout, ms'
on_screen '>Baudrate +\[115200' || fail "the form does not start on the baud rate"
rung=$(bells)
keys BSpace BSpace BSpace BSpace BSpace BSpace
keys 2 9 9
on_screen '>Baudrate +\[299 ' || fail "the baud rate field does not show 299"
[ "$(bells)" -gt "$rung" ] || fail "no bell for a baud rate below 300"
keys Tab
on_screen '>Byte size' || fail "Tab did not move on"
rung=$(bells)
keys Enter
wait_until 5 "the bell for OK with a bad baud rate" test "$(bells)" -gt "$rung"
on_screen 'HalfDuplex Timeout, ms' || fail "OK closed the form despite the bad baud rate"
on_screen '>Baudrate' || fail "the focus did not go back to the baud rate"
keys Escape
wait_until 5 "the form to close" off_screen 'HalfDuplex Timeout, ms'
on_screen 'Comm setting: 115200,8,None,1 .*HD Timeout: 0 ms' || fail "Cancel changed the settings"

step "modem lines (d): not while the test runs; then aside, its results in a box"
keys d
wait_until 10 "the check to refuse running ports" on_screen 'stop the test first'
keys Enter
wait_until 5 "the box to close" off_screen 'stop the test first'
keys s
wait_until 10 "every row stopped" off_screen 'Rx/Tx'
keys d
# The pseudo-terminals have no modem lines; the device server's two ports
# are joined as a null-modem cable.
wait_until 30 "the line check's results" on_screen 'RTS>CTS ok'
on_screen '1 /dev/pts/[0-9]+ > 2 /dev/pts/[0-9]+: not supported' ||
  fail "the first pair is not reported as not supported"
on_screen '5 127\.0\.0\.1:[0-9]+ > 6 127\.0\.0\.1:[0-9]+: RTS>CTS ok' ||
  fail "the network pair's lines are not reported"
keys Enter
wait_until 5 "the box to close" off_screen 'RTS>CTS'

step "flow, break, parity (f): aside, its results in a box"
keys f
# The demo sets no handshake and no parity; the device server's ports carry
# a break, the pseudo-terminals none.
wait_until 60 "the checks' results" on_screen 'break: port 6 reported it'
on_screen 'break: port 5 reported it' || fail "the break from port 6 is not reported"
on_screen 'flow: not checked \(no flow control set\)' || fail "no flow result"
on_screen 'break: not supported' || fail "the pseudo-terminals' breaks are not 'not supported'"
on_screen 'parity: not checked \(no parity set\)' || fail "no parity result"
keys Enter
wait_until 5 "the box to close" off_screen 'break: port 6'

step "quit (q)"
keys q
wait_until 60 "the program to end" test -s "$work/exit"
code=$(cat "$work/exit")
[ "$code" -eq 1 ] || fail "exit code $code, expected 1"
ini=$(sed -n 's/.*kept in //p' "$work/err")
[ -n "$ini" ] && [ -f "$ini" ] || fail "no configuration file reported"
for line in '[Ports]' 'BaudRate=115200' 'HDTimeout=0' 'BlockSize=1024' '[Window]' \
  'ColumnWidth0=40' 'ColumnWidth8=40'; do
  grep -qxF -- "$line" "$ini" || fail "$ini lacks '$line': $(cat "$ini")"
done
grep -q 'Error\|DLL Loading' "$work/err" && fail "boxes were left over: $(cat "$work/err")"
# The last file: the session ended, every port stopped.
grep -q '^vesktest_run_running{station="tui-bench",unit=""} 0$' "$work/live.prom" ||
  fail "the last metrics file does not say the session ended"
[ "$(metric_ports 'vesktest_port_state.station="tui-bench".*state="stopped"')" -eq "$ports" ] ||
  fail "the last metrics file does not show every port stopped"

step "without the network library: the box is a modal message"
mkdir "$work/nolib"
cp "$program" "$work/nolib/vesktest"
printf '[Ports]\n127.0.0.1:1\n' >"$work/nolib/bench.ini"
: >"$work/exit"
tmuxc new-session -d -s lib -x 100 -y 24 \
  "cd '$work/nolib' && ./vesktest --metrics m.prom --interval 86400 bench.ini 2>'$work/err'; echo \$? >'$work/exit'"
lib_screen() { tmuxc capture-pane -p -t lib 2>/dev/null || true; }
lib_shows() { lib_screen | grep -Eq -- "$1"; }
wait_until 30 "the box" lib_shows 'Not found qelnet.dll'
lib_shows 'DLL Loading' || fail "the box has no caption"
# The port thread waits for the operator: the row still says "Open".
lib_shows '127\.0\.0\.1:1 +Open' || fail "the row went on before the box was closed"
tmuxc send-keys -t lib Enter
wait_until 10 "the row to say Not open" lib_shows '127\.0\.0\.1:1 .*Not open'
# Why, in full, in the status line while the cursor is on that row.
lib_shows '127\.0\.0\.1:1: not opened: the network library \(qelnet\) could not be loaded' ||
  fail "the status line does not say why the port did not open"
lib_shows 'Not found' && fail "the box stayed"

step "a configuration and metrics that cannot be saved: said on stderr, exit code 1 all the same"
# The folder goes away under the running program (as root, a read-only
# folder would not stop the save). The metrics were written at the start;
# their last file at the end fails.
[ -s "$work/nolib/m.prom" ] || fail "no metrics file at the start"
rm -rf "$work/nolib"
tmuxc send-keys -t lib q
wait_until 60 "the program to end" test -s "$work/exit"
[ "$(cat "$work/exit")" -eq 1 ] || fail "exit code $(cat "$work/exit"), expected 1"
grep -q '^vesktest: Cannot save the settings to bench.ini: No such file or directory$' \
  "$work/err" || fail "the failed save was not reported: $(cat "$work/err")"
[ "$(grep -c "^vesktest: Metrics: cannot write the metrics file 'm.prom': No such file or directory; " \
  "$work/err")" -eq 1 ] || fail "the failed metrics file was not reported once: $(cat "$work/err")"
echo "PASS"
