#!/usr/bin/env bash
# Installs, builds and runs the whole test suite against its own services on PulseAudio, then
# the capture and playback suites again on PipeWire's pulse server.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --test
bash scripts/build.sh
status=0
bash scripts/with-test-services.sh ctest --test-dir build --output-on-failure "$@" || status=1
VESPERTONE_SOUND_SERVER=pipewire bash scripts/with-test-services.sh ctest --test-dir build --output-on-failure \
  -R '^test_(capture_pulse|recording_pulse|audio_playback)$' "$@" || status=1
exit $status
