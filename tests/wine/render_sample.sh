#!/usr/bin/env bash
# Renders the sample album with the Windows host under Wine, the folder and
# template given as Windows paths, and compares the page byte for byte with
# the Linux rendering kept as tests/host/sample_page0.html.
# Usage: render_sample.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
album=$src/examples/album
template=$src/examples/album.html
expected=$src/tests/host/sample_page0.html
for f in "$album" "$template" "$expected"; do
  [ -e "$f" ] || { echo "render_sample: missing $f" >&2; exit 1; }
done

. "$src/scripts/wine-env.sh"
wine_env "$build"
wine_skip_if_unrunnable

run() { "$src/scripts/wine-run.sh" --build-dir "$build" "$@"; }
# Z: is the Unix root in every prefix: an absolute drive-letter path.
winpath() { printf 'Z:%s' "$(cd "$(dirname "$1")" && pwd)/$(basename "$1")" | tr / '\\'; }

out=$(mktemp "$build/render-sample.XXXXXX")
trap 'rm -f "$out"' EXIT
run "$build/albummaker.exe" render --folder "$(winpath "$album")" --template "$(winpath "$template")" >"$out"
if ! cmp "$out" "$expected"; then
  echo "render_sample: the Windows page differs from the Linux page" >&2
  diff <(od -c "$expected") <(od -c "$out") | head -20 >&2 || true
  exit 1
fi
echo "render_sample: identical ($(wc -c <"$out") bytes)"

# A non-ASCII argument reaches the album intact through the wide command
# line: the name selects its own picture, not the first one.
# (A name of letters, digits and spaces with at least one non-ASCII one, so
# its escaped form is easy to write here.)
name=$(cd "$album" && ls | LC_ALL=C grep -m1 -E \
  $'^[A-Za-z0-9 \x80-\xff]*[\x80-\xff][A-Za-z0-9 \x80-\xff]*[.](jpg|jpeg|gif)$' || true)
if [ -z "$name" ]; then
  echo "render_sample: the sample album holds no picture with a non-ASCII name" >&2
  exit 1
fi
{
  byName=$(mktemp "$build/render-name.XXXXXX")
  trap 'rm -f "$out" "$byName"' EXIT
  run "$build/albummaker.exe" render --folder "$(winpath "$album")" --template "$(winpath "$template")" \
    --name "$name" >"$byName"
  if cmp -s "$byName" "$expected"; then
    echo "render_sample: --name '$name' gave the first picture's page" >&2
    exit 1
  fi
  # The page shows the name HTML-escaped: each non-ASCII unit as &#NNNN;.
  escaped=$(printf '%s' "$name" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tu2 |
    awk '{for (i = 1; i <= NF; i++) printf($i < 32 || $i > 126) ? "&#%04d;" : "%c", $i}')
  if ! grep -qF -- "$escaped" "$byName"; then
    echo "render_sample: --name '$name' page does not show '$escaped'" >&2
    exit 1
  fi
  echo "render_sample: --name '$name' selects its picture"
}

# The version, and a folder that does not exist: the empty page, exit 0,
# and standard error naming the folder (a non-ASCII name, as given).
version=$(run "$build/albummaker.exe" --version | tr -d '\r')
if [ "$version" != "albummaker $AM_EXPECT_VERSION" ]; then
  echo "render_sample: --version printed '$version', expected 'albummaker $AM_EXPECT_VERSION'" >&2
  exit 1
fi
missing="$(winpath "$build")\\no such caf$(printf '\xc3\xa9')"
errors=$(mktemp "$build/render-missing.XXXXXX")
trap 'rm -f "$out" "$byName" "$errors"' EXIT
rc=0
run "$build/albummaker.exe" render --folder "$missing" --template "$(winpath "$template")" >"$out" 2>"$errors" || rc=$?
if [ "$rc" != 0 ] || [ -s "$out" ] ||
   ! head -n 1 "$errors" | grep -qF "albummaker render: cannot read the folder \"$missing\": "; then
  echo "render_sample: missing folder gave exit $rc, $(wc -c <"$out") bytes, and on standard error:" >&2
  cat "$errors" >&2
  exit 1
fi
echo "render_sample: a missing folder is named on standard error ($(tr -d '\r' <"$errors"))"
