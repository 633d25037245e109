#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine.
set -euo pipefail

packages=(
  cmake make g++ clang clang-format clang-tidy cppcheck libclang-rt-14-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev libncurses-dev
  g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64
  wine64 xvfb xauth imagemagick x11-utils xdotool
  ser2net sredird socat python3 python3-serial tmux file
)

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi

export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${packages[@]}"
