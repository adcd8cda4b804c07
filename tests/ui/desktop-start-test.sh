#!/usr/bin/env bash
# The phone listens for calls from start-up whether or not its window is ever focused, and its
# window draws, on the two desktops a Linux user has:
#   wayland  weston with its headless back end: it has no keyboard, so it never activates a window;
#   x11      Xvfb under openbox, told to neither focus new windows nor show them (they start
#            iconified), so the phone's own request to be activated finds no window to focus.
# The window is shown afterwards (x11) and must then draw its blue panel.
#   desktop-start-test.sh wayland|x11 PATH_TO_TALVORA [SCREENSHOT.png]
# Runs in a network namespace of its own, so the phone binds its usual ports; needs root, and
# skips (exit 77) where the compositor, the window manager or Qt's platform plugin is missing.
set -u
mode=$1
program=$2
keep=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/checks.sh"

skip() {
  echo "skipped: $*"
  exit 77
}
need() { # need COMMAND... : skip unless each is installed
  local c
  for c in "$@"; do command -v "$c" >/dev/null || skip "$c is not installed"; done
}

case $mode in
wayland)
  need weston weston-screenshooter convert ss unshare ip
  compgen -G "/usr/lib/*/qt6/plugins/platforms/libqwayland-generic.so" >/dev/null ||
    skip "Qt's Wayland platform plugin (qt6-wayland) is not installed"
  ;;
x11) need Xvfb xdpyinfo openbox xdotool xprop import convert ss unshare ip ;;
*)
  echo "usage: desktop-start-test.sh wayland|x11 PATH_TO_TALVORA [SCREENSHOT.png]" >&2
  exit 2
  ;;
esac
[ "$(id -u)" = 0 ] || skip "needs root for a network namespace of its own"
if [ -z "${TALVORA_OWN_NETNS:-}" ]; then
  exec env TALVORA_OWN_NETNS=1 unshare --net -- bash -c 'ip link set lo up && exec bash "$@"' \
    bash "$0" "$@"
fi

work=$(mktemp -d /tmp/talvora-desktop.XXXXXX)
pids=()
cleanup() {
  local p
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    p=${pids[i]}
    kill "$p" 2>/dev/null && wait "$p" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 700 "$work/xdg"
mkdir "$work/config" "$work/shots"

listening() { ss -Hlun 'sport = :6767' | grep -q .; }
wait_for() { # wait_for SECONDS COMMAND... : true once COMMAND succeeds
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -ge $end ] && return 1
    sleep 0.2
  done
}
# The control panel's face is plain blue (0, 111, 164): a drawn window shows tens of thousands of
# its pixels (190 x 640 at normal size).
panel_pixels() { # panel_pixels SCREENSHOT
  convert "$1" -alpha off -fill black +opaque "#006FA4" -fill white -opaque "#006FA4" \
    -format "%[fx:round(mean*w*h)]" info:
}
panel_drawn() { [ "$(panel_pixels "$1")" -gt 50000 ]; }
start_phone() { # start_phone ENV... : the phone with the test camera, its PID last in pids
  env XDG_RUNTIME_DIR="$work/xdg" DBUS_SESSION_BUS_ADDRESS=disabled: "$@" \
    "$program" --config-dir "$work/config" --test-camera >"$work/phone.log" 2>&1 &
  pids+=($!)
  phone=$!
}
phone_alive() { kill -0 "$phone" 2>/dev/null; }

if [ "$mode" = wayland ]; then
  # --debug lets weston-screenshooter take the screen.
  XDG_RUNTIME_DIR=$work/xdg weston --backend=headless-backend.so --socket=talvora-test --width=1280 \
    --height=800 --idle-time=0 --use-pixman --debug >"$work/weston.log" 2>&1 &
  pids+=($!)
  wait_for 10 test -S "$work/xdg/talvora-test" || {
    echo "not ok - weston did not start"
    cat "$work/weston.log"
    exit 1
  }
  start_phone WAYLAND_DISPLAY=talvora-test QT_QPA_PLATFORM=wayland
  check "the phone listens on UDP 6767 from start-up under Wayland" wait_for 15 listening
  shoot() {
    rm -f "$work"/shots/*.png
    (cd "$work/shots" && XDG_RUNTIME_DIR=$work/xdg WAYLAND_DISPLAY=talvora-test weston-screenshooter \
      >/dev/null 2>&1)
    shot=$(ls "$work"/shots/*.png 2>/dev/null | head -1)
    [ -n "$shot" ] && panel_drawn "$shot"
  }
  check "its window draws under weston" wait_for 15 shoot
else
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
  wait_for 10 xdpyinfo >/dev/null 2>&1 || {
    echo "not ok - Xvfb did not start"
    exit 1
  }
  cat >"$work/rc.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>no</focusNew><followMouse>no</followMouse></focus>
  <applications><application class="*"><focus>no</focus><iconic>yes</iconic></application></applications>
</openbox_config>
EOF
  HOME=$work openbox --config-file "$work/rc.xml" >"$work/openbox.log" 2>&1 &
  pids+=($!)
  wait_for 10 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' || {
    echo "not ok - openbox did not start"
    cat "$work/openbox.log"
    exit 1
  }
  start_phone QT_QPA_PLATFORM=xcb
  window=""
  find_window() {
    window=$(xdotool search --all --pid "$phone" --name 'Brisko Talvora Video Phone' 2>/dev/null | head -1)
    [ -n "$window" ]
  }
  check "the phone's window is created" wait_for 15 find_window
  check "the phone listens on UDP 6767 from start-up on X11" wait_for 15 listening
  never_focused() {
    [ -n "$window" ] && [ "$(xdotool getwindowfocus 2>/dev/null)" != "$window" ] &&
      xprop -id "$window" WM_STATE 2>/dev/null | grep -q Iconic
  }
  check "meanwhile the window was never shown or focused" never_focused
  if [ -n "$window" ]; then
    xdotool windowactivate "$window" 2>/dev/null
  fi
  shoot() {
    import -window root "$work/shots/screen.png" 2>/dev/null && panel_drawn "$work/shots/screen.png"
  }
  check "shown, its window draws under openbox" wait_for 15 shoot
fi
check "the phone is still running" phone_alive
if [ -n "$keep" ]; then
  cp "$work"/shots/*.png "$keep" 2>/dev/null
fi
if [ "$failures" -gt 0 ]; then
  echo "--- phone log"
  cat "$work/phone.log"
fi
checks_done
