#!/usr/bin/env bash
# Installs what is needed, builds every preset and runs every test:
# Linux (native, asan, tsan; arm64 cross-built, under qemu-aarch64) and
# Windows (win32 and win64, under Wine).
set -euo pipefail
cd "$(dirname "$0")/.."
windows_presets=(win32 win64)
# Never leave a Wine server behind, whatever happens to the run.
stop_wine() {
  for p in "${windows_presets[@]}"; do
    scripts/wine-stop.sh --build-dir "build/$p" >/dev/null 2>&1 || true
  done
}
trap stop_wine EXIT

scripts/install-deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
status=0
echo "=== format"
scripts/check-format.sh || status=1

run_preset() {
  local p=$1
  echo "=== preset $p"
  cmake --preset "$p" >/dev/null
  cmake --build --preset "$p" -j"$jobs"
  ctest --preset "$p" -j"$jobs" || status=1
}

for p in native asan tsan arm64 "${windows_presets[@]}"; do
  run_preset "$p"
done

# The packages, built from the trees above (the Windows ones are already
# built; the Debian package adds a release build of the shipped targets),
# unpacked and checked.
echo "=== packages"
if AM_JOBS=$jobs scripts/package.sh >/dev/null; then
  tests/packaging/check_packages.sh build/packages "$PWD" \
    "$(sed -n 's/^#define AM_VERSION_STRING "\(.*\)"$/\1/p' build/native/am_version/am_version.h)" || status=1
else
  echo "test-all: scripts/package.sh failed"
  status=1
fi

echo "=== fuzzing"
scripts/fuzz.sh || status=1

if [ "$status" -ne 0 ]; then
  echo "test-all: FAILED"
else
  echo "test-all: all presets passed"
fi
# The one allowed skip, said last so nobody mistakes it for a pass.
. scripts/wine-env.sh
if [ -f build/win32/wine-no32 ]; then
  echo "test-all: win32 Wine tests skipped: $WINE_NO32_REASON"
fi
exit "$status"
