#!/usr/bin/env bash
# Self-registration of albummaker.dll under Wine, end to end: regsvr32 and
# regsvr32 /u, the entries read back with reg query, copies of the DLL in
# awkward places, a VBScript page script and a C++ client creating the class
# by ProgID. Needs the persistent wineserver of the wine fixture: registry
# changes reach the prefix's files only when the server exits, so everything
# is read back through Wine's own reg.
# Usage: selfreg.sh SOURCE_DIR BUILD_DIR CLIENT_EXE
set -uo pipefail
source_dir=$1
build=$2
client=$3
. "$source_dir/tests/wine/selfreg_common.sh" "$source_dir" "$build"

dll=$build/albummaker.dll
work=$build/selfreg-work
rm -rf "$work"
mkdir -p "$work"

root=HKEY_CLASSES_ROOT
class="$root\\CLSID\\$clsid"

# The entries registration must leave, for a module at $1.
expected() { expected_class "$root" "$1"; }
actual() {
  dump "$root\\Quorrel.AlbumMaker.1"
  dump "$root\\Quorrel.AlbumMaker"
  dump "$class"
}
# Quorrel.AlbumMaker's dump also lists nothing of Quorrel.AlbumMaker.1: reg
# matches keys by exact name.

# Registration and the entries it leaves.
expect_eq "regsvr32 exit code" "$(regsvr "$(winpath "$dll")")" 0
expect_eq "entries after registration" "$(actual)" "$(expected "$(winpath "$dll")")"
expect_eq "type library path" "$(default_of "$root\\TypeLib\\$libid\\1.0\\0\\$WINEARCH")" "$(winpath "$dll")"

# Twice: the same entries, a stray sub key of the class key gone.
w reg add "$class\\Stray" /f >/dev/null 2>&1
expect_eq "second registration exit code" "$(regsvr "$(winpath "$dll")")" 0
expect_eq "entries after registering twice" "$(actual)" "$(expected "$(winpath "$dll")")"

# Unregistration keeps a class key that holds a foreign sub key, and CLSID.
w reg add "$class\\Foreign" /f >/dev/null 2>&1
expect_eq "regsvr32 /u exit code" "$(regsvr /u "$(winpath "$dll")")" 0
exists "$class\\Foreign" || fail "foreign sub key removed"
exists "$class" || fail "class key with a foreign sub key removed"
exists "$class\\InprocServer32" && fail "InprocServer32 left"
exists "$class\\Programmable" && fail "Programmable left"
exists "$root\\Quorrel.AlbumMaker" && fail "Quorrel.AlbumMaker left"
exists "$root\\Quorrel.AlbumMaker.1" && fail "Quorrel.AlbumMaker.1 left"
exists "$root\\TypeLib\\$libid" && fail "type library left registered"
exists "$root\\CLSID" || fail "CLSID removed"
w reg delete "$class" /f >/dev/null 2>&1
# Without the foreign key the class key goes; unregistering again succeeds.
expect_eq "re-registration exit code" "$(regsvr "$(winpath "$dll")")" 0
expect_eq "regsvr32 /u exit code, plain" "$(regsvr /u "$(winpath "$dll")")" 0
exists "$class" && fail "class key left"
exists "$root\\CLSID" || fail "CLSID removed"
expect_eq "unregistering an unregistered module" "$(regsvr /u "$(winpath "$dll")")" 0

# A folder whose name holds single quotes: the path is written unchanged.
quoted="$work/it's a 'quoted' folder"
mkdir -p "$quoted" && cp "$dll" "$quoted/albummaker.dll"
expect_eq "quoted folder exit code" "$(regsvr "$(winpath "$quoted/albummaker.dll")")" 0
expect_eq "quoted folder entries" "$(actual)" "$(expected "$(winpath "$quoted/albummaker.dll")")"

# Moved and renamed, registered again: the new path, also for the library.
mkdir -p "$work/one" "$work/two"
cp "$dll" "$work/one/albummaker.dll"
expect_eq "first place exit code" "$(regsvr "$(winpath "$work/one/albummaker.dll")")" 0
mv "$work/one/albummaker.dll" "$work/two/moved.dll"
expect_eq "moved module exit code" "$(regsvr "$(winpath "$work/two/moved.dll")")" 0
expect_eq "moved module InprocServer32" "$(default_of "$class\\InprocServer32")" "$(winpath "$work/two/moved.dll")"
expect_eq "moved module type library" "$(default_of "$root\\TypeLib\\$libid\\1.0\\0\\$WINEARCH")" \
  "$(winpath "$work/two/moved.dll")"
regsvr /u "$(winpath "$work/two/moved.dll")" >/dev/null

# A path that does not fit 260 bytes, and one the ANSI code page cannot
# represent: refused, nothing written.
# Wine loads no module at a path that long (regsvr32 exits 3); either way
# nothing may be written. A path of 259 characters still fits the buffer.
deep=$work/long
while [ ${#deep} -lt 280 ]; do deep=$deep/a-folder-with-a-long-name; done
mkdir -p "$deep" && cp "$dll" "$deep/albummaker.dll"
[ "$(regsvr "$(winpath "$deep/albummaker.dll")")" != 0 ] || fail "long path registered"
exists "$root\\Quorrel.AlbumMaker" && fail "long path: entries written"
exists "$class" && fail "long path: class key written"
fits=$work/f
# "Z:" and the Unix path: 2 + 242 + 15 ("/albummaker.dll") characters.
fits=$fits$(printf '%*s' $((242 - ${#fits})) '' | tr ' ' x)
mkdir -p "$fits" && cp "$dll" "$fits/albummaker.dll"
fits_w=$(winpath "$fits/albummaker.dll")
expect_eq "259-character path length" "${#fits_w}" 259
expect_eq "259-character path exit code" "$(regsvr "$fits_w")" 0
expect_eq "259-character path InprocServer32" "$(default_of "$class\\InprocServer32")" "$fits_w"
regsvr /u "$fits_w" >/dev/null
foreign="$work/$(printf '\xd0\x90\xd0\xbb\xd1\x8c\xd0\xb1\xd0\xbe\xd0\xbc')"
mkdir -p "$foreign" && cp "$dll" "$foreign/albummaker.dll"
expect_eq "non-ANSI path exit code" "$(regsvr "$(winpath "$foreign/albummaker.dll")")" 5
exists "$root\\Quorrel.AlbumMaker" && fail "non-ANSI path: entries written"
exists "$class" && fail "non-ANSI path: class key written"

# Hosts: a page script and a C++ client, against the DLL registered in place.
expect_eq "registration for the hosts" "$(regsvr "$(winpath "$dll")")" 0
run_page_script "$work"

AM_SELFREG_FOLDER=$(winpath "$work/album") AM_SELFREG_TEMPLATE=$(winpath "$work/page.html") \
  w "$client" 2>&1 | tr -d '\r' | sed 's/^/  client: /'
[ "${PIPESTATUS[0]}" = 0 ] || fail "C++ client"

# The Windows host creates the component by ProgID as well.
page=$(w "$build/albummaker.exe" render --progid --folder "$(winpath "$work/album")" \
  --template "$(winpath "$work/page.html")" --index 1 2>&1 | tr -d '\r')
expect_eq "albummaker render --progid" "$page" "2:b.jpg"

expect_eq "final unregistration" "$(regsvr /u "$(winpath "$dll")")" 0
exists "$root\\Quorrel.AlbumMaker" && fail "entries left at the end"

if [ "$failures" = 0 ]; then
  rm -rf "$work"
  echo "selfreg: all checks passed"
  exit 0
fi
echo "selfreg: $failures check(s) failed"
exit 1
