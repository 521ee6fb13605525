#!/bin/sh
# Benchmark of a built tarnwick against rpcclient: run.sh BINARY (as root).
# Runs in its own network, mount and PID namespaces, as the end-to-end
# tests do; prints a markdown table and writes it to bench/results.md.
# BENCH_RUNS sets the number of timed runs of each program (default 40).
set -eu
if [ $# -ne 1 ]; then
  echo "usage: $0 BINARY" >&2
  exit 2
fi
binary=$(readlink -f "$1")
[ -x "$binary" ] || { echo "$0: $1 is not an executable" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "$0: must run as root (it uses namespaces and bind mounts)" >&2; exit 2; }
if [ ! -x /usr/bin/time ]; then
  echo "$0: needs GNU time for peak memory: apt-get install time" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
exec unshare --net --mount --pid --fork --mount-proc \
  env PYTHONDONTWRITEBYTECODE=1 ${BENCH_RUNS:+BENCH_RUNS=$BENCH_RUNS} python3 "$here/bench.py" "$binary"
