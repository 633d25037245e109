#!/usr/bin/env bash
# Runs a test program in a network namespace of its own whose loopback
# carries Ethernet-sized segments (MTU 1500, as a device server's network
# does) instead of loopback's 64 KB: the same program sees its TCP data
# move in small steps. Needs root (unshare -n); without it the test is
# skipped (exit 77).
set -u
if ! unshare -n true 2>/dev/null; then
  echo "small_segments.sh: no network namespace for this user (root needed): skipped"
  exit 77
fi
exec unshare -n sh -c 'ip link set lo mtu 1500 up && exec "$@"' sh "$@"
