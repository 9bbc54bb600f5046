#!/usr/bin/env bash
# Builds the Linux host and renders the first page of the sample album to
# standard output. Extra arguments go to `albummaker render` (e.g. --index 2).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --native >&2
cmake --preset release >/dev/null
cmake --build --preset release --target albummaker_host -j"$(nproc)" >&2
exec build/release/albummaker render --folder examples/album --template examples/album.html "$@"
