#!/usr/bin/env bash
# A phone announced in one network namespace is listed, with its caller ID, by the real Avahi
# source in another, and its host name resolves through Avahi there; each namespace runs its own
# Avahi daemon on a private bus. EXTRA=N also publishes N more computers (for timing the walk).
#   avahi-pair-test.sh HELPER SCRIPTS_DIR
set -uo pipefail
helper=$1 scripts=$2
if [ "$(id -u)" != 0 ] || ! ip netns list >/dev/null 2>&1; then
  echo "SKIP: needs root and 'ip netns' for two Avahi daemons in namespaces of their own"
  exit 77
fi
dir=$(mktemp -d /tmp/talvora-avahi.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  bash "$scripts/avahi-pair.sh" stop "$dir"
  rm -rf "$dir"
}
trap cleanup EXIT
out=$(bash "$scripts/avahi-pair.sh" start "$dir") || exit 1
read -r _ nsA busA <<<"$(grep '^A ' <<<"$out")"
read -r _ nsB busB <<<"$(grep '^B ' <<<"$out")"
hostA=$(sed -n 's/^host-name=//p' "$dir/a/avahi.conf").local

ip netns exec "$nsA" env DBUS_SYSTEM_BUS_ADDRESS="$busA" "$helper" publish "Anna Phone" &
pids+=($!)
for i in $(seq 1 "${EXTRA:-0}"); do
  ip netns exec "$nsA" env DBUS_SYSTEM_BUS_ADDRESS="$busA" avahi-publish -s "Computer $i" _ssh._tcp 22 \
    >/dev/null 2>&1 &
  pids+=($!)
done
sleep 1.5 # the announcements go out
ip netns exec "$nsB" env DBUS_SYSTEM_BUS_ADDRESS="$busB" "$helper" browse "Anna Phone" "$hostA" "${ROUNDS:-2}"
rc=$?
[ $rc = 0 ] && echo "ok: the phone in $nsA is listed in $nsB" || echo "not ok: the phone was not listed"
exit $rc
