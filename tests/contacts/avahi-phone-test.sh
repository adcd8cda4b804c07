#!/usr/bin/env bash
# The network discovery end to end with the real phone program: the phone runs in namespace B
# and announces itself through B's Avahi daemon; from namespace A, with the real Avahi source,
# it is listed under its caller ID and .local name, "Add Host Names To List" adds it once, a call
# to its .local name (looked up through multicast DNS) reaches it and brings back its unanswered
# message, and once it is stopped the next refresh no longer lists it. Root only (exit 77 skips).
#   avahi-phone-test.sh HELPER TALVORA SCRIPTS_DIR
set -uo pipefail
helper=$1 program=$2 scripts=$3
if [ "$(id -u)" != 0 ] || ! ip netns list >/dev/null 2>&1; then
  echo "SKIP: needs root and 'ip netns' for two Avahi daemons in namespaces of their own"
  exit 77
fi
dir=$(mktemp -d /tmp/talvora-avahi.XXXXXX)
phone=""
cleanup() {
  [ -n "$phone" ] && kill "$phone" 2>/dev/null && wait "$phone" 2>/dev/null
  bash "$scripts/avahi-pair.sh" stop "$dir"
  rm -rf "$dir"
}
trap cleanup EXIT
source "$(dirname "$0")/../support/checks.sh"
out=$(bash "$scripts/avahi-pair.sh" start "$dir") || exit 1
read -r _ nsA busA <<<"$(grep '^A ' <<<"$out")"
read -r _ nsB busB <<<"$(grep '^B ' <<<"$out")"
hostB=$(sed -n 's/^host-name=//p' "$dir/b/avahi.conf").local
inA() { ip netns exec "$nsA" env DBUS_SYSTEM_BUS_ADDRESS="$busA" "$helper" "$@"; }

callerId="Bea Desk"
message="Out to lunch"
mkdir -p "$dir/phone" && chmod 700 "$dir/phone"
printf '[Settings]\r\nCallerID=%s\r\nRingTime=1\r\nMessage=%s\r\n' "$callerId" "$message" >"$dir/phone/Settings.ini"
ip netns exec "$nsB" env QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$dir/phone" \
  DBUS_SESSION_BUS_ADDRESS=disabled: DBUS_SYSTEM_BUS_ADDRESS="$busB" \
  "$program" --config-dir "$dir/phone" --test-camera >"$dir/phone.log" 2>&1 &
phone=$!
for _ in $(seq 1 100); do
  ip netns exec "$nsB" ss -Hlun 'sport = :6767' | grep -q . && break
  sleep 0.1
done

listed() { # the announcement may take a moment to go out
  for _ in $(seq 1 10); do
    inA browse "$callerId" "$hostB" 1 && return 0
    sleep 0.5
  done
  return 1
}
check "the phone is listed as \"Computer Name: $callerId\", \\\\$hostB, a Talvora phone" listed
check "Add Host Names To List adds it once" inA add "$callerId" "$hostB"
check "a call to $hostB brings back its unanswered message from its address" inA call "$hostB" "$message"
kill -TERM "$phone"
wait "$phone" 2>/dev/null
phone=""
# Its daemon withdraws the announcement as the program's bus connection closes; a withdrawal is
# kept one second more by the other daemons (multicast DNS goodbye), so the next refresh after that
# must not list it.
sleep 1
check "once the phone has stopped, the next refresh no longer lists it" inA gone "$callerId" 0

[ "$failures" -ne 0 ] && { echo "phone log:"; cat "$dir/phone.log"; }
checks_done
