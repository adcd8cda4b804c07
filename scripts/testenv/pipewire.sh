#!/usr/bin/env bash
# Starts a private PipeWire instance as a Debian 12 desktop runs it: pipewire, wireplumber and
# pipewire-pulse (its PulseAudio service) on a session bus of their own under DIR, with the
# devices pulse.sh makes: a null sink "spk" (its monitor records what is played) and a pipe
# microphone "mic". The PulseAudio socket is linked at DIR/native, as pulse.sh has it.
#   pipewire.sh start DIR pipe   prints the PULSE_SERVER value once the service answers; "mic" is
#                                fed through the FIFO DIR/mic.fifo with 48 kHz mono s16le, and is
#                                not clocked: the writer sets the pace
#   pipewire.sh stop DIR         stops what was started for DIR (by PID, never by name)
# Debian's configuration is used with one change: PipeWire takes a four times larger minimum
# quantum (21 ms instead of 5) when it finds itself in a virtual machine, as on our build
# machines; that is left out, so that what is measured is what a desktop does. The programs log
# to DIR/*.log.
set -euo pipefail
cmd=$1 dir=$2 mode=${3:-pipe}

stop() {
  if [ -f "$dir/pids" ]; then
    # The PulseAudio service first and the bus last: each depends on the ones after it.
    for pid in $(tac "$dir/pids"); do kill "$pid" 2>/dev/null || true; done
    rm -f "$dir/pids"
  fi
}

case "$cmd" in
start)
  if [ "$mode" != pipe ]; then
    echo "pipewire.sh: only a pipe microphone (pipewire.sh start DIR pipe)" >&2
    exit 2
  fi
  mkdir -p -m700 "$dir/xdg" "$dir/config" "$dir/state" "$dir/conf"
  for conf in pipewire.conf pipewire-pulse.conf client.conf; do
    sed '/vm.overrides = {/,/}/d' "/usr/share/pipewire/$conf" > "$dir/conf/$conf"
  done
  export HOME=$dir XDG_RUNTIME_DIR=$dir/xdg XDG_CONFIG_HOME=$dir/config XDG_STATE_HOME=$dir/state
  export PIPEWIRE_CONFIG_DIR=$dir/conf DBUS_SESSION_BUS_ADDRESS=unix:path=$dir/bus
  unset PULSE_SERVER PIPEWIRE_REMOTE
  : > "$dir/pids"
  dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --nofork --nopidfile \
    </dev/null >"$dir/dbus.log" 2>&1 &
  echo $! >> "$dir/pids"
  for _ in $(seq 1 50); do [ -S "$dir/bus" ] && break; sleep 0.1; done
  pipewire </dev/null >"$dir/pipewire.log" 2>&1 &
  echo $! >> "$dir/pids"
  for _ in $(seq 1 50); do [ -S "$dir/xdg/pipewire-0" ] && break; sleep 0.1; done
  wireplumber </dev/null >"$dir/wireplumber.log" 2>&1 &
  echo $! >> "$dir/pids"
  pipewire-pulse </dev/null >"$dir/log" 2>&1 &
  echo $! >> "$dir/pids"
  server="unix:$dir/xdg/pulse/native"
  for _ in $(seq 1 100); do
    if PULSE_SERVER=$server pactl info >/dev/null 2>&1; then
      ln -sf "$dir/xdg/pulse/native" "$dir/native"
      export PULSE_SERVER=$server
      pactl load-module module-null-sink sink_name=spk rate=48000 >/dev/null
      pactl load-module module-pipe-source source_name=mic file="$dir/mic.fifo" format=s16le rate=48000 \
        channels=1 >/dev/null
      # The devices appear to the PulseAudio service a moment after their modules load.
      for _ in $(seq 1 50); do
        pactl set-default-sink spk 2>/dev/null && pactl set-default-source mic 2>/dev/null && break
        sleep 0.1
      done
      echo "unix:$dir/native"
      exit 0
    fi
    sleep 0.1
  done
  echo "pipewire.sh: PipeWire's PulseAudio service did not start; its logs:" >&2
  tail -n 20 "$dir"/*.log >&2 || true
  stop
  exit 1
  ;;
stop)
  stop
  ;;
*)
  echo "usage: pipewire.sh start DIR pipe | stop DIR" >&2
  exit 2
  ;;
esac
