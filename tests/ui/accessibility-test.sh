#!/usr/bin/env bash
# The main window as a screen reader meets it: the phone on an X display with Qt's AT-SPI bridge
# on, a private session bus with its own accessibility bus, and atspi-check.py reading names,
# roles, descriptions and the focus through AT-SPI while xdotool presses Tab. The last check
# presses Exit through AT-SPI: the phone must end and store its microphone level.
#   accessibility-test.sh PATH_TO_TALVORA
# Runs in a network namespace of its own, so the phone binds its usual ports; needs root, and
# skips (exit 77) where the AT-SPI packages are missing.
set -u
program=$1
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/checks.sh"

skip() {
  echo "skipped: $*"
  exit 77
}
for c in Xvfb xdpyinfo xdotool dbus-daemon unshare ip; do
  command -v "$c" >/dev/null || skip "$c is not installed"
done
launcher=/usr/libexec/at-spi-bus-launcher
[ -x "$launcher" ] || skip "at-spi2-core is not installed"
# Debian's own Python, which has python3-pyatspi (a Python of one's own may come first in PATH).
python=/usr/bin/python3
"$python" -c 'import pyatspi' 2>/dev/null || skip "python3-pyatspi is not installed"
[ "$(id -u)" = 0 ] || skip "needs root for a network namespace of its own"
if [ -z "${TALVORA_OWN_NETNS:-}" ]; then
  exec env TALVORA_OWN_NETNS=1 unshare --net -- bash -c 'ip link set lo up && exec bash "$@"' \
    bash "$0" "$@"
fi

work=$(mktemp -d /tmp/talvora-a11y.XXXXXX)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null && wait "${pids[i]}" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 700 "$work/xdg"
mkdir "$work/config"

display=""
for n in $(seq 140 199); do
  [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || {
    display=":$n"
    break
  }
done
Xvfb "$display" -screen 0 1280x800x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done

cat >"$work/session.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$work/bus</listen>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF
dbus-daemon --config-file="$work/session.conf" --nofork --nopidfile >"$work/dbus.log" 2>&1 &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus
export XDG_RUNTIME_DIR=$work/xdg
for _ in $(seq 1 50); do [ -S "$work/bus" ] && break; sleep 0.1; done
# The accessibility bus, started here rather than by activation so that it is ours to stop.
"$launcher" --launch-immediately >"$work/at-spi.log" 2>&1 &
pids+=($!)
for _ in $(seq 1 50); do
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress \
    >/dev/null 2>&1 && break
  sleep 0.1
done

QT_QPA_PLATFORM=xcb QT_ACCESSIBILITY=1 QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
  "$program" --config-dir "$work/config" --test-camera >"$work/phone.log" 2>&1 &
pids+=($!)
phone=$!

"$python" "$here/atspi-check.py" talvora | tee "$work/atspi.out"
if [ "${PIPESTATUS[0]}" -ne 0 ] && ! grep -q '^not ok - ' "$work/atspi.out"; then
  echo "not ok - the AT-SPI check ended early" | tee -a "$work/atspi.out"
fi
passes=$((passes + $(grep -c '^ok - ' "$work/atspi.out")))
failures=$((failures + $(grep -c '^not ok - ' "$work/atspi.out")))
ended() { ! kill -0 "$phone" 2>/dev/null; }
for _ in $(seq 1 100); do ended && break; sleep 0.1; done
check "the phone ended after Exit" ended
check "and stored its microphone level" grep -q '^micVolume=85' "$work/config/Settings.ini"
if [ "$failures" -gt 0 ]; then
  echo "--- phone log"
  cat "$work/phone.log"
fi
checks_done
