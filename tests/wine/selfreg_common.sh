# Sourced by the self-registration scripts: the Wine environment of the
# build tree, the check helpers and the entries a registration leaves.
# Usage: . selfreg_common.sh SOURCE_DIR BUILD_DIR
selfreg_source_dir=$1
. "$1/scripts/wine-env.sh"
wine_env "$2"
wine_skip_if_unrunnable

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
expect_eq() {  # name actual expected
  if [ "$2" != "$3" ]; then
    fail "$1"
    diff <(printf '%s\n' "$3") <(printf '%s\n' "$2") | sed 's/^/    /'
  fi
}

w() { timeout 120 wine "$@" </dev/null; }
winpath() { winepath -w "$1" 2>/dev/null; }
regsvr() { w regsvr32 /s "$@" >/dev/null 2>&1; echo $?; }
# One key and everything under it, as reg prints it, without blank lines;
# nothing when the key does not exist.
dump() { w reg query "$1" /s 2>/dev/null | tr -d '\r' | sed '/^$/d'; }
exists() { w reg query "$1" >/dev/null 2>&1; }
default_of() { w reg query "$1" /ve 2>/dev/null | tr -d '\r' | sed -n 's/^    (Default)    REG_SZ    //p'; }

clsid='{111D7E37-5526-458D-849C-0BA0765813EB}'
libid='{B4AF5139-BD8D-402B-939D-65FC70002BA6}'
row() { printf '    %s    REG_SZ    %s\n' "$1" "$2"; }

# The entries a registration under the classes root $1 leaves for a module
# at $2.
expected_class() {
  local root=$1 class="$1\\CLSID\\$clsid"
  printf '%s\n' "$root\\Quorrel.AlbumMaker.1"; row '(Default)' 'AlbumMaker Class'
  printf '%s\n' "$root\\Quorrel.AlbumMaker.1\\CLSID"; row '(Default)' "$clsid"
  printf '%s\n' "$root\\Quorrel.AlbumMaker"; row '(Default)' 'AlbumMaker Class'
  printf '%s\n' "$root\\Quorrel.AlbumMaker\\CLSID"; row '(Default)' "$clsid"
  printf '%s\n' "$root\\Quorrel.AlbumMaker\\CurVer"; row '(Default)' 'Quorrel.AlbumMaker.1'
  printf '%s\n' "$class"; row '(Default)' 'AlbumMaker Class'
  printf '%s\n' "$class\\InprocServer32"; row '(Default)' "$2"; row ThreadingModel Free
  printf '%s\n' "$class\\ProgID"; row '(Default)' 'Quorrel.AlbumMaker.1'
  printf '%s\n' "$class\\Programmable"
  printf '%s\n' "$class\\TypeLib"; row '(Default)' "$libid"
  printf '%s\n' "$class\\VersionIndependentProgID"; row '(Default)' 'Quorrel.AlbumMaker'
}

# The VBScript page script (selfreg_album.vbs) in folder $1, creating the
# class by ProgID, against two small albums and a template too large for the
# engine; it must end with PASS.
run_page_script() {
  local work=$1 script_out script_rc
  mkdir -p "$work/album" "$work/album2"
  touch "$work/album/a.jpg" "$work/album/b.jpg" "$work/album/c.gif" "$work/album/notes.txt"
  touch "$work/album2/x.jpg" "$work/album2/y.jpg"
  printf '^tq_FileOrdinalNumber^:^tq_CurrentFileName^' >"$work/page.html"
  printf 'T2 ^tq_CurrentFileName^/^tq_TotalFilesCount^' >"$work/page2.html"
  # Sparse, 4 GiB: the engine refuses a template that large.
  truncate -s 4G "$work/huge.html"
  cp "$selfreg_source_dir/tests/wine/selfreg_album.vbs" "$work/album.vbs"
  script_out=$(cd "$work" && w cscript //nologo album.vbs "$(winpath "$work/album")" "$(winpath "$work/page.html")" \
    "$(winpath "$work/album2")" "$(winpath "$work/page2.html")" "$(winpath "$work/huge.html")" 2>&1 | tr -d '\r')
  script_rc=$?
  echo "$script_out" | sed 's/^/  vbs: /'
  [ "$script_rc" = 0 ] || fail "VBScript exit code $script_rc"
  [ "$(echo "$script_out" | tail -n 1)" = PASS ] || fail "VBScript did not pass"
  rm -f "$work/huge.html"
}
