#!/usr/bin/env bash
# Installs what is missing, builds, and runs the tool with the given arguments.
# With no arguments it shows this machine's server name and comment.
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
"$root/scripts/install-deps.sh" >&2
cmake -S "$root" -B "$root/build" -DTARNWICK_TESTS=OFF >/dev/null
cmake --build "$root/build" -j"$(nproc)" >/dev/null
exec "$root/build/tarnwick" "$@"
