#!/usr/bin/env bash
# Measurements of the discovery over Avahi, not a test (it may take minutes): how long a phone
# that was killed, and one whose whole computer vanished (its Avahi daemon killed), stay listed on
# refreshes in the other namespace (at most CAP seconds, default 150), and how long a walk takes
# with one phone and with one phone and 50 more computers, each on a host name of its own.
#   avahi-measure.sh HELPER TALVORA SCRIPTS_DIR
set -uo pipefail
helper=$1 program=$2 scripts=$3 cap=${CAP:-150}
[ "$(id -u)" = 0 ] || { echo "needs root"; exit 77; }
dir="" phone="" pids=()
stop_all() {
  for p in $phone "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  phone="" pids=()
  [ -n "$dir" ] && { bash "$scripts/avahi-pair.sh" stop "$dir"; rm -rf "$dir"; }
  dir=""
}
trap stop_all EXIT
start_all() { # a pair of namespaces with the phone running in B
  dir=$(mktemp -d /tmp/talvora-avahi.XXXXXX)
  out=$(bash "$scripts/avahi-pair.sh" start "$dir") || exit 1
  read -r _ nsA busA <<<"$(grep '^A ' <<<"$out")"
  read -r _ nsB busB <<<"$(grep '^B ' <<<"$out")"
  hostB=$(sed -n 's/^host-name=//p' "$dir/b/avahi.conf").local
  mkdir -p "$dir/phone" && chmod 700 "$dir/phone"
  printf '[Settings]\r\nCallerID=Bea Desk\r\nRingTime=1\r\n' >"$dir/phone/Settings.ini"
  ip netns exec "$nsB" env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$dir/phone" \
    DBUS_SESSION_BUS_ADDRESS=disabled: DBUS_SYSTEM_BUS_ADDRESS="$busB" \
    "$program" --config-dir "$dir/phone" --test-camera >"$dir/phone.log" 2>&1 &
  phone=$!
  for _ in $(seq 1 20); do inA browse "Bea Desk" "$hostB" 1 >/dev/null && return 0; sleep 0.5; done
  echo "the phone was not listed"; exit 1
}
inA() { ip netns exec "$nsA" env DBUS_SYSTEM_BUS_ADDRESS="$busA" "$helper" "$@"; }
inB() { ip netns exec "$nsB" env DBUS_SYSTEM_BUS_ADDRESS="$busB" "$@"; }

echo "== the phone program killed (SIGKILL)"
start_all
kill -KILL "$phone"; wait "$phone" 2>/dev/null; phone=""
inA gone "Bea Desk" "$cap" | grep -E "^(gone|still)"
stop_all

echo "== the computer of the phone vanished (its Avahi daemon killed, SIGKILL)"
start_all
kill -KILL "$(cat "$dir/b/avahi.pid")"
inA gone "Bea Desk" "$cap" | grep -E "^(gone|still)"
stop_all

echo "== walks with the phone alone"
start_all
inA browse "Bea Desk" "$hostB" 3 | grep "^walk"
echo "== walks with the phone and 50 more computers on 50 host names"
for i in $(seq 1 50); do
  inB avahi-publish -a -R "computer-$i.local" "192.0.2.$((100 + i))" >/dev/null 2>&1 &
  pids+=($!)
  inB avahi-publish -s -H "computer-$i.local" "Computer $i" _ssh._tcp 22 >/dev/null 2>&1 &
  pids+=($!)
done
sleep 3
inA browse "Bea Desk" "$hostB" 3 | grep -E "^walk"
