#!/usr/bin/env bash
# Requests per second of `albummaker serve` under wrk on loopback: album pages
# of the sample album and of a generated 10,000-picture album, each against
# the same server answering a fixed page of the same size (the server's own
# cost without rendering).
#
#   bench/serve_bench.sh [BUILD_DIR]     (default build/release)
#
# Environment: DURATION (wrk seconds, default 10), CONNECTIONS (default 4),
# WRK_THREADS (default 1), SERVER_THREADS (default 8, as serve).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
duration=${DURATION:-10}
connections=${CONNECTIONS:-4}
wrk_threads=${WRK_THREADS:-1}
server_threads=${SERVER_THREADS:-8}
host="$build/albummaker"

command -v wrk >/dev/null || { echo "serve_bench: wrk is not installed" >&2; exit 1; }
command -v curl >/dev/null || { echo "serve_bench: curl is not installed" >&2; exit 1; }
if [ ! -x "$host" ]; then
  cmake --preset release >/dev/null
  cmake --build "$build" --target albummaker_host -j2 >&2
fi

work=$(mktemp -d)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill -TERM "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# Starts the server on a free port; sets $url.
start_server() {
  "$host" serve --port 0 --threads "$server_threads" "$@" >"$work/url" 2>/dev/null &
  server_pid=$!
  for _ in $(seq 1 100); do
    [ -s "$work/url" ] && break
    sleep 0.1
  done
  url=$(head -n 1 "$work/url")
  [ -n "$url" ] || { echo "serve_bench: the server did not start" >&2; exit 1; }
}

stop_server() {
  kill -TERM "$server_pid"
  wait "$server_pid" || true
  server_pid=
  : >"$work/url"
}

# Requests per second of wrk on one URL.
measure() {
  wrk -t"$wrk_threads" -c"$connections" -d"${duration}s" "$1" | awk '/^Requests\/sec:/ { print $2 }'
}

# One album: page rate, fixed-page rate of the same size, ratio.
bench_album() {
  local label=$1 folder=$2 query=$3
  start_server --folder "$folder" --template examples/album.html
  curl -sf "$url$query" -o "$work/page.html"
  local size page_rate fixed_rate
  size=$(wc -c <"$work/page.html")
  page_rate=$(measure "$url$query")
  stop_server
  start_server --folder "$folder" --template examples/album.html --fixed-page "$work/page.html"
  fixed_rate=$(measure "$url$query")
  stop_server
  awk -v l="$label" -v s="$size" -v p="$page_rate" -v f="$fixed_rate" \
    'BEGIN { printf "%-28s %7d B %12.0f %12.0f %7.1f%%\n", l, s, p, f, 100 * p / f }'
}

mkdir "$work/big"
for i in $(seq -w 1 10000); do : >"$work/big/picture $i.jpg"; done

echo "wrk: ${duration}s, $connections connections, $wrk_threads thread(s); server: $server_threads workers"
printf "%-28s %9s %12s %12s %8s\n" "album" "page" "page req/s" "fixed req/s" "ratio"
bench_album "sample (6 pictures)" examples/album ""
bench_album "generated (10,000 pictures)" "$work/big" "?file=5000"
