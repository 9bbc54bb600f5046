#!/usr/bin/env bash
# cmake --install of the build tree into a scratch prefix, then the checks of
# an installed tree.
# Usage: install_test.sh CMAKE BUILD_DIR SOURCE_DIR VERSION
set -euo pipefail
cmake=$1
build=$2
src=$3
version=$4
prefix=$(mktemp -d "$build/install-test.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
"$src/tests/packaging/check_installed.sh" "" "$prefix" "$src" "$version"
