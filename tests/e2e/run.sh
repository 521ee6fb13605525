#!/bin/sh
# End-to-end cases for a built tarnwick: run.sh BINARY (as root).
# The cases get their own network, mount and PID namespaces, so this
# machine's Samba setup is never touched and nothing outlives the run.
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
  env PYTHONDONTWRITEBYTECODE=1 python3 "$here/e2e.py" "$binary"
