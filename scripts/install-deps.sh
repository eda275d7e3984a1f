#!/usr/bin/env bash
# Installs every Debian package needed to build, run and test the program.
# Idempotent: does nothing when all packages are present. Works as root or through sudo.
# With --test it also installs what only the tests need, with --package what packaging needs.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qcoro-qt6-dev
  libavformat-dev libavcodec-dev libavutil-dev libswresample-dev
  libsndfile1-dev libpulse-dev
  libxcb1-dev libxcb-keysyms1-dev libglib2.0-dev liblz4-dev
  ffmpeg lame yt-dlp sox
  pulseaudio pulseaudio-utils dbus dbus-x11 xvfb xdotool
  desktop-file-utils appstream man-db
)

# Browsers whose session files the tests read, a window manager and tray for the desktop
# journeys, and clang with libFuzzer and the sanitizer runtimes for scripts/fuzz.sh; only the
# test command installs them.
[ "${1:-}" = --test ] && packages+=(firefox-esr chromium openbox trayer clang libclang-rt-14-dev)
[ "${1:-}" = --package ] && packages+=(dpkg-dev lintian)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
