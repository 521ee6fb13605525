#!/bin/sh
# Hostile, oversized and broken input for a built tarnwick, and valgrind
# memcheck runs: run-hardening.sh BINARY (as root). Like run.sh, the cases get
# their own network, mount and PID namespaces, so packet filters, listeners
# and servers of the run never reach this machine's own.
# An AddressSanitizer build works too; its memcheck cases then run plain.
set -eu
if [ $# -ne 1 ]; then
  echo "usage: $0 BINARY" >&2
  exit 2
fi
binary=$(readlink -f "$1")
[ -x "$binary" ] || { echo "$0: $1 is not an executable" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "$0: must run as root (it uses namespaces and bind mounts)" >&2; exit 2; }
here=$(cd "$(dirname "$0")" && pwd)
exec unshare --net --mount --pid --fork --mount-proc \
  env PYTHONDONTWRITEBYTECODE=1 python3 "$here/hardening.py" "$binary"
