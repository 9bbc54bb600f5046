# Sourced by the wine-*.sh scripts and the Wine test scripts: the Wine
# environment of one build tree.
# Usage: wine_env <build dir>

# Where a Wine test cannot run because the machine starts no 32-bit program,
# it exits with this code, which CTest reports as skipped.
WINE_SKIP_CODE=77
WINE_NO32_REASON="this machine runs no 32-bit programs; the same tests ran on the 64-bit build"

wine_env() {
  local build=$1
  if [ -z "$build" ] || [ ! -d "$build" ]; then
    echo "wine scripts: build directory '$build' does not exist" >&2
    return 2
  fi
  build=$(cd "$build" && pwd)
  export AM_BUILD_DIR=$build
  export WINEPREFIX=$build/wineprefix
  # The build's configure step records which Wine runs its images.
  if [ ! -f "$build/wine-arch" ]; then
    echo "wine scripts: $build/wine-arch is missing (not a Windows build tree?)" >&2
    return 2
  fi
  WINEARCH=$(cat "$build/wine-arch")
  export WINEARCH
  case "$WINEARCH" in
    win32) ;;
    win64)
      # /usr/bin/wine, wineboot and winepath choose the 32-bit loader
      # whenever 32-bit Wine is installed; these choose the 64-bit one.
      export WINELOADER=/usr/lib/wine/wine64
      local here
      here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
      case ":$PATH:" in *":$here/wine64:"*) ;; *) export PATH="$here/wine64:$PATH" ;; esac
      ;;
    *) echo "wine scripts: unknown Wine architecture '$WINEARCH'" >&2; return 2 ;;
  esac
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  # Debian's Wine keeps the server socket under $TMPDIR: one per build tree,
  # so two build trees (or two engineers) never share a wineserver.
  export TMPDIR=$build/wine-tmp
  mkdir -p "$TMPDIR"
  # Wine maps Unix file names and arguments through the Unix locale: without
  # a UTF-8 one, non-ASCII names come out garbled. C.UTF-8 keeps the ANSI code
  # page at 1252; a caller's LC_ALL (ja_JP.UTF-8 for code page 932) wins.
  export LC_ALL=${LC_ALL:-C.UTF-8}
  # Console programs only; never open a window or a dialog.
  unset DISPLAY WAYLAND_DISPLAY
}

# The fixture's finding that this machine starts no 32-bit program: kept in
# the build tree so every test of the run reads the one answer.
wine_no32_marker() { printf '%s/wine-no32' "$AM_BUILD_DIR"; }

# Called by every Wine test before it starts Wine: a test of a 32-bit build
# on a machine that cannot start 32-bit programs says why and is skipped.
wine_skip_if_unrunnable() {
  if [ -f "$(wine_no32_marker)" ]; then
    echo "skipped: $WINE_NO32_REASON"
    exit "$WINE_SKIP_CODE"
  fi
}

# Parses an optional leading "--build-dir DIR"; falls back to $AM_BUILD_DIR.
# Sets WINE_ARGS_SHIFT to the number of arguments consumed.
wine_build_dir_from_args() {
  WINE_ARGS_SHIFT=0
  if [ "${1:-}" = "--build-dir" ]; then
    AM_BUILD_DIR=${2:-}
    WINE_ARGS_SHIFT=2
  fi
  if [ -z "${AM_BUILD_DIR:-}" ]; then
    echo "wine scripts: pass --build-dir DIR or set AM_BUILD_DIR" >&2
    return 2
  fi
}
