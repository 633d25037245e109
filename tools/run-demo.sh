#!/usr/bin/env bash
# Builds the terminal tester and starts it on demo ports, from a fresh
# Debian 12 machine:
#   bash tools/run-demo.sh          # two null-modem pairs and a network pair
#   bash tools/run-demo.sh 4        # four pairs
# Installs the few packages the demo needs with apt-get first (a compiler,
# CMake, ncurses; as root or with sudo; VESK_SKIP_INSTALL=1 skips that),
# builds only vesktest and the network library, then runs
# build/linux/bin/vesktest --demo with the arguments.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "${VESK_SKIP_INSTALL:-0}" != 1 ]; then
  tools/install-deps.sh demo
fi
cmake --preset linux >/dev/null
cmake --build --preset linux --target vesktest -j "${JOBS:-2}"
exec build/linux/bin/vesktest --demo "$@"
