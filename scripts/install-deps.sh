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
             help2man man-db gzip dpkg-dev systemd mingw-w64-tools libwine-dev libffi-dev clang-format)
win_pkgs=(wine wine32:i386 wine64 g++-mingw-w64-i686 g++-mingw-w64-x86-64
          binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 python3-pefile)
# The arm64 cross build (preset arm64): the cross compiler and the arm64
# libraries the runtime links, from Debian's multiarch archive.
arm64_pkgs=(g++-aarch64-linux-gnu libffi-dev:arm64)
# Its emulator, installed without its recommended binfmt handlers: CTest
# starts qemu-aarch64 itself, and the machine's handling of foreign
# executables stays as it was.
emulator_pkgs=(qemu-user)

# --native: only what the Linux build needs (the main job).
want=("${native_pkgs[@]}")
plain_want=()
if [ "${1:-}" != "--native" ]; then
  want+=("${win_pkgs[@]}" "${arm64_pkgs[@]}")
  plain_want+=("${emulator_pkgs[@]}")
fi

missing_of() {
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q "install ok installed" || echo "$p"
  done
}
mapfile -t missing < <(missing_of "${want[@]}")
mapfile -t plain_missing < <(missing_of "${plain_want[@]}")
if [ "${#missing[@]}" -eq 0 ] && [ "${#plain_missing[@]}" -eq 0 ]; then
  echo "install-deps: everything is installed"
  exit 0
fi

if [ "${1:-}" != "--native" ]; then
  for arch in i386 arm64; do
    if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
      $SUDO dpkg --add-architecture "$arch"
    fi
  done
fi
$SUDO apt-get update -q
if [ "${#missing[@]}" -gt 0 ]; then
  $SUDO apt-get install -y -q "${missing[@]}"
fi
if [ "${#plain_missing[@]}" -gt 0 ]; then
  $SUDO apt-get install -y -q --no-install-recommends "${plain_missing[@]}"
fi
