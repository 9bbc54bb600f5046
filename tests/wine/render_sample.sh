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
