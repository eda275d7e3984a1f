#!/usr/bin/env bash
# Runs a command in a private home with the services the tests need, then stops them.
set -euo pipefail
scratch=$(mktemp -d /tmp/vespertone-test.XXXXXX)
pulse_pid=
cleanup() {
  stop_pulseaudio
  rm -rf "$scratch"
}
trap cleanup EXIT

export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data \
       XDG_CACHE_HOME=$scratch/cache XDG_RUNTIME_DIR=$scratch/runtime XDG_MUSIC_DIR=$scratch/home/Music
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

# A private PulseAudio daemon: "speakers" is the default sink; the default source
# "microphone" carries whatever is played into the sink "mic_feed". Works as root too.
# The loopbacks into "void" listen to both null sinks at low latency, so they render in
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
load-module module-null-sink sink_name=void rate=48000 sink_properties=device.description=Void
load-module module-loopback source=speakers.monitor sink=void latency_msec=40 source_dont_move=true sink_dont_move=true
load-module module-loopback source=mic_feed.monitor sink=void latency_msec=40 source_dont_move=true sink_dont_move=true
set-default-sink speakers
set-default-source microphone
PA
  pulseaudio --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no -n -F "$config" \
    --realtime=no --high-priority=no --log-target=file:"$scratch/pulseaudio.log" </dev/null &
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
  kill "$pulse_pid" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$pulse_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$pulse_pid" 2>/dev/null || true
  wait "$pulse_pid" 2>/dev/null || true
  pulse_pid=
}

start_pulseaudio
"$@"
