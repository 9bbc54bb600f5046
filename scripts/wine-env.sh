# Sourced by the wine-*.sh scripts: the Wine environment of one build tree.
# Usage: wine_env <build dir>
wine_env() {
  local build=$1
  if [ -z "$build" ] || [ ! -d "$build" ]; then
    echo "wine scripts: build directory '$build' does not exist" >&2
    return 2
  fi
  build=$(cd "$build" && pwd)
  export AM_BUILD_DIR=$build
  export WINEPREFIX=$build/wineprefix
  export WINEARCH=win32
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
