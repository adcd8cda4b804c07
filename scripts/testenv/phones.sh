# Two copies of the phone on an X display of their own, each with a private PulseAudio daemon;
# sourced by the end-to-end test and the call measurement. The caller sets `work` (a private
# directory) and `here` (this folder), and kills "${pids[@]}" and stops the daemons on exit
# (phones_cleanup). Phones A and B are bound to addrA and addrB; a caller may put them in network
# namespaces (nsA, nsB: names for `ip netns exec`) and give them more options (optsA, optsB)
# before start_phones.
pids=()
addrA=127.0.0.2 addrB=127.0.0.3 nsA="" nsB="" optsA=() optsB=()

phones_cleanup() {
  # start_phone runs in a command substitution, so the phones' PIDs are only in their files.
  for p in "${pids[@]}" $(cat "$work"/*.pid 2>/dev/null); do kill "$p" 2>/dev/null; done
  bash "$here/pulse.sh" stop "$work/pa" 2>/dev/null
  bash "$here/pulse.sh" stop "$work/pb" 2>/dev/null
  wait 2>/dev/null
}

start_display() { # a free display number; exports DISPLAY
  local display n
  for n in $(seq 90 120); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] || { display=":$n"; break; }
  done
  Xvfb "$display" -screen 0 1920x1080x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
  pids+=($!)
  export DISPLAY=$display
  for _ in $(seq 1 50); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.1; done
}

start_daemons() { # sets pa and pb: the PULSE_SERVER values of A's (440 Hz) and B's (660 Hz) daemons
  mkdir -p "$work/pa" "$work/pb"
  mkdir -p -m700 "$work/a" "$work/b" # the phones' XDG_RUNTIME_DIR
  pa=$(bash "$here/pulse.sh" start "$work/pa" 440) || return 1
  pb=$(bash "$here/pulse.sh" start "$work/pb" 660) || return 1
}

# The phone reaches the X server and its sound daemon through their sockets' paths, from any
# namespace; `ip netns exec` runs it in place, so the PID is the phone's.
start_phone() { # start_phone NAME ADDRESS PULSE CAMERA [NETNS [OPTION...]] -> window id; the PID is in $work/NAME.pid
  PULSE_SERVER=$3 QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR=$work/$1 ${5:+ip netns exec "$5"} "$build/talvora" \
    --bind "$2" --config-dir "$work/$1" "--test-camera$4" "${@:6}" >"$work/$1.log" 2>&1 &
  pids+=($!)
  local pid=$! win
  echo "$pid" >"$work/$1.pid"
  for _ in $(seq 1 100); do
    win=$(xdotool search --all --pid "$pid" --name 'Brisko Talvora Video Phone' 2>/dev/null | head -1)
    [ -n "$win" ] && { echo "$win"; return 0; }
    sleep 0.1
  done
  return 1
}

# Phone A at the screen's top left, B at 920,430; CAMERA is the test camera's option tail
# ("" or "=MJPG:1280x720"). Sets winA and winB.
start_phones() { # start_phones [CAMERA]
  winA=$(start_phone a "$addrA" "$pa" "${1:-}" "$nsA" "${optsA[@]}") || { echo "not ok - phone A did not start"; cat "$work/a.log"; return 1; }
  winB=$(start_phone b "$addrB" "$pb" "${1:-}" "$nsB" "${optsB[@]}") || { echo "not ok - phone B did not start"; cat "$work/b.log"; return 1; }
  xdotool windowmove "$winA" 0 0
  xdotool windowmove "$winB" 920 430
  sleep 1.5
}

end_call() { # end_call WINDOW: its user presses End
  click "$1" 952 104
}
click() { # click WINDOW X Y (window coordinates)
  xdotool mousemove --window "$1" "$2" "$3" click 1
}
pixel() { # pixel X Y -> colour of the root window there
  import -window root -crop "1x1+$1+$2" txt:- 2>/dev/null | tail -1 | awk '{print $3}'
}

# A types B's address and presses Call; B rings (its caller line turns from the idle picture's
# pixel to text) and answers. The optional hook runs while B rings.
place_call() { # place_call [RINGING_HOOK]
  click "$winA" 900 164
  xdotool key --window "$winA" ctrl+a
  xdotool type --window "$winA" --delay 20 "$addrB"
  click "$winA" 848 104
  local callerLine
  callerLine=$(pixel 1320 443)
  for _ in $(seq 1 20); do
    [ "$(pixel 1320 443)" != "$callerLine" ] && break
    sleep 0.25
  done
  sleep 0.5
  [ -n "${1:-}" ] && "$1"
  click "$winB" 848 104
  sleep 2
}
