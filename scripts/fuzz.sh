#!/usr/bin/env bash
# Builds the libFuzzer targets with clang into build-fuzz/ and runs each for a while.
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]     (default: 30 seconds each, every target)
# New inputs and any crashing one go to a scratch folder; a failing input is printed and ends
# the run with an error. Keep it as fuzz/regressions/TARGET/NAME so the test suite replays it.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(chromiumSession firefoxSession sidecar hotKey mp3Gapless containerHeader)

bash scripts/install-deps.sh --test
cmake -S fuzz -B build-fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz

scratch=$(mktemp -d /tmp/vespertone-fuzz.XXXXXX)
trap 'rm -rf "$scratch"' EXIT
export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
failed=0
for target in "${targets[@]}"; do
  mkdir -p "$scratch/$target/corpus" "$scratch/$target/artifacts"
  echo "fuzz: $target for ${seconds}s"
  kept=()
  for folder in "fuzz/corpus/$target" "fuzz/regressions/$target"; do
    [ -d "$folder" ] && kept+=("$folder")
  done
  if ! build-fuzz/fuzz_"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
      -print_final_stats=1 -artifact_prefix="$scratch/$target/artifacts/" \
      "$scratch/$target/corpus" "${kept[@]}" >"$scratch/$target/log" 2>&1; then
    failed=1
    tail -n 60 "$scratch/$target/log" >&2
    for artifact in "$scratch/$target/artifacts"/*; do
      [ -e "$artifact" ] || continue
      keep="fuzz/regressions/$target/$(basename "$artifact")"
      mkdir -p "fuzz/regressions/$target"
      cp "$artifact" "$keep"
      echo "fuzz: $target failed on $keep (kept; commit it with the fix)" >&2
    done
  fi
  grep -E '^(stat::number_of_executed_units|stat::peak_rss_mb)' "$scratch/$target/log" || true
done
exit $failed
