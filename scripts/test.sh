#!/usr/bin/env bash
# Installs, builds and runs the whole test suite against its own services.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --test
bash scripts/build.sh
exec bash scripts/with-test-services.sh ctest --test-dir build --output-on-failure "$@"
