#!/usr/bin/env bash
# Installs, builds and runs the whole test suite against its own services on PulseAudio, then
# the capture and playback suites again on PipeWire's pulse server.
#   bash scripts/test.sh [CTEST ARGS]              the ordinary build in build/
#   bash scripts/test.sh --sanitize [CTEST ARGS]   AddressSanitizer and UBSan in build-sanitize/;
#                                                  any report ends its process and fails its suite
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --test
if [ "${1:-}" != --sanitize ]; then
  bash scripts/build.sh
  status=0
  bash scripts/with-test-services.sh ctest --test-dir build --output-on-failure "$@" || status=1
  VESPERTONE_SOUND_SERVER=pipewire bash scripts/with-test-services.sh ctest --test-dir build --output-on-failure \
    -R '^test_(capture_pulse|recording_pulse|audio_playback)$' "$@" || status=1
  exit $status
fi
shift
# -O1 with line tables only: a quicker build whose reports still name file and line.
cmake -S . -B build-sanitize -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g1" \
  -DVESPERTONE_SANITIZE=ON -DVESPERTONE_BENCH=OFF >/dev/null
cmake --build build-sanitize
# Leaks are not looked for here: a Qt, GLib, fontconfig and PulseAudio program keeps much on
# purpose until exit, and suppressing those libraries would hide ours as well. The fuzz
# targets (scripts/fuzz.sh), which hold no such state, do look for leaks.
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=0:check_initialization_order=1:detect_stack_use_after_return=0
export UBSAN_OPTIONS=halt_on_error=1:abort_on_error=1:print_stacktrace=1:suppressions=$PWD/scripts/ubsan.supp
exec bash scripts/with-test-services.sh ctest --test-dir build-sanitize --output-on-failure "$@"
