#!/usr/bin/env bash
# Requests per second under wrk on loopback: Debian's nginx serving the
# sample album's second page as a static file (the yardstick), `albummaker
# serve` answering the same bytes as a fixed page (the server's own cost),
# `serve` rendering that page live, and a live page of a generated
# 10,000-picture album. The four are measured in turns within each round, so
# a change in the shared machine's load hits them alike; the medians of the
# rounds and the ratios to nginx are printed.
#
#   bench/serve_bench.sh [BUILD_DIR]     (default build/release)
#
# Environment: DURATION (seconds per wrk run, default 5), ROUNDS (default 3),
# CONNECTIONS (default 8), WRK_THREADS (default 1), SERVER_THREADS (serve's
# threads and nginx's worker processes; default the number of cores).
set -euo pipefail
cd "$(dirname "$0")/.."

build=${1:-build/release}
duration=${DURATION:-5}
rounds=${ROUNDS:-3}
connections=${CONNECTIONS:-8}
wrk_threads=${WRK_THREADS:-1}
server_threads=${SERVER_THREADS:-$(nproc)}
host="$build/albummaker"
nginx=/usr/sbin/nginx

for tool in wrk curl python3; do
  command -v "$tool" >/dev/null || { echo "serve_bench: $tool is not installed" >&2; exit 1; }
done
[ -x "$nginx" ] || { echo "serve_bench: $nginx is not installed (Debian nginx-light)" >&2; exit 1; }
if [ ! -x "$host" ]; then
  cmake --preset release >/dev/null
  cmake --build "$build" --target albummaker_host -j2 >&2
fi

work=$(mktemp -d)
# The servers start inside command substitutions, so they are not this
# shell's children: their pids go to a file, and the end watches them go.
cleanup() {
  if [ -f "$work/pids" ]; then
    while read -r pid; do kill -TERM "$pid" 2>/dev/null || true; done <"$work/pids"
    while read -r pid; do
      for _ in $(seq 1 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    done <"$work/pids"
  fi
  rm -rf "$work"
}
trap cleanup EXIT

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Starts a server on a free port; prints its URL.
start_serve() {
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

# nginx with a configuration of its own, serving $1 as /page.html; prints
# its URL for that page.
start_nginx() {
  local root=$work/nginx port
  mkdir -p "$root/site" "$root/tmp"
  cp "$1" "$root/site/page.html"
  # Started as root, nginx's workers run as another user, who must read it.
  chmod 755 "$work" "$root" "$root/site"
  chmod 644 "$root/site/page.html"
  port=$(free_port)
  cat >"$root/nginx.conf" <<EOF
worker_processes $server_threads;
daemon off;
pid $root/nginx.pid;
error_log $root/error.log;
events { worker_connections 1024; }
http {
  types { text/html html; }
  access_log off;
  client_body_temp_path $root/tmp/body;
  proxy_temp_path $root/tmp/proxy;
  fastcgi_temp_path $root/tmp/fastcgi;
  uwsgi_temp_path $root/tmp/uwsgi;
  scgi_temp_path $root/tmp/scgi;
  keepalive_requests 100;
  server {
    listen 127.0.0.1:$port;
    root $root/site;
  }
}
EOF
  "$nginx" -p "$root" -c "$root/nginx.conf" >/dev/null 2>&1 &
  echo $! >>"$work/pids"
  for _ in $(seq 1 100); do
    curl -sf "http://127.0.0.1:$port/page.html" -o /dev/null && break
    sleep 0.1
  done
  curl -sf "http://127.0.0.1:$port/page.html" -o /dev/null || {
    echo "serve_bench: nginx did not start" >&2
    tail -n 5 "$root/error.log" >&2 2>/dev/null || true
    exit 1
  }
  echo "http://127.0.0.1:$port/page.html"
}

# Requests per second of wrk on one URL.
measure() {
  wrk -t"$wrk_threads" -c"$connections" -d"${duration}s" "$1" | awk '/^Requests\/sec:/ { print $2 }'
}

median() { tr ' ' '\n' | grep . | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

mkdir "$work/big"
for i in $(seq -w 1 10000); do : >"$work/big/picture $i.jpg"; done

live_url=$(start_serve --folder examples/album --template examples/album.html)
curl -sf "${live_url}?file=1" -o "$work/page.html"
fixed_url=$(start_serve --folder examples/album --template examples/album.html --fixed-page "$work/page.html")
nginx_url=$(start_nginx "$work/page.html")
big_url=$(start_serve --folder "$work/big" --template examples/album.html)
curl -sf "$nginx_url" | cmp -s - "$work/page.html" || { echo "serve_bench: nginx serves another page" >&2; exit 1; }
curl -sf "${fixed_url}?file=1" | cmp -s - "$work/page.html" || { echo "serve_bench: the fixed page differs" >&2; exit 1; }

echo "wrk: $rounds rounds x ${duration}s, $connections connections, $wrk_threads thread(s);" \
     "serve: $server_threads threads; nginx: $server_threads workers; page: $(wc -c <"$work/page.html") B"
nginx_rates= fixed_rates= live_rates= big_rates=
for _ in $(seq 1 "$rounds"); do
  nginx_rates+="$(measure "$nginx_url") "
  fixed_rates+="$(measure "${fixed_url}?file=1") "
  live_rates+="$(measure "${live_url}?file=1") "
  big_rates+="$(measure "${big_url}?file=5000") "
done
nginx_rate=$(median <<<"$nginx_rates")
fixed_rate=$(median <<<"$fixed_rates")
live_rate=$(median <<<"$live_rates")
big_rate=$(median <<<"$big_rates")

printf "%-36s %12s %9s   %s\n" "what" "req/s" "of nginx" "rounds"
row() { awk -v l="$1" -v r="$2" -v n="$nginx_rate" -v all="$3" \
  'BEGIN { printf "%-36s %12.0f %9.2f   %s\n", l, r, r / n, all }'; }
row "nginx, static page" "$nginx_rate" "$nginx_rates"
row "serve, fixed page" "$fixed_rate" "$fixed_rates"
row "serve, sample album page (live)" "$live_rate" "$live_rates"
row "serve, 10,000-picture album (live)" "$big_rate" "$big_rates"
