#!/usr/bin/env bash
# A phone with two addresses on one network answers from the address it was called on: phone B
# (192.0.2.2 and 192.0.2.3, its replies routed from .2) is called on .3, lets the ring run out
# and sends its unanswered message, which must come from .3, or the caller would take it from a
# stranger. Two network namespaces on a veth pair; needs root (exit 77 skips otherwise).
#   reply-address-test.sh PATH_TO_TALVORA
set -u
program=$1
if [ "$(id -u)" != 0 ] || ! command -v ip >/dev/null || ! command -v python3 >/dev/null; then
  echo "skipped: needs root, ip netns and python3"
  exit 77
fi
work=$(mktemp -d /tmp/talvora-reply.XXXXXX)
a=talvora-ra-$$
b=talvora-rb-$$
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  ip netns del "$a" 2>/dev/null
  ip netns del "$b" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
ip netns add "$a" && ip netns add "$b" || { echo "not ok - cannot make network namespaces"; exit 1; }
ip link add "va$$" netns "$a" type veth peer name "vb$$" netns "$b"
ip -n "$a" addr add 192.0.2.1/24 dev "va$$"
ip -n "$b" addr add 192.0.2.2/24 dev "vb$$"
ip -n "$b" addr add 192.0.2.3/24 dev "vb$$"
for n in "$a" "$b"; do ip -n "$n" link set lo up; done
ip -n "$a" link set "va$$" up
ip -n "$b" link set "vb$$" up

printf '[Settings]\r\nRingTime=1\r\nMessage=Out to lunch\r\n' >"$work/Settings.ini"
ip netns exec "$b" env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work" DBUS_SESSION_BUS_ADDRESS=disabled: \
  "$program" --config-dir "$work" --test-camera >"$work/b.log" 2>&1 &
pid=$!
for _ in $(seq 1 100); do
  ip netns exec "$b" ss -Hlun 'sport = :6767' | grep -q . && break
  sleep 0.1
done

ip netns exec "$a" python3 - <<'PY'
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("192.0.2.1", 6767))
s.settimeout(10)
s.sendto(b"Calling|probe", ("192.0.2.3", 6767))
try:
    data, sender = s.recvfrom(2048)
except socket.timeout:
    print("not ok - no answer from the called phone")
    sys.exit(1)
verdict = "ok" if sender[0] == "192.0.2.3" and data == b"Out to lunch" else "not ok"
print(f"{verdict} - the answer {data!r} came from {sender[0]}, the address called")
sys.exit(0 if verdict == "ok" else 1)
PY
status=$?
[ $status -ne 0 ] && cat "$work/b.log"
exit $status
