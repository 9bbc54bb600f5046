#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang (ASan + UBSan) in build/fuzz and
# runs each for a bounded time on a copy of its seed corpus. Exits non-zero
# when a harness reports a finding.
# Usage: scripts/fuzz.sh [seconds per harness, default 45]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-45}
harnesses=(registrar_fuzz template_fuzz render_fuzz url_fuzz registry_file_fuzz)
build=build/fuzz

CC=clang CXX=clang++ cmake -S . -B "$build" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DAM_FUZZ=ON -DAM_BUILD_TESTS=OFF -DAM_SANITIZE=address \
  -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link \
  -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link >/dev/null
cmake --build "$build" --target "${harnesses[@]}" -j2

status=0
run_harness() {
  local name=$1 seeds=$2
  local work="$build/run/$name"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/artifacts"
  cp -R "$seeds"/. "$work/corpus/"
  echo "=== fuzzing $name for ${seconds}s"
  if ! ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "$build/$name" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$work/artifacts/" "$work/corpus" >"$work/log" 2>&1; then
    echo "fuzz: $name reported a finding (artifacts in $work/artifacts):"
    tail -n 60 "$work/log"
    status=1
  else
    grep -E '^stat::number_of_executed_units|^Done' "$work/log" || true
  fi
}

for name in "${harnesses[@]}"; do
  run_harness "$name" "fuzz/corpus/${name%_fuzz}"
done
exit "$status"
