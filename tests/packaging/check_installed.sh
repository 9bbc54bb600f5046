#!/usr/bin/env bash
# Checks an installed albummaker tree, as cmake --install or the Debian
# package leaves it: exactly the expected files, relative run paths that find
# the private runtime inside the tree, the host answering --version and
# rendering the installed sample album byte for byte as the golden page, the
# installed module registering and serving the same page by ProgID, and the
# manual page reading without warnings.
# Usage: check_installed.sh ROOT PREFIX SOURCE_DIR VERSION
# (the files are under ROOT/PREFIX; ROOT is empty for an install in place)
set -uo pipefail
root=$1
prefix=$2
src=$3
version=$4
top=$root$prefix
golden=$src/tests/host/sample_page0.html

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

expected_files() {
  echo bin/albummaker
  echo lib/albummaker/libalbummaker.so
  echo lib/albummaker/libalbumrt.so
  (cd "$src/examples" && find album -type f | sed 's#^#share/albummaker/#')
  echo share/albummaker/album.html
  echo share/albummaker/photos.conf
  echo share/man/man1/albummaker.1.gz
  echo lib/systemd/system/albummaker@.service
}
actual_files() { (cd "$top" && find . -type f -o -type l | sed 's#^\./##' | sort); }
if ! diff <(expected_files | LC_ALL=C sort) <(actual_files | LC_ALL=C sort) >/dev/null; then
  fail "installed files"
  diff <(expected_files | LC_ALL=C sort) <(actual_files | LC_ALL=C sort) | sed 's/^/    /'
fi

runpath() { readelf -d "$1" 2>/dev/null | sed -n 's/.*(RUNPATH).*\[\(.*\)\]/\1/p'; }
[ "$(runpath "$top/bin/albummaker")" = '$ORIGIN/../lib/albummaker' ] ||
  fail "host run path: '$(runpath "$top/bin/albummaker")'"
[ "$(runpath "$top/lib/albummaker/libalbummaker.so")" = '$ORIGIN' ] ||
  fail "module run path: '$(runpath "$top/lib/albummaker/libalbummaker.so")'"
[ -z "$(runpath "$top/lib/albummaker/libalbumrt.so")" ] || fail "the runtime has a run path"
# The runtime the host loads is the tree's own.
rt=$(env -i PATH=/usr/bin:/bin ldd "$top/bin/albummaker" | sed -n 's/^\s*libalbumrt\.so => \(\S*\).*/\1/p')
[ "$(realpath -m "$rt")" = "$(realpath -m "$top/lib/albummaker/libalbumrt.so")" ] || fail "host loads libalbumrt.so from '$rt'"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
host() { env -i PATH=/usr/bin:/bin HOME="$scratch" ALBUMMAKER_REGISTRY="$scratch/registry.reg" \
  timeout 30 "$top/bin/albummaker" "$@"; }

v=$(host --version)
[ "$v" = "albummaker $version" ] || fail "--version printed '$v'"
album=$top/share/albummaker/album
template=$top/share/albummaker/album.html
host render --folder "$album" --template "$template" >"$scratch/page.html" 2>"$scratch/err"
rc=$?
[ "$rc" = 0 ] || fail "render exit code $rc: $(cat "$scratch/err")"
[ -s "$scratch/err" ] && fail "render wrote to standard error: $(cat "$scratch/err")"
cmp -s "$scratch/page.html" "$golden" || fail "the installed sample album's page differs from the golden page"

# The installed module, registered where it lies, gives the same page by ProgID.
host register "$top/lib/albummaker/libalbummaker.so" >/dev/null 2>"$scratch/err" ||
  fail "register the installed module: $(cat "$scratch/err")"
host render --progid --folder "$album" --template "$template" >"$scratch/progid.html" 2>"$scratch/err" ||
  fail "render --progid: $(cat "$scratch/err")"
cmp -s "$scratch/progid.html" "$golden" || fail "the page by ProgID differs from the golden page"
host unregister "$top/lib/albummaker/libalbummaker.so" >/dev/null || fail "unregister the installed module"

# The manual page: groff reads it without a warning, and it is this version's.
man_text=$(MANWIDTH=80 man --warnings -E UTF-8 -l "$top/share/man/man1/albummaker.1.gz" 2>"$scratch/man-err")
[ -s "$scratch/man-err" ] && fail "man warnings: $(cat "$scratch/man-err")"
grep -q "^albummaker $version " <<<"$man_text" || fail "the manual page is not of version $version"

if [ "$failures" = 0 ]; then
  echo "check_installed: all checks passed ($top)"
  exit 0
fi
echo "check_installed: $failures check(s) failed"
exit 1
