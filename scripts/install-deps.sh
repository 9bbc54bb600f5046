#!/usr/bin/env bash
# Installs every Debian package the build and the tests need (Debian 12).
# Safe to run again: apt-get skips what is already installed.
set -euo pipefail

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

# widl (mingw-w64-tools) and the IDL files it imports (libwine-dev) make the
# interface header on every platform.
native_pkgs=(build-essential cmake git pkg-config libgtest-dev googletest libbenchmark-dev
             libboost-dev nginx-light clang libclang-rt-14-dev wrk chromium curl python3 file
             help2man man-db gzip dpkg-dev systemd mingw-w64-tools libwine-dev)
win_pkgs=(wine wine32:i386 wine64 g++-mingw-w64-i686 g++-mingw-w64-x86-64
          binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 python3-pefile)

# --native: only what the Linux build needs (the main job).
want=("${native_pkgs[@]}")
if [ "${1:-}" != "--native" ]; then want+=("${win_pkgs[@]}"); fi

missing=()
for p in "${want[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ "${#missing[@]}" -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

if [ "${1:-}" != "--native" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -q
$SUDO apt-get install -y -q "${missing[@]}"
