#!/bin/sh
# Runs a Python driver against a built tarnwick in its own network, mount and
# PID namespaces, so this machine's Samba setup is never touched, packet
# filters, listeners and servers never reach the machine's own, and nothing
# outlives the run: sandboxed.sh DRIVER.py BINARY (as root).
set -eu
if [ $# -ne 2 ]; then
  echo "usage: $0 DRIVER BINARY" >&2
  exit 2
fi
driver=$(readlink -f "$1")
binary=$(readlink -f "$2")
[ -x "$binary" ] || { echo "$0: $2 is not an executable" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "$0: must run as root (it uses namespaces and bind mounts)" >&2; exit 2; }
exec unshare --net --mount --pid --fork --mount-proc \
  env PYTHONDONTWRITEBYTECODE=1 ${BENCH_RUNS:+BENCH_RUNS=$BENCH_RUNS} python3 "$driver" "$binary"
