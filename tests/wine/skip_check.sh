#!/usr/bin/env bash
# The fixture's answer to "can this machine start a 32-bit program?", in a
# scratch 32-bit build tree, with a stand-in for 32-bit Wine's loader: one
# the kernel refuses with "Exec format error" makes every Wine test skip with
# the reason; a missing loader is a fault, never a skip.
# Usage: skip_check.sh SOURCE_DIR SCRATCH_DIR
set -uo pipefail
scripts=$1/scripts
scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"
echo win32 >"$scratch/wine-arch"
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

# An ELF header the kernel cannot run: what a 32-bit program meets on a
# kernel without 32-bit support.
unrunnable=$scratch/loader
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000' >"$unrunnable"
chmod +x "$unrunnable"

out=$(AM_WINE32_LOADER=$unrunnable "$scripts/wine-start.sh" --build-dir "$scratch" 2>&1); rc=$?
[ "$rc" = 77 ] || fail "wine-start exit code $rc for an unrunnable loader, expected 77: $out"
[ -f "$scratch/wine-no32" ] || fail "no marker after an unrunnable loader"
case "$out" in *"this machine runs no 32-bit programs"*) ;; *) fail "no reason given: $out" ;; esac
out=$("$scripts/wine-run.sh" --build-dir "$scratch" cmd /c exit 2>&1); rc=$?
[ "$rc" = 77 ] || fail "a test after the finding exits $rc, expected 77: $out"
case "$out" in *"this machine runs no 32-bit programs; the same tests ran on the 64-bit build"*) ;;
  *) fail "the skipped test gives no reason: $out" ;; esac

out=$(AM_WINE32_LOADER=$scratch/missing "$scripts/wine-start.sh" --build-dir "$scratch" 2>&1); rc=$?
[ "$rc" = 1 ] || fail "wine-start exit code $rc for a missing loader, expected 1: $out"
[ -f "$scratch/wine-no32" ] && fail "a missing loader left the skip marker"

rm -rf "$scratch"
[ "$failures" = 0 ] && echo "skip_check: all checks passed"
exit $((failures > 0))
