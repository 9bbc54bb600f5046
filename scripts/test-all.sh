#!/usr/bin/env bash
# Installs what is needed, builds every preset and runs every test:
# Linux (native, asan, tsan) and Windows (win32, under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
# Never leave a Wine server behind, whatever happens to the run.
trap 'scripts/wine-stop.sh --build-dir build/win32 >/dev/null 2>&1 || true' EXIT

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
status=0
run_preset() {
  local p=$1
  echo "=== preset $p"
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" -j"$jobs"
  ctest --preset "$p" -j"$jobs" || status=1
}

for p in native asan tsan win32; do
  run_preset "$p"
done

if [ -x scripts/fuzz.sh ]; then
  echo "=== fuzzing"
  scripts/fuzz.sh || status=1
fi

if [ "$status" -ne 0 ]; then
  echo "test-all: FAILED"
else
  echo "test-all: all presets passed"
fi
exit "$status"
