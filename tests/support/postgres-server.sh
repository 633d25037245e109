#!/usr/bin/env bash
# A PostgreSQL server for a test suite whose programs cannot start one
# themselves (the Windows programs under Wine), as tests/support/postgres.cpp
# starts one for a test: a fresh cluster in FOLDER, the server on a Unix
# socket there only, trust authentication for the user "vesk", run as
# "nobody" when started by root. FOLDER is made either way: the suite's
# other databases (SQLite files) go there too, and stop removes it.
#   tests/support/postgres-server.sh start FOLDER
#   tests/support/postgres-server.sh stop FOLDER
# Without Debian's postgresql package, start says so and leaves no socket:
# the tests that need the server then skip.
set -euo pipefail
action=${1:?start or stop}
folder=${2:?the folder for the server}
bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1 || true)
as=()
[ "$(id -u)" -eq 0 ] && as=(setpriv --reuid=nobody --regid=nogroup --clear-groups --reset-env)

case "$action" in
  start)
    if [ -n "$bin" ] && [ -f "$folder/data/postmaster.pid" ]; then
      "${as[@]}" "$bin/pg_ctl" -w -m fast -D "$folder/data" stop >/dev/null 2>&1 || true
    fi
    rm -rf "$folder"
    mkdir -p "$folder"
    if [ -z "$bin" ] || [ ! -x "$bin/pg_ctl" ]; then
      echo "postgres-server: no PostgreSQL here (apt-get install postgresql); its tests skip"
      exit 0
    fi
    [ "$(id -u)" -eq 0 ] && chown nobody:nogroup "$folder"
    cd "$folder"
    "${as[@]}" "$bin/initdb" --no-sync --auth=trust --username=vesk --encoding=UTF8 --locale=C \
      -D "$folder/data" >"$folder/initdb.log" 2>&1
    "${as[@]}" "$bin/pg_ctl" -w -t 60 -D "$folder/data" -l "$folder/server.log" \
      -o "-F -k $folder -c listen_addresses= -p 5432" start >/dev/null
    echo "postgres-server: on the socket in $folder"
    ;;
  stop)
    if [ -n "$bin" ] && [ -f "$folder/data/postmaster.pid" ]; then
      "${as[@]}" "$bin/pg_ctl" -w -t 60 -m fast -D "$folder/data" stop >/dev/null
    fi
    rm -rf "$folder"
    ;;
  *) echo "usage: $0 start|stop FOLDER" >&2; exit 2 ;;
esac
