#!/bin/sh
# Benchmark of a built tarnwick against rpcclient: run.sh BINARY (as root).
# Runs in the end-to-end tests' sandbox; prints a markdown table and writes it
# to bench/results.md. BENCH_RUNS sets the number of timed runs of each
# program (default 40).
set -eu
if [ ! -x /usr/bin/time ]; then
  echo "$0: needs GNU time for peak memory: apt-get install time" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/../tests/e2e/sandboxed.sh" "$here/bench.py" "$@"
