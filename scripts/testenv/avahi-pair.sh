#!/usr/bin/env bash
# Two Avahi daemons in two network namespaces joined by a veth pair, each daemon with a private
# D-Bus system bus, everything under DIR (never Avahi in the host's own namespace).
#   avahi-pair.sh start DIR   creates namespaces talvora-a-<id> and talvora-b-<id> (192.0.2.1 and
#                             192.0.2.2), starts both buses and daemons and prints, one a line,
#                             "A <netns> <bus address>" and "B <netns> <bus address>" once both
#                             daemons are up
#   avahi-pair.sh stop DIR    stops what start started (by PID) and removes the namespaces
# Needs root and `ip netns`.
set -euo pipefail
cmd=$1 dir=$2
id=$(basename "$dir" | tr -c 'A-Za-z0-9\n' '-' | tail -c 9)

start_side() { # side address
  local side=$1 addr=$2 ns="talvora-$1-$id" d="$dir/$1"
  mkdir -p "$d"
  cat > "$d/bus.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$d/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/><allow own="*"/><allow send_type="method_call"/><allow send_destination="*"/>
    <allow receive_type="*"/><allow send_interface="*"/><allow eavesdrop="true"/>
  </policy>
</busconfig>
CONF
  cat > "$d/avahi.conf" <<CONF
[server]
host-name=talvora-$side-$id
domain-name=local
use-ipv4=yes
use-ipv6=no
allow-interfaces=veth$side
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-workstation=no
publish-hinfo=no
CONF
  ip netns exec "$ns" dbus-daemon --config-file="$d/bus.conf" --nofork --nopidfile </dev/null >"$d/dbus.log" 2>&1 &
  echo $! > "$d/dbus.pid"
  for _ in $(seq 1 50); do [ -S "$d/bus" ] && break; sleep 0.1; done
  ip netns exec "$ns" sh -c "mount -t tmpfs none /run/avahi-daemon 2>/dev/null || { mkdir -p /run/avahi-daemon && mount -t tmpfs none /run/avahi-daemon; }; DBUS_SYSTEM_BUS_ADDRESS=unix:path=$d/bus exec avahi-daemon -f $d/avahi.conf --no-drop-root --no-chroot --no-rlimits" \
    </dev/null >"$d/avahi.log" 2>&1 &
  echo $! > "$d/avahi.pid"
}

case "$cmd" in
start)
  mkdir -p "$dir"
  ip netns add "talvora-a-$id"
  ip netns add "talvora-b-$id"
  ip link add vetha netns "talvora-a-$id" type veth peer name vethb netns "talvora-b-$id"
  ip -n "talvora-a-$id" addr add 192.0.2.1/24 dev vetha
  ip -n "talvora-b-$id" addr add 192.0.2.2/24 dev vethb
  for s in a b; do
    ip -n "talvora-$s-$id" link set lo up
    ip -n "talvora-$s-$id" link set "veth$s" up
  done
  start_side a 192.0.2.1
  start_side b 192.0.2.2
  for s in a b; do
    for _ in $(seq 1 100); do grep -q "Server startup complete" "$dir/$s/avahi.log" 2>/dev/null && break; sleep 0.1; done
    if ! grep -q "Server startup complete" "$dir/$s/avahi.log"; then
      echo "avahi-pair.sh: the daemon of $s did not start; its log:" >&2
      cat "$dir/$s/avahi.log" >&2 || true
      exit 1
    fi
  done
  echo "A talvora-a-$id unix:path=$dir/a/bus"
  echo "B talvora-b-$id unix:path=$dir/b/bus"
  ;;
stop)
  for s in a b; do
    for p in avahi dbus; do
      if [ -f "$dir/$s/$p.pid" ]; then
        kill "$(cat "$dir/$s/$p.pid")" 2>/dev/null || true
        rm -f "$dir/$s/$p.pid"
      fi
    done
  done
  sleep 0.2
  ip netns del "talvora-a-$id" 2>/dev/null || true
  ip netns del "talvora-b-$id" 2>/dev/null || true
  ;;
*)
  echo "usage: avahi-pair.sh start|stop DIR" >&2
  exit 2
  ;;
esac
