#!/usr/bin/env bash
# Prepares the Wine prefix of a build tree and starts its persistent server.
# Usage: wine-start.sh [--build-dir DIR]
# The prefix is created in one step (nothing else may use it meanwhile: a
# fresh prefix used in parallel races) and reused while the Wine version it
# was made with is still the installed one.
set -euo pipefail
here=$(dirname "$0")
. "$here/wine-env.sh"
wine_build_dir_from_args "$@"
wine_env "$AM_BUILD_DIR"

# A 32-bit build runs under 32-bit Wine, which only a machine that starts
# 32-bit programs can run. Asked once, here, by starting one (32-bit Wine's
# own loader): a kernel without 32-bit support refuses it with "Exec format
# error", and only that makes the tests skip. Any other failure is a fault.
rm -f "$(wine_no32_marker)"
if [ "$WINEARCH" = win32 ]; then
  loader=${AM_WINE32_LOADER:-/usr/lib/wine/wine}
  if ! probe=$("$loader" --version 2>&1 </dev/null); then
    case "$probe" in
      *"Exec format error"*)
        : >"$(wine_no32_marker)"
        echo "wine-start: $loader: $probe"
        echo "skipped: $WINE_NO32_REASON"
        exit "$WINE_SKIP_CODE" ;;
    esac
    echo "wine-start: 32-bit Wine does not start: $probe" >&2
    exit 1
  fi
fi

# A server left from an interrupted run would hold an old prefix open.
wineserver -k >/dev/null 2>&1 || true
wineserver -w

stamp=$WINEPREFIX/.am-prefix-ready
version=$(wine --version)
if [ ! -f "$stamp" ] || [ "$(cat "$stamp")" != "$version" ]; then
  echo "wine-start: creating a $WINEARCH prefix in $WINEPREFIX"
  rm -rf "$WINEPREFIX"
  # Detached from our pipes so the server it spawns cannot hold them open.
  wineboot -i </dev/null >"$TMPDIR/wineboot.log" 2>&1 || {
    cat "$TMPDIR/wineboot.log" >&2; exit 1; }
  wineserver -w
  # A crashing test prints a backtrace instead of waiting on a dialog.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
    </dev/null >/dev/null 2>&1
  wineserver -w
  printf '%s\n' "$version" >"$stamp"
fi

# A persistent server detached from CTest's pipes: each later wine process
# then starts in about 0.1 s. The idle timeout only matters if the cleanup
# step never runs (ctest killed): the server then still goes away by itself.
wineserver -p120 </dev/null >/dev/null 2>&1
# The warm-up starts Wine's background services, which inherit its standard
# handles: they must not inherit CTest's pipes either.
wine cmd /c exit </dev/null >"$TMPDIR/warmup.log" 2>&1 || {
  cat "$TMPDIR/warmup.log" >&2; exit 1; }
echo "wine-start: ready ($version, prefix $WINEPREFIX)"
