#!/usr/bin/env bash
# Checks every .exe and .dll in a Windows build tree's root: each must be a
# PE image of the build's architecture (pei-i386 or pei-x86-64) that imports
# only Windows system DLLs, so the C and C++ runtimes are linked in
# statically and nothing else needs shipping.
# Usage: wine-check-imports.sh BUILD_DIR OBJDUMP FORMAT [REQUIRED_IMAGE...]
# Each REQUIRED_IMAGE must exist (so a missing DLL cannot pass unnoticed).
set -uo pipefail
usage="usage: wine-check-imports.sh BUILD_DIR OBJDUMP FORMAT [REQUIRED_IMAGE...]"
build=${1:?$usage}
objdump=${2:?$usage}
expected_format=${3:?$usage}
shift 3
status=0
for required in "$@"; do
  [ -f "$required" ] || { echo "FAIL $required: not built" >&2; status=1; }
done

# Compared without regard to case, as Windows resolves DLL names.
allowed="kernel32.dll msvcrt.dll advapi32.dll ole32.dll oleaut32.dll user32.dll
shell32.dll ws2_32.dll mswsock.dll version.dll"

shopt -s nullglob nocaseglob
images=("$build"/*.exe "$build"/*.dll)
if [ ${#images[@]} -eq 0 ]; then
  echo "no .exe or .dll in $build" >&2
  exit 1
fi

for image in "${images[@]}"; do
  dump=$("$objdump" -p "$image" 2>&1) || { echo "FAIL $image: objdump: $dump" >&2; status=1; continue; }
  format=$(printf '%s\n' "$dump" | sed -n 's/.*file format \([^ ]*\).*/\1/p' | head -n1)
  if [ "$format" != "$expected_format" ]; then
    echo "FAIL $image: file format '$format', expected $expected_format" >&2
    status=1
  fi
  mapfile -t dlls < <(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p')
  bad=()
  for dll in "${dlls[@]}"; do
    lower=$(printf '%s' "$dll" | tr '[:upper:]' '[:lower:]' | tr -d '\r')
    case " $(echo $allowed) " in
      *" $lower "*) ;;
      *) bad+=("$dll") ;;
    esac
  done
  if [ ${#bad[@]} -ne 0 ]; then
    echo "FAIL $image imports non-system DLLs: ${bad[*]}" >&2
    status=1
  else
    echo "ok   $(basename "$image") ($format): ${dlls[*]}"
  fi
done
exit "$status"
