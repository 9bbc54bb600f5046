#!/usr/bin/env bash
# Builds the packages into build/packages/: the Debian package from the
# `package` preset (a release build installed under /usr) and the Windows zip
# from the win32 and win64 presets (both DLLs and both albummaker.exe, the
# sample album, README-Windows.txt). Only what the packages hold is built.
# Usage: scripts/package.sh [--deb-only | --zip-only]
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${AM_JOBS:-2}
out=$PWD/build/packages
mkdir -p "$out"
want_deb=yes want_zip=yes
case "${1:-}" in
  --deb-only) want_zip=no ;;
  --zip-only) want_deb=no ;;
  "") ;;
  *) echo "usage: scripts/package.sh [--deb-only | --zip-only]" >&2; exit 2 ;;
esac

if [ "$want_deb" = yes ]; then
  echo "=== package: Debian package"
  cmake --preset package >/dev/null
  cmake --build --preset package -j"$jobs"
  (cd build/package && cpack -G DEB -B "$out" >/dev/null)
  rm -rf "$out/_CPack_Packages"
fi
if [ "$want_zip" = yes ]; then
  echo "=== package: Windows zip"
  for p in win32 win64; do
    cmake --preset "$p" >/dev/null
    cmake --build --preset "$p" -j"$jobs" --target albummaker_module albummaker_host
  done
  (cd build/win64 && cpack -G ZIP -B "$out" >/dev/null)
  rm -rf "$out/_CPack_Packages"
fi
ls -l "$out"
