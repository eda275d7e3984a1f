#!/usr/bin/env bash
# Runs a command in a private home with the services the tests need, then stops them.
# The sound server is PulseAudio, or PipeWire with its pulse server when
# VESPERTONE_SOUND_SERVER=pipewire; both offer the same devices.
set -euo pipefail
scratch=$(mktemp -d /tmp/vespertone-test.XXXXXX)
pulse_pid=
pipewire_pids=()
cleanup() {
  stop_pulseaudio
  stop_pipewire
  rm -rf "$scratch"
}
trap cleanup EXIT

export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data \
       XDG_CACHE_HOME=$scratch/cache XDG_RUNTIME_DIR=$scratch/runtime XDG_MUSIC_DIR=$scratch/home/Music
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# A private PulseAudio daemon: "speakers" is the default sink; the default source
# "microphone" carries whatever is played into the sink "mic_feed"; "studio" is an output
# of its own for tests that need silence around their tones. Works as root too.
# The loopbacks into "void" listen to the null sinks at low latency, so they render in
# small blocks as a sound card does; otherwise a new record stream waits up to two seconds
# for the next block and misses what was rendered before.
start_pulseaudio() {
  if ! command -v pulseaudio >/dev/null; then
    echo "with-test-services: pulseaudio is not installed; sound-server tests will skip" >&2
    return 0
  fi
  local config=$scratch/pulse-default.pa socket=$XDG_RUNTIME_DIR/pulse/native
  mkdir -p "$XDG_RUNTIME_DIR/pulse"
  cat >"$config" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$socket
load-module module-null-sink sink_name=speakers rate=48000 sink_properties=device.description=Speakers
load-module module-null-sink sink_name=mic_feed rate=48000 sink_properties=device.description=Microphone_feed
load-module module-remap-source source_name=microphone master=mic_feed.monitor source_properties=device.description=Microphone
load-module module-null-sink sink_name=studio rate=48000 sink_properties=device.description=Studio
load-module module-null-sink sink_name=void rate=48000 sink_properties=device.description=Void
load-module module-loopback source=speakers.monitor sink=void latency_msec=40 source_dont_move=true sink_dont_move=true
load-module module-loopback source=mic_feed.monitor sink=void latency_msec=40 source_dont_move=true sink_dont_move=true
load-module module-loopback source=studio.monitor sink=void latency_msec=40 source_dont_move=true sink_dont_move=true
set-default-sink speakers
set-default-source microphone
PA
  # Without --no-cpu-limit the daemon aborts itself when it has been busy for a while,
  # as it is on a loaded test machine.
  pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no -n -F "$config" \
    --realtime=no --high-priority=no --no-cpu-limit --log-target=file:"$scratch/pulseaudio.log" </dev/null &
  pulse_pid=$!
  export PULSE_SERVER=unix:$socket
  for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && return 0
    kill -0 "$pulse_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "with-test-services: pulseaudio did not start:" >&2
  cat "$scratch/pulseaudio.log" >&2 || true
  exit 1
}

stop_pulseaudio() {
  [ -n "$pulse_pid" ] || return 0
  if ! kill -0 "$pulse_pid" 2>/dev/null; then
    echo "with-test-services: pulseaudio ended before the tests did; its log ends:" >&2
    tail -n 30 "$scratch/pulseaudio.log" >&2 || true
  fi
  kill "$pulse_pid" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$pulse_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$pulse_pid" 2>/dev/null || true
  wait "$pulse_pid" 2>/dev/null || true
  pulse_pid=
}

# The same devices on PipeWire: its own daemon, session manager and pulse server, with a
# private session bus, made through the pulse server's modules.
start_pipewire() {
  for program in pipewire wireplumber pipewire-pulse dbus-daemon pactl; do
    if ! command -v "$program" >/dev/null; then
      echo "with-test-services: $program is not installed; run scripts/install-deps.sh --test" >&2
      exit 1
    fi
  done
  local bus_address
  bus_address=$(dbus-daemon --session --fork --print-address=1 --print-pid=3 3>"$scratch/dbus.pid")
  pipewire_pids+=("$(cat "$scratch/dbus.pid")")
  export DBUS_SESSION_BUS_ADDRESS=$bus_address PIPEWIRE_RUNTIME_DIR=$XDG_RUNTIME_DIR
  local program
  for program in pipewire wireplumber pipewire-pulse; do
    "$program" </dev/null >"$scratch/$program.log" 2>&1 &
    pipewire_pids+=($!)
    [ "$program" = pipewire ] && wait_for_file "$XDG_RUNTIME_DIR/pipewire-0"
  done
  export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
  for _ in $(seq 100); do
    pactl info >/dev/null 2>&1 && break
    sleep 0.1
  done
  if ! pactl info >/dev/null 2>&1; then
    echo "with-test-services: pipewire-pulse did not start:" >&2
    cat "$scratch"/pipewire*.log "$scratch/wireplumber.log" >&2 || true
    exit 1
  fi
  pactl load-module module-null-sink sink_name=speakers rate=48000 sink_properties=device.description=Speakers >/dev/null
  pactl load-module module-null-sink sink_name=mic_feed rate=48000 sink_properties=device.description=Microphone_feed >/dev/null
  pactl load-module module-remap-source source_name=microphone master=mic_feed.monitor source_properties=device.description=Microphone >/dev/null
  pactl load-module module-null-sink sink_name=studio rate=48000 sink_properties=device.description=Studio >/dev/null
  # The session manager keeps the defaults; they hold once it has seen the devices.
  for _ in $(seq 100); do
    pactl set-default-sink speakers 2>/dev/null && pactl set-default-source microphone 2>/dev/null \
      && [ "$(pactl get-default-sink 2>/dev/null)" = speakers ] \
      && [ "$(pactl get-default-source 2>/dev/null)" = microphone ] && return 0
    sleep 0.1
  done
  echo "with-test-services: PipeWire did not take the default devices" >&2
  exit 1
}

wait_for_file() {
  for _ in $(seq 100); do
    [ -e "$1" ] && return 0
    sleep 0.05
  done
}

stop_pipewire() {
  local pid
  for pid in "${pipewire_pids[@]}"; do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "with-test-services: process $pid of the PipeWire services ended before the tests did; logs:" >&2
      tail -n 30 "$scratch"/pipewire*.log "$scratch/wireplumber.log" >&2 || true
    fi
    kill "$pid" 2>/dev/null || true
  done
  for pid in "${pipewire_pids[@]}"; do
    for _ in $(seq 50); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  pipewire_pids=()
}

if [ "${VESPERTONE_SOUND_SERVER:-pulseaudio}" = pipewire ]; then
  start_pipewire
else
  start_pulseaudio
fi
"$@"
