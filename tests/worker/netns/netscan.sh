#!/usr/bin/env bash
# Runs the network scan's subnet sweep between two network namespaces made for this run only:
#   ns1: the program, 10.213.7.1/16 (a /16, of which the sweep must take only its own /24)
#   ns2: simulated devices (orvo-devsim) at 10.213.7.20 and .30 (to be found), 10.213.7.255 (a
#        host of the /16 that the /24 sweep must not probe) and 10.213.8.5 (outside the /24)
# joined by a veth pair. The namespaces, the veth pair and the device process are removed on
# every exit. Exit 77 when namespaces cannot be made here.
#
#   netscan.sh <netscan_helper> <orvo-devsim>
set -u
helper=${1:?usage: netscan.sh <netscan_helper> <orvo-devsim>}
devsim=${2:?usage: netscan.sh <netscan_helper> <orvo-devsim>}
port=51000

if [ "$(id -u)" != 0 ]; then echo "SKIP: network namespaces need root" >&2; exit 77; fi
if ! command -v ip >/dev/null 2>&1; then echo "SKIP: the ip command is missing" >&2; exit 77; fi

ns1=orvo-scan1-$$
ns2=orvo-scan2-$$
veth1=ova$$
veth2=ovb$$
work=$(mktemp -d)
devices_pid=

cleanup() {
  if [ -n "$devices_pid" ]; then
    kill "$devices_pid" 2>/dev/null
    wait "$devices_pid" 2>/dev/null
  fi
  ip netns del "$ns1" 2>/dev/null
  ip netns del "$ns2" 2>/dev/null
  ip link del "$veth1" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

if ! ip netns add "$ns1" 2>"$work/err"; then
  echo "SKIP: cannot create a network namespace: $(cat "$work/err")" >&2
  exit 77
fi
set -e
ip netns add "$ns2"
ip link add "$veth1" type veth peer name "$veth2"
ip link set "$veth1" netns "$ns1"
ip link set "$veth2" netns "$ns2"
ip -n "$ns1" addr add 10.213.7.1/16 dev "$veth1"
for a in 10.213.7.20 10.213.7.30 10.213.7.255 10.213.8.5; do
  ip -n "$ns2" addr add "$a/16" dev "$veth2"
done
for ns in "$ns1" "$ns2"; do ip -n "$ns" link set lo up; done
ip -n "$ns1" link set "$veth1" up
ip -n "$ns2" link set "$veth2" up
set +e

# The devices serve until they are sent SIGTERM; each listed on stdout once it listens.
ip netns exec "$ns2" "$devsim" --port "$port" --kvr10 10.213.7.20 --kvr10 10.213.7.30 --kvr10 10.213.7.255 \
  --kvr10 10.213.8.5 >"$work/devices-out" 2>"$work/devices-err" &
devices_pid=$!
for _ in $(seq 1 200); do
  grep -q 10.213.8.5 "$work/devices-out" 2>/dev/null && break
  kill -0 "$devices_pid" 2>/dev/null || break
  sleep 0.05
done
if ! grep -q 10.213.8.5 "$work/devices-out" 2>/dev/null; then
  echo "the simulated devices did not start: $(cat "$work/devices-err")" >&2
  exit 1
fi

timeout 170 ip netns exec "$ns1" "$helper" "$port" 10.213.7.1
