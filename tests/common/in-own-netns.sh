#!/usr/bin/env bash
# in-own-netns.sh <program> [arguments...]
# Runs a test in a network namespace of its own in which only the loopback interface is up:
# whatever the test sends to an address outside 127.0.0.0/8 cannot leave it (a connection fails
# at once), so a test of a rule that must keep traffic off the real network is safe even when
# the rule is broken. Exit 77 (skipped) where no namespace can be made.
set -u
if ! unshare --net true 2>/dev/null; then
  echo "SKIP: no network namespace can be made here (unshare --net needs root)" >&2
  exit 77
fi
exec unshare --net -- sh -c 'ip link set lo up || exit 77; exec "$0" "$@"' "$@"
