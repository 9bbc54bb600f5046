#!/usr/bin/env bash
# The Windows host's web server under Wine, driven from Linux with curl over
# 127.0.0.1: pages by position and by a hard name, the picture a page links,
# traversals refused, 8 clients of 50 requests each, and a clean stop on
# Ctrl+C (Wine turns SIGINT into the console's Ctrl+C event).
# Usage: wine_serve.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
. "$src/scripts/wine-env.sh"
wine_env "$build"
wine_skip_if_unrunnable
command -v curl >/dev/null || { echo "wine_serve: curl is not installed" >&2; exit 1; }

work=$(mktemp -d "$build/wine-serve.XXXXXX")
pid=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill -KILL "$pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "wine_serve: $*" >&2
  if [ -f "$work/err" ]; then tail -n 20 "$work/err" >&2; fi
  exit 1
}
# Z: is the Unix root in every prefix.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
# The album's link encoding of a UTF-8 name (its UTF-16 units).
album_link() {
  printf '%s' "$1" | iconv -f UTF-8 -t UTF-16LE | od -An -v -tu2 | awk '{
    for (i = 1; i <= NF; i++) { u = $i
      if ((u >= 48 && u <= 57) || (u >= 65 && u <= 90) || (u >= 97 && u <= 122)) printf "%c", u
      else if (u == 32) printf "+"
      else if (u < 256) printf "%%%02X", u
      else printf "%%u%04X", u } }'
}
# Plain percent-encoding of a name's UTF-8 bytes.
percent() { printf '%s' "$1" | od -An -v -tx1 | awk '{ for (i = 1; i <= NF; i++) printf "%%%s", toupper($i) }'; }
# GET: the body into $1, the status on standard output.
get() { curl -s --max-time 20 -o "$1" -w '%{http_code}' "$2" || true; }

album=$work/album
mkdir "$album"
jpeg=$src/examples/album/Beach\ 01.jpg
plain="a plain.jpg"
hard="b Salt & Pepper's #1 100%.jpg"
unicode=$(printf 'c \xd0\x96\xd1\x83\xd0\xba \xf0\x9f\x98\x80.jpg')  # Жук and an emoji
for name in "$plain" "$hard" "$unicode"; do cp "$jpeg" "$album/$name"; done
printf 'c-%s' "$unicode" >>"$album/$unicode"  # each picture its own bytes
printf 'b-%s' "$hard" >>"$album/$hard"
printf 'secret-bytes' >"$work/secret.jpg"

"$src/scripts/wine-run.sh" --build-dir "$build" "$build/albummaker.exe" serve --folder "$(winpath "$album")" \
  --template "$(winpath "$src/examples/album.html")" --port 0 --threads 4 >"$work/out" 2>"$work/err" &
pid=$!
for _ in $(seq 1 150); do
  [ -s "$work/out" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the server exited before listening"
  sleep 0.2
done
url=$(head -n 1 "$work/out" | tr -d '\r')
case "$url" in http://127.0.0.1:*/) ;; *) fail "no URL printed (got '$url')" ;; esac

# Pages by position.
for i in 0 1 2; do
  [ "$(get "$work/p$i.html" "${url}?file=$i")" = 200 ] || fail "page $i"
  grep -q "Picture $((i + 1)) of 3" "$work/p$i.html" || fail "page $i shows another position"
done

# A page by a hard name, and the picture it links.
for name in "$hard" "$unicode"; do
  [ "$(get "$work/named.html" "${url}?file=$(album_link "$name")")" = 200 ] || fail "page of '$name'"
  link=$(sed -n 's/.*<img src="\([^"]*\)".*/\1/p' "$work/named.html")
  [ "$link" = "picture?file=$(album_link "$name")" ] || fail "'$name' is linked as '$link'"
  [ "$(get "$work/picture" "$url$link")" = 200 ] || fail "picture of '$name' by its link"
  cmp -s "$work/picture" "$album/$name" || fail "picture of '$name' differs"
  [ "$(get "$work/picture" "${url}pictures/$(percent "$name")")" = 200 ] || fail "/pictures/ of '$name'"
  cmp -s "$work/picture" "$album/$name" || fail "/pictures/ of '$name' differs"
done
grep -q "Picture 3 of 3" "$work/named.html" || fail "the page by name shows another position"

# Nothing outside the folder.
for target in "pictures/..%2Fsecret.jpg" "pictures/..%5Csecret.jpg" "pictures/%2E%2E%5Csecret.jpg" \
              "picture?file=..%5Csecret%2Ejpg" "picture?file=%2E%2E%2Fsecret%2Ejpg" \
              "picture?file=$(album_link "$(winpath "$work/secret.jpg")")" "pictures/a%20plain.jpg:x.jpg" \
              "pictures/A%20PLAIN.JPG" "pictures/APLAIN~1.JPG"; do
  [ "$(get "$work/refused" "$url$target")" = 404 ] || fail "$target was not refused"
  if grep -q secret-bytes "$work/refused"; then fail "$target leaked the file"; fi
done

# 8 clients at once, 50 requests each on a kept-alive connection; positions
# past the last give the first page.
clients=()
for c in $(seq 1 8); do
  curl -s --max-time 120 "${url}?file=[0-49]" -o "$work/c$c-#1.html" &
  clients+=($!)
done
for c in "${clients[@]}"; do wait "$c" || fail "a client failed"; done
for c in $(seq 1 8); do
  for k in $(seq 0 49); do
    expected=$work/p0.html
    if [ "$k" -lt 3 ]; then expected=$work/p$k.html; fi
    cmp -s "$work/c$c-$k.html" "$expected" || fail "client $c, request $k: wrong page"
  done
done

# Ctrl+C: a clean stop, exit 0.
kill -INT "$pid"
for _ in $(seq 1 100); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.2
done
kill -0 "$pid" 2>/dev/null && fail "still running 20 s after Ctrl+C"
status=0
wait "$pid" || status=$?
pid=
[ "$status" = 0 ] || fail "exit status $status after Ctrl+C"
grep -q "albummaker serve: stopped" "$work/err" || fail "no stop message"
[ "$(grep -c '" 200 ' "$work/err")" -ge 400 ] || fail "fewer than 400 requests logged"
echo "wine_serve: pages, pictures, refusals, 8 x 50 requests and a clean stop"
