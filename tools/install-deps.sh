#!/usr/bin/env bash
# Installs the Debian 12 packages a task needs:
#   tools/install-deps.sh demo   the terminal tester and its network library
#   tools/install-deps.sh all    every build, test, package and check (default)
# Nothing is done when every package is there already, so a user who has
# them needs no root. Otherwise apt-get runs as root, or through sudo; with
# neither, the script prints the command to run as root and fails.
set -euo pipefail

set_name=${1:-all}

demo=(cmake make g++ libncurses-dev libsqlite3-dev libpq-dev unixodbc-dev)
all=(
  "${demo[@]}"
  clang clang-format clang-tidy cppcheck libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
  wine64 xvfb xauth imagemagick x11-utils xdotool
  ser2net sredird socat python3 python3-serial tmux file
  postgresql python3-junitparser python3-jsonschema prometheus prometheus-node-exporter
  unixodbc libsqliteodbc odbc-postgresql
  dpkg-dev pkg-config help2man chromium
)

case "$set_name" in
  demo) packages=("${demo[@]}") ;;
  all) packages=("${all[@]}") ;;
  *) echo "usage: $0 [demo|all]" >&2; exit 2 ;;
esac

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "install-deps: every package of the '$set_name' set is installed"
  exit 0
fi

if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "install-deps: these packages are missing: ${missing[*]}" >&2
  echo "install-deps: run as root, then start again:" >&2
  echo "    apt-get update && apt-get install -y --no-install-recommends ${missing[*]}" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
