#!/usr/bin/env bash
# The discovery under attack, with the real Avahi source, from a second namespace:
#  - namespace B announces phones whose caller IDs hold NUL, CR LF, "<" and ">", terminal escapes,
#    invalid UTF-8, 251 bytes and more, and a phone whose caller ID is too long for a TXT string;
#    A adds what it lists to an address book of two contacts, saves it and reads it back: both
#    contacts survive, and every added host hails as announced and is added once;
#  - B announces COUNT phones (default 309); A refreshes REFRESHES times (default 10) back to back
#    and as many times after abandoning a refresh part-way, and lists every phone each time.
# Root only (exit 77 skips).
#   avahi-hostile-test.sh HELPER SCRIPTS_DIR
set -uo pipefail
helper=$1 scripts=$2 count=${COUNT:-309} refreshes=${REFRESHES:-10}
if [ "$(id -u)" != 0 ] || ! ip netns list >/dev/null 2>&1; then
  echo "SKIP: needs root and 'ip netns' for two Avahi daemons in namespaces of their own"
  exit 77
fi
dir=$(mktemp -d /tmp/talvora-avahi.XXXXXX)
publisher=""
stop_publisher() {
  [ -n "$publisher" ] && kill "$publisher" 2>/dev/null && wait "$publisher" 2>/dev/null
  publisher=""
}
cleanup() {
  stop_publisher
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
publish() { # the helper itself is the background job (ip netns exec and env exec it): $! stops it
  ip netns exec "$nsB" env DBUS_SYSTEM_BUS_ADDRESS="$busB" "$helper" "$@" >"$dir/$1.log" 2>&1 &
  publisher=$!
}

publish publish-hostile
hostile_added() { # the announcements take a moment to go out
  for _ in $(seq 1 20); do
    inA hostile "$hostB" >"$dir/hostile.out" && return 0
    sleep 0.5
  done
  return 1
}
check "hostile caller IDs: the contacts survive, every host hails as announced, once" hostile_added
grep -v '^walk' "$dir/hostile.out"
stop_publisher

publish publish-many "$count"
check "$count phones: $refreshes refreshes back to back and $refreshes after abandoned ones list every one" \
  inA refresh-many "$count" "$refreshes"
stop_publisher
[ "$failures" -ne 0 ] && { echo "publisher logs:"; cat "$dir"/publish-*.log; }
checks_done
