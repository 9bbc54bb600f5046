#!/usr/bin/env bash
# Stops the wineserver (and every Wine process) of a build tree's prefix.
# Usage: wine-stop.sh [--build-dir DIR]
set -uo pipefail
here=$(dirname "$0")
. "$here/wine-env.sh"
wine_build_dir_from_args "$@" || exit 0
wine_env "$AM_BUILD_DIR" || exit 0
[ -d "$WINEPREFIX" ] || exit 0
wineserver -k >/dev/null 2>&1 || true
wineserver -w
echo "wine-stop: stopped the server of $WINEPREFIX"
