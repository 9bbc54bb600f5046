#!/usr/bin/env bash
# Requests per second of `albummaker serve` under wrk on loopback: album pages
# of the sample album and of a generated 10,000-picture album, each against
# the same server answering a fixed page of the same size (the server's own
# cost without rendering).
#
#   bench/serve_bench.sh [BUILD_DIR]     (default build/release)
#
# Environment: DURATION (seconds per wrk run, default 5), ROUNDS (runs per
# server, default 3; the median counts), CONNECTIONS (default 4),
# WRK_THREADS (default 1), SERVER_THREADS (default 8, as serve).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
duration=${DURATION:-5}
rounds=${ROUNDS:-3}
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
cleanup() {
  stop_servers
  rm -rf "$work"
}
trap cleanup EXIT

# Starts a server on a free port; prints its URL. Its pid goes to $work/pids.
start_server() {
  local out
  out=$(mktemp -p "$work")
  "$host" serve --port 0 --threads "$server_threads" "$@" >"$out" 2>/dev/null &
  echo $! >>"$work/pids"
  for _ in $(seq 1 100); do
    [ -s "$out" ] && break
    sleep 0.1
  done
  [ -s "$out" ] || { echo "serve_bench: the server did not start" >&2; exit 1; }
  head -n 1 "$out"
}

stop_servers() {
  [ -f "$work/pids" ] || return 0
  while read -r pid; do
    kill -TERM "$pid" 2>/dev/null || true
    # Started from a subshell, so not ours to wait for: watch it go.
    for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  done <"$work/pids"
  rm -f "$work/pids"
}

# Requests per second of wrk on one URL.
measure() {
  wrk -t"$wrk_threads" -c"$connections" -d"${duration}s" "$1" | awk '/^Requests\/sec:/ { print $2 }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# One album: the page server and the fixed-page server run side by side and
# are measured in turns, so a change in the machine's load hits both alike;
# the medians of the rounds and their ratio.
bench_album() {
  local label=$1 folder=$2 query=$3
  local page_url fixed_url size page_rates= fixed_rates=
  page_url=$(start_server --folder "$folder" --template examples/album.html)
  curl -sf "$page_url$query" -o "$work/page.html"
  size=$(wc -c <"$work/page.html")
  fixed_url=$(start_server --folder "$folder" --template examples/album.html --fixed-page "$work/page.html")
  for _ in $(seq 1 "$rounds"); do
    page_rates+="$(measure "$page_url$query") "
    fixed_rates+="$(measure "$fixed_url$query") "
  done
  stop_servers
  local page_rate fixed_rate
  page_rate=$(tr ' ' '\n' <<<"$page_rates" | grep . | median)
  fixed_rate=$(tr ' ' '\n' <<<"$fixed_rates" | grep . | median)
  awk -v l="$label" -v s="$size" -v p="$page_rate" -v f="$fixed_rate" \
    'BEGIN { printf "%-28s %7d B %12.0f %12.0f %7.1f%%\n", l, s, p, f, 100 * p / f }'
  echo "  rounds, page: $page_rates; fixed: $fixed_rates"
}

mkdir "$work/big"
for i in $(seq -w 1 10000); do : >"$work/big/picture $i.jpg"; done

echo "wrk: $rounds x ${duration}s, $connections connections, $wrk_threads thread(s); server: $server_threads workers"
printf "%-28s %9s %12s %12s %8s\n" "album" "page" "page req/s" "fixed req/s" "ratio"
bench_album "sample (6 pictures)" examples/album ""
bench_album "generated (10,000 pictures)" "$work/big" "?file=5000"
