#!/usr/bin/env bash
# Builds the Linux host when needed and serves the sample album over HTTP on
# 127.0.0.1. Open the URL it prints; stop it with Ctrl+C. Extra arguments go
# to `albummaker serve` (e.g. --port 0 for any free port).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --native >&2
cmake --preset release >/dev/null
cmake --build --preset release --target albummaker_host -j"$(nproc)" >&2
echo "Serving examples/album; open this URL in a browser (Ctrl+C stops the server):" >&2
exec build/release/albummaker serve --folder examples/album --template examples/album.html "$@"
