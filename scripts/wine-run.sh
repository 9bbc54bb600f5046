#!/usr/bin/env bash
# Runs a Windows program under Wine in the prefix of a build tree.
# Usage: wine-run.sh [--build-dir DIR] program.exe [args...]
# (CTest calls it as the cross-compiling emulator, with --build-dir.)
set -euo pipefail
here=$(dirname "$0")
. "$here/wine-env.sh"
wine_build_dir_from_args "$@"
shift "$WINE_ARGS_SHIFT"
wine_env "$AM_BUILD_DIR"
wine_skip_if_unrunnable
if [ ! -f "$WINEPREFIX/.am-prefix-ready" ]; then
  echo "wine-run: no Wine prefix in $AM_BUILD_DIR; run the wine_start test (ctest sets it up) or scripts/wine-start.sh" >&2
  exit 2
fi
exec wine "$@"
