#!/usr/bin/env bash
# Runs a command in a private home with the services the tests need, then stops them.
set -euo pipefail
scratch=$(mktemp -d /tmp/vespertone-test.XXXXXX)
cleanup() { rm -rf "$scratch"; }
trap cleanup EXIT

export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/config XDG_DATA_HOME=$scratch/data \
       XDG_CACHE_HOME=$scratch/cache XDG_RUNTIME_DIR=$scratch/runtime XDG_MUSIC_DIR=$scratch/home/Music
mkdir -p "$HOME" "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"

"$@"
